// Bishop and rook attacks for any occupancy, by a fixed-shift multiplication lookup into one
// shared table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
    return SLIDER_TABLE
        .attacks[m.offset + (((occupied.bits | m.not_mask) * m.multiplier) >> ROOK_SHIFT)];
}

inline BitBoard bishop_attacks(Square s, BitBoard occupied) {
    const SliderMagic& m = BISHOP_MAGICS[index(s)];
    return SLIDER_TABLE
        .attacks[m.offset + (((occupied.bits | m.not_mask) * m.multiplier) >> BISHOP_SHIFT)];
}

inline BitBoard queen_attacks(Square s, BitBoard occupied) {
    return rook_attacks(s, occupied) | bishop_attacks(s, occupied);
}

}  // namespace chess
