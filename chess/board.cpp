// The checkers and pins of a king, kept in the record and recomputed from nothing.
#include "board.h"

#include "attacks.h"

namespace chess {

CheckersAndPins slider_checkers_and_pins(const Board& board, Color c) {
    const Square k = board.king(c);
    const Color enemy = ~c;
    const BitBoard queens = board.colored_pieces(enemy, Piece::Queen);
    const BitBoard candidates =
        (bishop_rays(k) & (board.colored_pieces(enemy, Piece::Bishop) | queens)) |
        (rook_rays(k) & (board.colored_pieces(enemy, Piece::Rook) | queens));
    const BitBoard occ = board.occupied();
    CheckersAndPins out;
    for (const Square s : candidates) {
        const BitBoard blockers = occ & between(k, s);
        if (blockers.empty())
            out.checkers |= BitBoard::from(s);
        else if (!blockers.more_than_one())
            out.pinned |= blockers;
    }
    return out;
}

CheckersAndPins calculate_checkers_and_pins(const Board& board, Color c) {
    CheckersAndPins out = slider_checkers_and_pins(board, c);
    const Square k = board.king(c);
    out.checkers |= knight_attacks(k) & board.colored_pieces(~c, Piece::Knight);
    out.checkers |= pawn_attacks(c, k) & board.colored_pieces(~c, Piece::Pawn);
    return out;
}

}  // namespace chess
