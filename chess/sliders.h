// Bishop and rook attacks for any occupancy, by a fixed-shift multiplication lookup into one
// shared table, and the test whether a side attacks a square.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "board.h"
#include "types.h"

namespace chess {

// One lookup record: index = offset + (((occupancy | not_mask) * multiplier) >> shift).
// OR-ing the complement of the relevant mask (instead of AND-ing the mask) lets the
// irrelevant bits take part in the product, which gave smaller index ranges in our search.
struct SliderMagic {
    std::uint64_t not_mask;
    std::uint64_t multiplier;
    std::uint32_t offset;
};

constexpr unsigned ROOK_SHIFT = 64 - 12;
constexpr unsigned BISHOP_SHIFT = 64 - 9;

#include "slider_magics.inc"

struct SliderTable {
    std::array<BitBoard, SLIDER_TABLE_SIZE> attacks;
};

// Filled at compile time from the records above (constant-initialised, so no lookup can run
// before it is ready and none pays for a first-use check).
extern const SliderTable SLIDER_TABLE;

inline BitBoard rook_attacks(Square s, BitBoard occupied) {
    const SliderMagic& m = ROOK_MAGICS[index(s)];
    return SLIDER_TABLE.attacks[m.offset + (((occupied.bits | m.not_mask) * m.multiplier) >> ROOK_SHIFT)];
}

inline BitBoard bishop_attacks(Square s, BitBoard occupied) {
    const SliderMagic& m = BISHOP_MAGICS[index(s)];
    return SLIDER_TABLE.attacks[m.offset + (((occupied.bits | m.not_mask) * m.multiplier) >> BISHOP_SHIFT)];
}

inline BitBoard queen_attacks(Square s, BitBoard occupied) {
    return rook_attacks(s, occupied) | bishop_attacks(s, occupied);
}

// Whether a piece of `by` attacks `s`, with `occupied` standing in for the board's own
// occupancy as far as the sliders are concerned.
inline bool square_attacked(const Board& board, Square s, Color by, BitBoard occupied) {
    const BitBoard them = board.colors[index(by)];
    const BitBoard queens = board.pieces_of(Piece::Queen);
    if ((pawn_attacks(~by, s) & them & board.pieces_of(Piece::Pawn)).any()) return true;
    if ((knight_attacks(s) & them & board.pieces_of(Piece::Knight)).any()) return true;
    if ((king_attacks(s) & them & board.pieces_of(Piece::King)).any()) return true;
    const BitBoard diagonal = them & (board.pieces_of(Piece::Bishop) | queens);
    if ((bishop_rays(s) & diagonal).any() && (bishop_attacks(s, occupied) & diagonal).any()) return true;
    const BitBoard straight = them & (board.pieces_of(Piece::Rook) | queens);
    return (rook_rays(s) & straight).any() && (rook_attacks(s, occupied) & straight).any();
}

}  // namespace chess
