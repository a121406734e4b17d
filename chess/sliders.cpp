#include "sliders.h"

#include "geometry.h"

// Evaluating the whole table in the compiler takes a few million steps, more than the default
// constant-evaluation budget; the build raises the budget for this file alone.

namespace chess {

namespace {

constexpr void fill(SliderTable& t, const SliderMagic& m, unsigned shift, Square s,
                    BitBoard (*slow)(Square, BitBoard)) {
    const std::uint64_t mask = ~m.not_mask;
    std::uint64_t subset = 0;
    do {  // every subset of the relevant mask, by the carry-rippler walk
        // An index past the table would be an out-of-bounds write, which stops compilation.
        t.attacks[m.offset + (((subset | m.not_mask) * m.multiplier) >> shift)] =
            slow(s, BitBoard{subset});
        subset = (subset - mask) & mask;
    } while (subset != 0);
}

constexpr SliderTable build() {
    SliderTable t{};
    for (unsigned s = 0; s < 64; ++s) {
        fill(t, ROOK_MAGICS[s], ROOK_SHIFT, Square(s), detail::slow_rook_attacks);
        fill(t, BISHOP_MAGICS[s], BISHOP_SHIFT, Square(s), detail::slow_bishop_attacks);
    }
    return t;
}

}  // namespace

constinit const SliderTable SLIDER_TABLE = build();

}  // namespace chess
