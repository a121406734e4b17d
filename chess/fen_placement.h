// Reading the placement field, the part of a FEN text that costs the most to read, in two ways:
// a character at a time (the reference's way, fen_reference.cpp), and a rank a lane.
//
// A rank a lane: each of the eight groups is loaded into a 64-bit lane of its own, two lanes
// to a 16-byte vector or four to a 32-byte one, and all lanes are worked on at once, with no
// step per character and no store. In a lane, the squares before each character (a digit's
// value, one for a letter) give the square it starts on; those starting squares, one bit each,
// say for every square of the rank which character covers it (the count of starts up to the
// square, less one), and one byte shuffle then brings each letter to its square and each
// digit's empty byte to every square it covers. The sets come out of comparisons, one bit a
// square. It needs a byte shuffle, which AVX2 and AdvSIMD have and SSE2 has not.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd.h"
#include "types.h"

namespace chess {

static_assert(std::endian::native == std::endian::little,
              "lanes are loaded as little-endian words");

// Where a reading puts the sets: the record's own.
struct PlacementSets {
    std::array<BitBoard, PIECE_KINDS>& pieces;
    std::array<BitBoard, 2>& colors;
};

// Each side's pieces and pawns, by colour.
struct PlacementCounts {
    std::array<std::uint64_t, 2> pieces, pawns;
};

// The reference's reading of the placement field [p, stop): the sets, their counts, and
// whether the field is one that the reference accepts (the counts are not judged here).
bool read_placement_by_characters(const char* p, const char* stop, PlacementSets& out,
                                  PlacementCounts& counts);

// Reads the placement field text[0, end) of exactly eight groups into `out`, in the vector
// width of V. Answers false for every field it does not read whole (fewer groups, a group of
// more than eight characters, a field longer than 64 bytes) and for every field the reference
// refuses, which then names the error; `out` holds the sets only when it answers true. The text
// must hold at least 32 bytes.
template <class V>
[[gnu::always_inline]] inline bool read_ranks(const char* text, std::size_t size, std::size_t end,
                                              PlacementSets& out) {
    using Bytes = typename V::Bytes;
    using Signed = typename V::Signed;
    using Quads = typename V::Quads;
    constexpr unsigned WIDTH = sizeof(Bytes), LANES = WIDTH / 8, VECTORS = 64 / WIDTH;
    if (end > 64 || end + 8 > size) return false;

    // The slashes, and every byte below '0' in the field (the space, controls, and the bytes
    // from 0x80, which are negative as signed): the field's first 64 bytes, read in blocks
    // that stay inside the text, the last ones overlapping when the text is short, their masks
    // moved into place (or, where that costs less, the blocks themselves).
    const Signed digit_zero = Signed{} + '0';
    std::uint64_t slashes = 0, low = 0;
    if constexpr (requires(Bytes(&v)[VECTORS]) { V::load64(v, text, size); }) {
        Bytes blocks[VECTORS], slashes_at[VECTORS], below[VECTORS];
        V::load64(blocks, text, size);
        for (unsigned k = 0; k < VECTORS; ++k) {
            slashes_at[k] = Bytes(blocks[k] == '/');
            below[k] = Bytes(digit_zero > Signed(blocks[k]));
        }
        slashes = V::mask64(slashes_at);
        low = V::mask64(below);
    } else {
        for (unsigned k = 0; k < VECTORS; ++k) {
            const std::size_t at = std::min<std::size_t>(k * WIDTH, size - WIDTH);
            Bytes b;
            simd::load(b, text + at);
            slashes |= V::mask(Bytes(b == '/')) << at;
            low |= V::mask(Bytes(digit_zero > Signed(b))) << at;
        }
    }
    const std::uint64_t field = end == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << end) - 1;
    slashes &= field;
    // Nine characters in a row without a slash: a group too long for its lane.
    const std::uint64_t others = ~slashes & field;
    std::uint64_t run = others & others >> 1;
    run &= run >> 2;
    run &= run >> 4;
    run &= others >> 8;
    if ((low & field) != slashes || run) return false;

