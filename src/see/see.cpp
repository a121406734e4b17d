#include "see/see.h"

#include <algorithm>
#include <optional>

#include "chess/attacks.h"
#include "chess/geometry.h"
#include "chess/invariant.h"

namespace chess {

namespace {

// A board holds at most 32 pieces, so the move and its recaptures never need more entries.
constexpr unsigned GAIN_LIST_SIZE = 32;
using GainList = std::array<std::int32_t, GAIN_LIST_SIZE>;

struct Attacker {
    Square square;
    Piece piece;
};

// Among equal values the lowest square wins, which keeps the exchange independent of the
// order the piece kinds are stored in.
Attacker least_valuable_attacker(const Board& board, BitBoard candidates) {
    std::optional<Attacker> best;
    for (unsigned p = 0; p < PIECE_KINDS; ++p) {
        const BitBoard of_kind = candidates & board.pieces[p];
        if (of_kind.empty()) continue;
        const Attacker found{of_kind.lowest(), Piece(p)};
        const std::int32_t value = exchange_value(found.piece);
        if (!best || value < exchange_value(best->piece) ||
            (value == exchange_value(best->piece) && found.square < best->square))
            best = found;
    }
    if (!best) invariant_failure("attacker square must be occupied");
    return *best;
}

// The king may capture only when no piece of the answering side would then reach the square,
// counting sliders that the king's departure uncovers.
bool king_may_capture(const Board& board, Square king, Square to, BitBoard occupied,
                      Color answering) {
    const BitBoard defenders =
        attackers_to(board, to, occupied.without(king)) & board.colors[index(answering)];
    return defenders.without(king).empty();
}

// What the move itself takes. En passant takes the pawn beside the destination, and that
// pawn's square must stop blocking the file for the recaptures.
std::int32_t first_gain(const Board& board, Piece mover, Color color, Square to,
                        BitBoard& occupied) {
    if (occupied.has(to)) return exchange_value(*board.piece_on(to));
    if (mover != Piece::Pawn || !board.en_passant) return 0;
    const EnPassant ep = en_passant_on(color, *board.en_passant);
    if (to != ep.target) return 0;
    occupied = occupied.without(ep.victim);
    return exchange_value(Piece::Pawn);
}

// Each side may stop instead of capturing: entry k-1 becomes the better of stopping before
// capture k and letting the rest of the exchange happen.
void back_propagate(GainList& gain, unsigned depth) {
    for (unsigned k = depth; k > 0; --k) gain[k - 1] = -std::max(-gain[k - 1], gain[k]);
}

}  // namespace

BitBoard attackers_to(const Board& board, Square square, BitBoard occupied) {
    return Attackers{board, square, occupied, occupied}.all();
}

std::int32_t see(const Board& board, Square from, Square to) {
    const std::optional<Piece> mover = board.piece_on(from);
    if (!mover) invariant_failure("SEE: no piece on from-square");
    const std::optional<Color> mover_color = board.color_on(from);
    if (!mover_color) invariant_failure("SEE: from-square has no color");

    GainList gain;
    BitBoard occupied = board.occupied();
    gain[0] = first_gain(board, *mover, *mover_color, to, occupied);
    occupied = occupied.without(from);

    Piece on_target = *mover;
    Color side = ~*mover_color;
    std::int32_t previous = gain[0];
    unsigned depth = 0;
    for (;;) {
        const BitBoard side_pieces = occupied & board.colors[index(side)];
        const BitBoard candidates = Attackers{board, to, side_pieces, occupied}.all();
        if (candidates.empty()) break;
        const Attacker attacker = least_valuable_attacker(board, candidates);
        if (attacker.piece == Piece::King &&
            !king_may_capture(board, attacker.square, to, occupied, ~side))
            break;
        if (depth == GAIN_LIST_SIZE - 1) invariant_failure("SEE: gain list is full");
        ++depth;
        gain[depth] = exchange_value(on_target) - previous;
        // No cut-off here even when this capture looks hopeless: the answer to it may cost
        // the other side more, and only the back-propagation below weighs each side's
        // choice to stop against everything that follows.
        previous = gain[depth];
        occupied = occupied.without(attacker.square);
        on_target = attacker.piece;
        side = ~side;
    }
    back_propagate(gain, depth);
    return gain[0];
}

std::int32_t see_of_move(const Board& board, const Move& move) {
    if (board.is_castling(move)) return 0;
    return see(board, move.from, move.to);
}

}  // namespace chess
