// Writing a position record as FEN text.
//
// Each rank is built as one 64-bit word of eight characters, one byte per file, with no branch
// on the pieces: the letters come from six bit planes turned into bytes, the digits of the
// empty runs from a table by the rank's occupancy, and the bytes of each run after its first
// are then squeezed out in three shifts (by 1, 2 and 4 bytes) whose byte masks the same table
// holds. Two ranks go through these steps side by side in one 16-byte vector: the compilers'
// vector extension, which both shipped targets' baselines (SSE2, AdvSIMD) carry out with no
// flag.
#include "fen.h"
#include "fen_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace chess {

namespace {

// Byte f of SPREAD[x] is bit f of x.
constexpr std::array<std::uint64_t, 256> make_spread() {
    std::array<std::uint64_t, 256> t{};
    for (unsigned x = 0; x < 256; ++x)
        for (unsigned f = 0; f < 8; ++f)
            if (x >> f & 1) t[x] |= std::uint64_t(1) << (8 * f);
    return t;
}
constexpr std::array<std::uint64_t, 256> SPREAD = make_spread();

struct RankText {
    std::uint64_t fixed;    // by file: 0x40 under a piece, the run's length at its first square
    std::uint64_t move[3];  // the bytes that move down by 1, 2, 4 places in the three shifts
    std::uint64_t length;   // characters of the rank's text
};

constexpr std::array<RankText, 256> make_rank_texts() {
    std::array<RankText, 256> t{};
    for (unsigned occ = 0; occ < 256; ++occ) {
        RankText& r = t[occ];
        unsigned dropped = 0;  // bytes squeezed out before this file
        unsigned shift_of[8] = {};
        bool kept[8] = {};
        for (unsigned f = 0; f < 8; ++f) {
            const bool piece = occ >> f & 1;
            const bool run_start = !piece && (f == 0 || (occ >> (f - 1) & 1));
            if (piece) r.fixed |= std::uint64_t(0x40) << (8 * f);
            if (run_start) {
                unsigned n = 0;
                while (f + n < 8 && !(occ >> (f + n) & 1)) ++n;
                r.fixed |= std::uint64_t('0' + n) << (8 * f);
            }
            kept[f] = piece || run_start;
            shift_of[f] = dropped;
            if (!kept[f]) ++dropped;
        }
        r.length = 8 - dropped;
        for (unsigned stage = 0; stage < 3; ++stage)
            for (unsigned f = 0; f < 8; ++f)
                if (kept[f] && (shift_of[f] >> stage & 1)) {
                    // Where the letter stands after the earlier stages.
                    const unsigned at = f - (shift_of[f] & ((1u << stage) - 1));
                    r.move[stage] |= std::uint64_t(0xFF) << (8 * at);
                }
    }
    return t;
}
constexpr std::array<RankText, 256> RANK_TEXTS = make_rank_texts();

// Writes the eight bytes of `w`, first byte first; the buffer must have room for all eight.
inline void store8(char* out, std::uint64_t w) {
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i) swapped |= ((w >> (8 * i)) & 0xFF) << (8 * (7 - i));
        w = swapped;
    }
    std::memcpy(out, &w, 8);
}

// The two digits of each number below 100, tens in the low byte.
constexpr std::array<std::uint64_t, 100> make_digit_pairs() {
    std::array<std::uint64_t, 100> t{};
    for (unsigned v = 0; v < 100; ++v) t[v] = ('0' + v / 10) | ('0' + v % 10) << 8;
    return t;
}
constexpr std::array<std::uint64_t, 100> DIGIT_PAIRS = make_digit_pairs();

// A number below 100000 in decimal, without leading zeros; writes eight bytes. All five
// digits are built, two at a time, and the leading zeros shifted out.
char* write_decimal(char* out, unsigned v) {
    const unsigned length = 1 + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000);
    const std::uint64_t w =
        ('0' + v / 10000) | DIGIT_PAIRS[v / 100 % 100] << 8 | DIGIT_PAIRS[v % 100] << 24;
    store8(out, w >> (8 * (5 - length)));
    return out + length;
}

// The halfmove clock, 0 to 100, whole from a table: the text in the low bytes, the length in
// the top one.
constexpr std::array<std::uint64_t, 101> make_clock_texts() {
    std::array<std::uint64_t, 101> t{};
    for (unsigned v = 0; v <= 100; ++v) {
        const unsigned length = 1 + (v >= 10) + (v >= 100);
        std::uint64_t text = 0;
        for (unsigned i = 0, rest = v; i < length; ++i, rest /= 10)
            text |= std::uint64_t('0' + rest % 10) << (8 * (length - 1 - i));
        t[v] = text | std::uint64_t(length) << 56;
    }
    return t;
}
constexpr std::array<std::uint64_t, 101> CLOCK_TEXTS = make_clock_texts();

char* write_clock(char* out, std::uint8_t v) {
    // Every board holds at most 100; the bound keeps a broken one inside the table.
    const std::uint64_t t = CLOCK_TEXTS[std::min<unsigned>(v, 100)];
    store8(out, t);
    return out + (t >> 56);
}