    // Where the groups start: past each of exactly seven slashes.
    std::size_t start[8];
    start[0] = 0;
    std::uint64_t rest = slashes;
    for (unsigned r = 1; r < 8; ++r) {
        start[r] = std::size_t(std::countr_zero(rest)) + 1;  // 65 when there are fewer slashes
        rest &= rest - 1;
    }
    if (rest || start[7] > end) return false;

    Quads lanes[VECTORS];
    for (unsigned r = 0; r < 8; ++r) {
        std::uint64_t word;
        std::memcpy(&word, text + start[r], 8);
        lanes[r / LANES][r % LANES] = word;
    }
    // Per lane: the bits of each byte's square, the first byte's index (its 16-byte half's own
    // numbering), and the files up to each one.
    const Quads powers = Quads{} + 0x8040201008040201ULL, up_to = Quads{} + 0xFF7F3F1F0F070301ULL;
    Quads first_byte{}, last_before{};
    for (unsigned l = 0; l < LANES; ++l) {
        first_byte[l] = l % 2 ? 0x0808080808080808ULL : 0;
        last_before[l] = l % 2 ? 0x0707070707070707ULL : 0xFFFFFFFFFFFFFFFFULL;
    }
    Bytes kinds[PIECE_KINDS][VECTORS], black[VECTORS], occupied[VECTORS], whole[VECTORS];
    for (unsigned v = 0; v < VECTORS; ++v) {
        const Bytes b = Bytes(lanes[v]);
        // A group ends at the first byte below '0' of its lane: the slash or space after it.
        Quads ended = Quads(digit_zero > Signed(b));
        ended |= ended << 8;
        ended |= ended << 16;
        ended |= ended << 32;
        const Bytes in = ~Bytes(ended);
        const Bytes past_one = b - '1';
        const Bytes digit = Bytes(past_one <= 8);
        const Bytes squares = in & ((past_one & digit) + 1);
        // The squares up to each character, added up in the lane without carries: at most 72.
        Quads upto = Quads(squares);
        upto += upto << 8;
        upto += upto << 16;
        upto += upto << 32;
        whole[v] = Bytes(Bytes(upto) == 8);  // read at each lane's last byte
        const Bytes before = Bytes(upto) - squares;
        // Each character's starting square as a bit (none past the rank), summed up per lane:
        // in a group of eight squares no two characters start on one square. Then, at each
        // square, the count of starts up to it.
        Bytes bits, spread, covering, letters;
        Quads starts;
        V::shuffle(bits, Bytes(powers), before);
        V::lane_sums(starts, bits & in);
        V::shuffle(spread, Bytes(starts), Bytes(first_byte));
        V::byte_counts(covering, spread & Bytes(up_to));
        V::shuffle(letters, b & in & ~digit, covering + Bytes(last_before));  // digits leave 0
        const Bytes lower = letters | 0x20;
        for (unsigned k = 0; k < PIECE_KINDS; ++k)
            kinds[k][v] = Bytes(lower == Bytes{} + std::uint8_t(piece_char(Piece(k))));
        black[v] = Bytes(Signed(letters) > 'Z');
        occupied[v] = Bytes(letters != 0);
    }
    // The first group is rank 8: each set's bytes turned over.
    std::uint64_t known = 0;
    for (unsigned k = 0; k < PIECE_KINDS; ++k) {
        const std::uint64_t set = V::mask64(kinds[k]);
        known |= set;
        out.pieces[k] = BitBoard{__builtin_bswap64(set)};
    }
    const std::uint64_t dark = V::mask64(black);
    out.colors = {BitBoard{__builtin_bswap64(known & ~dark)}, BitBoard{__builtin_bswap64(dark)}};
    // Every group eight squares, and every square it fills a piece letter or empty.
    constexpr std::uint64_t LAST_BYTES = 0x8080808080808080ULL;
    return (V::mask64(whole) & LAST_BYTES) == LAST_BYTES && V::mask64(occupied) == known;
}

}  // namespace chess
