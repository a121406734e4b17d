#include "sliders.h"

#include "geometry.h"

namespace chess {

namespace {

// The relevant occupancy: the empty-board attacks without the squares on the board's edge
// that the ray would only reach last (a blocker there changes nothing).
BitBoard relevant(const SliderMagic& m) { return ~BitBoard{m.not_mask}; }

void fill(SliderTables& t, const SliderMagic& m, unsigned shift, Square s,
          BitBoard (*slow)(Square, BitBoard)) {
    const std::uint64_t mask = relevant(m).bits;
    std::uint64_t subset = 0;
    do {  // every subset of the mask, by the carry-rippler walk
        const std::size_t i = m.offset + (((subset | m.not_mask) * m.multiplier) >> shift);
        if (i >= SLIDER_TABLE_SIZE) invariant_failure("slider table index out of range");
        t.attacks[i] = slow(s, BitBoard{subset});
        subset = (subset - mask) & mask;
    } while (subset != 0);
}

bool build(SliderTables& t) {
    for (unsigned s = 0; s < 64; ++s) {
        fill(t, ROOK_MAGICS[s], ROOK_SHIFT, Square(s), detail::slow_rook_attacks);
        fill(t, BISHOP_MAGICS[s], BISHOP_SHIFT, Square(s), detail::slow_bishop_attacks);
    }
    return true;
}

}  // namespace

const SliderTables& slider_tables() {
    // Zero-initialised static storage, filled once under the guard of `built`.
    static SliderTables tables;
    static const bool built = build(tables);
    (void)built;
    return tables;
}

}  // namespace chess