using Bytes = std::uint8_t __attribute__((vector_size(16)));
using Halves = std::uint16_t __attribute__((vector_size(16)));
using Singles = std::uint32_t __attribute__((vector_size(16)));
using Quads = std::uint64_t __attribute__((vector_size(16)));

// The lanes of the low halves of `a` and `b` taken in turn (or of the high halves): the
// steps of a transpose.
template <class V, bool High, std::size_t... I>
V interleaved(V a, V b, std::index_sequence<I...>) {
    constexpr int n = int(sizeof(V) / sizeof(a[0])), start = High ? n / 2 : 0;
    return __builtin_shufflevector(a, b, (I % 2 ? n + start + int(I / 2) : start + int(I / 2))...);
}
template <class V>
V interleave_low(V a, V b) {
    return interleaved<V, false>(a, b, std::make_index_sequence<sizeof(V) / sizeof(a[0])>());
}
template <class V>
V interleave_high(V a, V b) {
    return interleaved<V, true>(a, b, std::make_index_sequence<sizeof(V) / sizeof(a[0])>());
}

// Bit planes of the letters' ASCII codes: P 0x50, N 0x4E, B 0x42, R 0x52, Q 0x51, K 0x4B,
// 0x20 more for Black, and the 0x40 of every letter from the rank's table.
using Planes = std::array<std::uint64_t, 6>;
Planes letter_planes(const Board& b) {
    const std::uint64_t pawns = b.pieces[0].bits, knights = b.pieces[1].bits,
                        bishops = b.pieces[2].bits, rooks = b.pieces[3].bits,
                        queens = b.pieces[4].bits, kings = b.pieces[5].bits;
    return {
        queens | kings,                     // 0x01
        knights | bishops | rooks | kings,  // 0x02
        knights,                            // 0x04
        knights | kings,                    // 0x08
        pawns | rooks | queens,             // 0x10
        b.colors[1].bits,                   // 0x20
    };
}

// Ranks 2q and 2q + 1 in the two halves of pair q. The planes' bytes are first transposed into
// one word a rank, holding the rank's byte of each plane (plane k in byte k), in three rounds of
// interleaving; then each word, read as an 8 x 8 matrix of bits, is transposed in three rounds
// of bit swaps, so that byte f holds file f's bit of each plane.
std::array<Quads, 4> letter_pairs(const Board& b) {
    const Planes p = letter_planes(b);
    const Bytes u01 = interleave_low(Bytes(Quads{p[0], 0}), Bytes(Quads{p[1], 0})),
                u23 = interleave_low(Bytes(Quads{p[2], 0}), Bytes(Quads{p[3], 0})),
                u45 = interleave_low(Bytes(Quads{p[4], 0}), Bytes(Quads{p[5], 0}));
    const Halves v0 = interleave_low(Halves(u01), Halves(u23)),
                 v1 = interleave_high(Halves(u01), Halves(u23)),
                 v2 = interleave_low(Halves(u45), Halves{}),
                 v3 = interleave_high(Halves(u45), Halves{});
    std::array<Quads, 4> pairs = {Quads(interleave_low(Singles(v0), Singles(v2))),
                                  Quads(interleave_high(Singles(v0), Singles(v2))),
                                  Quads(interleave_low(Singles(v1), Singles(v3))),
                                  Quads(interleave_high(Singles(v1), Singles(v3)))};
    // Each round swaps the bits of `mask` with those `shift` places above them.
    const auto swap = [](Quads x, std::uint64_t mask, unsigned shift) {
        const Quads t = (x ^ (x >> shift)) & mask;
        return x ^ t ^ (t << shift);
    };
    for (Quads& x : pairs) {
        x = swap(x, 0x00AA00AA00AA00AAULL, 7);
        x = swap(x, 0x0000CCCC0000CCCCULL, 14);
        x = swap(x, 0x00000000F0F0F0F0ULL, 28);
    }
    return pairs;
}

// One rank's letters from the planes, by table: byte f of SPREAD[x] is bit f of x.
std::uint64_t letters_of_rank(const Planes& planes, unsigned rank) {
    std::uint64_t out = 0;
    for (unsigned k = 0; k < planes.size(); ++k)
        out |= SPREAD[(planes[k] >> (8 * rank)) & 0xFF] << k;
    return out;
}

// The fields after the placement: side to move, castling rights, en passant target, clocks;
// the castling field and the move number by the caller's `rights` and `number` (each writes
// at a position and returns the end).
template <class Rights, class Number>
char* write_fields(char* out, const Board& b, Rights&& rights, Number&& number) {
    out[0] = ' ';
    out[1] = color_char(b.side_to_move);
    out[2] = ' ';
    out = rights(out + 3);
    *out++ = ' ';
    if (const auto ep = b.en_passant_squares())
        out = write_square(out, ep->target);
    else
        *out++ = '-';
    *out++ = ' ';
    out = write_clock(out, b.halfmove_clock);
    *out++ = ' ';
    return number(out);
}

