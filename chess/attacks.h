// Who attacks a square under a given occupancy: the one question behind king safety, castling,
// the board checks of FEN reading and the exchange evaluation.
#pragma once

#include "board.h"
#include "geometry.h"
#include "sliders.h"
#include "types.h"

namespace chess {

// The pieces in `among` that attack `s` when exactly the squares of `occupied` block the
// sliders, kind by kind, so that a yes-or-no question can stop at the first kind that answers.
// A slider lookup is skipped when no slider of its kind in `among` stands on a ray through
// `s`, which is the common case.
struct Attackers {
    const Board& b;
    Square s;
    BitBoard among, occupied;

    // A pawn attacks `s` from where a pawn of the other colour on `s` would attack.
    BitBoard pawns() const {
        const BitBoard from = (b.colors[index(Color::Black)] & pawn_attacks(Color::White, s)) |
                              (b.colors[index(Color::White)] & pawn_attacks(Color::Black, s));
        return b.pieces_of(Piece::Pawn) & from & among;
    }
    BitBoard knights() const { return b.pieces_of(Piece::Knight) & knight_attacks(s) & among; }
    BitBoard kings() const { return b.pieces_of(Piece::King) & king_attacks(s) & among; }
    BitBoard diagonal() const {
        const BitBoard sliders = (b.pieces_of(Piece::Bishop) | b.pieces_of(Piece::Queen)) & among;
        return (bishop_rays(s) & sliders).any() ? bishop_attacks(s, occupied) & sliders : EMPTY;
    }
    BitBoard straight() const {
        const BitBoard sliders = (b.pieces_of(Piece::Rook) | b.pieces_of(Piece::Queen)) & among;
        return (rook_rays(s) & sliders).any() ? rook_attacks(s, occupied) & sliders : EMPTY;
    }
    BitBoard all() const { return pawns() | knights() | kings() | diagonal() | straight(); }
    bool any() const {
        return pawns().any() || knights().any() || kings().any() || diagonal().any() ||
               straight().any();
    }
};

// The squares that the pawns, knights and king of `by` attack. Nothing blocks them, so one set
// answers for every square asked about under any occupancy.
inline BitBoard step_attacks(const Board& board, Color by) {
    const BitBoard pawns = board.colored_pieces(by, Piece::Pawn);
    const BitBoard ahead =
        by == Color::White ? BitBoard{pawns.bits << 8} : BitBoard{pawns.bits >> 8};
    BitBoard out{ahead.without(file_set(File::A)).bits >> 1 | ahead.without(file_set(File::H)).bits
                                                                  << 1};
    for (const Square s : board.colored_pieces(by, Piece::Knight)) out |= knight_attacks(s);
    for (const Square s : board.colored_pieces(by, Piece::King)) out |= king_attacks(s);
    return out;
}

// Whether a piece of `by` attacks `s`, with `occupied` standing in for the board's own
// occupancy as far as the sliders are concerned.
inline bool square_attacked(const Board& board, Square s, Color by, BitBoard occupied) {
    return Attackers{board, s, board.colors[index(by)], occupied}.any();
}

}  // namespace chess