char* write_fields(char* out, const Board& b, CastlingLetters castling) {
    return write_fields(
        out, b, [&](char* at) { return write_castling_field(at, b.castle_rights, castling); },
        [&](char* at) { return write_decimal(at, b.fullmove_number); });
}

}  // namespace

RankLetters rank_letters(const Board& board) {
    const std::array<Quads, 4> pairs = letter_pairs(board);
    RankLetters out;
    std::memcpy(out.data(), pairs.data(), sizeof out);
    return out;
}

RankLetters rank_letters_by_table(const Board& board) {
    const Planes planes = letter_planes(board);
    RankLetters out{};
    for (unsigned rank = 0; rank < 8; ++rank) out[rank] = letters_of_rank(planes, rank);
    return out;
}

char* write_fen(char* out, const Board& b, CastlingLetters castling) {
    const std::array<Quads, 4> letters = letter_pairs(b);
    const std::uint64_t occ = b.occupied().bits;
    for (int q = 3; q >= 0; --q) {
        const RankText& low = RANK_TEXTS[(occ >> (16 * q)) & 0xFF];
        const RankText& high = RANK_TEXTS[(occ >> (16 * q + 8)) & 0xFF];
        Quads w = letters[q] | Quads{low.fixed, high.fixed};
        for (unsigned stage = 0; stage < 3; ++stage) {
            const Quads move = {low.move[stage], high.move[stage]};
            w = (w & ~move) | ((w & move) >> (8u << stage));
        }
        store8(out, w[1]);
        out += high.length;
        *out++ = '/';
        store8(out, w[0]);
        out += low.length;
        *out = '/';
        out += q != 0;
    }
    return write_fields(out, b, castling);
}

char* FenWriter::write(char* out, const Board& b, CastlingLetters castling) {
    // The squares whose piece or colour differs from the board last written, and from them
    // the ranks to write again (bit 8r for rank r).
    std::uint64_t changed = (b.colors[0].bits ^ seen_[6]) | (b.colors[1].bits ^ seen_[7]);
    for (unsigned k = 0; k < PIECE_KINDS; ++k) changed |= b.pieces[k].bits ^ seen_[k];
    if (changed) {
        changed |= changed >> 4;
        changed |= changed >> 2;
        changed |= changed >> 1;
        changed &= 0x0101010101010101ULL;
        const Planes planes = letter_planes(b);
        const std::uint64_t occ = b.occupied().bits;
        for (; changed; changed &= changed - 1) {
            const unsigned rank = unsigned(std::countr_zero(changed)) / 8;
            const RankText& text = RANK_TEXTS[(occ >> (8 * rank)) & 0xFF];
            std::uint64_t w = letters_of_rank(planes, rank) | text.fixed;
            for (unsigned stage = 0; stage < 3; ++stage)
                w = (w & ~text.move[stage]) | ((w & text.move[stage]) >> (8u << stage));
            ranks_[rank] = w;
            lengths_[rank] = std::uint8_t(text.length);
        }
        for (unsigned k = 0; k < PIECE_KINDS; ++k) seen_[k] = b.pieces[k].bits;
        seen_[6] = b.colors[0].bits;
        seen_[7] = b.colors[1].bits;
    }
    for (int rank = 7; rank >= 0; --rank) {
        store8(out, ranks_[rank]);
        out += lengths_[rank];
        *out++ = '/';
    }
    // The castling field and the move number change seldom: their texts are kept too.
    const auto rights = [&](char* at) {
        // The rights and the letters as one number: per right, its file and whether it is held.
        const auto slot = [](const std::optional<File>& right) {
            return right ? 8u | index(*right) : 0u;
        };
        std::uint32_t key = std::uint32_t(castling) << 16;
        for (unsigned c = 0; c < 2; ++c)
            key |= (slot(b.castle_rights[c].short_) | slot(b.castle_rights[c].long_) << 4)
                   << (8 * c);
        if (key != rights_.key) {
            char text[8];
            rights_ = {key, 0,
                       std::uint8_t(write_castling_field(text, b.castle_rights, castling) - text)};
            std::memcpy(&rights_.text, text, sizeof text);
        }
        std::memcpy(at, &rights_.text, 8);
        return at + rights_.length;
    };
    const auto number = [&](char* at) {
        if (b.fullmove_number != number_.value) {
            char text[8];
            number_ = {b.fullmove_number, 0,
                       std::uint8_t(write_decimal(text, b.fullmove_number) - text)};
            std::memcpy(&number_.text, text, sizeof text);
        }
        std::memcpy(at, &number_.text, 8);
        return at + number_.length;
    };
    return write_fields(out - 1, b, rights, number);
}

std::string to_fen(const Board& board, bool file_letter_castling) {
    char buffer[MAX_FEN_LENGTH];
    const char* end =
        write_fen(buffer, board,
                  file_letter_castling ? CastlingLetters::RookFiles : CastlingLetters::Standard);
    return std::string(static_cast<const char*>(buffer), end);
}

}  // namespace chess
