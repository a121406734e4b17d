// Reading FEN text into a position record, a vector at a time.
//
// A caller that walks games hands over a new text on every call, and most of a short call is
// this reading, so it is built to cost few instructions and to take no branch that depends on
// the text: the field boundaries come from one comparison of the text's last 32 bytes, the
// placement a rank a lane (fen_placement.h), the clocks a word each. It reads every text of
// the usual shape whole; any other text (a sign or leading zeros in a clock, fewer than eight
// groups, a field longer than it expects, any text the reference refuses) goes to the
// reference reader, so the errors and their order have one author. The same code is compiled
// twice, for the baseline vector units and for AVX2, and the processor chooses once.
#include <bit>
#include <cstring>

#include "fen_paths.h"
#include "fen_placement.h"
#include "fen_rules.h"

namespace chess {

namespace {

// The counts of sets read a rank a lane, where counting bits is one instruction (once inlined
// into the function compiled for the target).
[[gnu::always_inline]] inline PlacementCounts counted(const PlacementSets& sets) {
    const std::uint64_t pawns = sets.pieces[index(Piece::Pawn)].bits;
    const std::uint64_t white = sets.colors[0].bits, black = sets.colors[1].bits;
    return {
        {std::uint64_t(std::popcount(white)), std::uint64_t(std::popcount(black))},
        {std::uint64_t(std::popcount(white & pawns)), std::uint64_t(std::popcount(black & pawns))}};
}

// The baseline vector units. AdvSIMD reads the placement a rank a lane; SSE2, which has no
// byte shuffle for it, reads it a character at a time, as the reference does.
struct Baseline {
    using Vectors = simd::Width16;
    static bool place(const char* text, std::size_t size, std::size_t end, PlacementSets& sets,
                      PlacementCounts& counts) {
#if defined(__aarch64__)
        return read_ranks<Vectors>(text, size, end, sets) && (counts = counted(sets), true);
#else
        (void)size;
        return read_placement_by_characters(text, text + end, sets, counts);
#endif
    }
};

#if defined(__x86_64__)
#define MORVEK_AVX2 "avx2,bmi,bmi2,popcnt"
struct Avx2 {
    using Vectors = simd::Width32;
    [[gnu::always_inline]] static inline bool place(const char* text, std::size_t size,
                                                    std::size_t end, PlacementSets& sets,
                                                    PlacementCounts& counts) {
        return read_ranks<Vectors>(text, size, end, sets) && (counts = counted(sets), true);
    }
};
#endif

// The spaces among the last 32 bytes of a text of at least 32, bit i for byte size - 32 + i.
template <class V>
[[gnu::always_inline]] inline std::uint64_t tail_spaces(const char* text, std::size_t size) {
    using Bytes = typename V::Bytes;
    std::uint64_t spaces = 0;
    for (unsigned at = 0; at < 32; at += sizeof(Bytes)) {
        Bytes b;
        simd::load(b, text + size - 32 + at);
        spaces |= V::mask(Bytes(b == ' ')) << at;
    }
    return spaces;
}

// A clock field [p, end) of one to eight ASCII digits, read as one word: the eight bytes that
// end the field (the caller's text has eight before `end`), those before the field cleared to
// stand as leading zeros. A sign, a longer field or anything but digits answers false.
[[gnu::always_inline]] inline bool read_digits(const char* p, const char* end, std::uint32_t max,
                                               std::uint32_t& value) {
    const std::size_t length = std::size_t(end - p);
    if (length - 1 >= 8) return false;
    std::uint64_t word;
    std::memcpy(&word, end - 8, 8);
    const std::uint64_t digits =
        (word ^ 0x3030303030303030ULL) & (~std::uint64_t(0) << (8 * (8 - length)));
    if ((digits & 0xF0F0F0F0F0F0F0F0ULL) |
        ((digits + 0x0606060606060606ULL) & 0x1010101010101010ULL))
        return false;
    // Pairs of digits, then pairs of pairs, then the two halves, the first byte the most
    // significant digit.
    std::uint64_t v = (digits * (10 * 256 + 1)) >> 8 & 0x00FF00FF00FF00FFULL;
    v = (v * (100 * 65536 + 1)) >> 16 & 0x0000FFFF0000FFFFULL;
    value = std::uint32_t((v * (10000 * (std::uint64_t(1) << 32) + 1)) >> 32);
    return value <= max;
}

// Where the fields of a text of the usual shape end: the five spaces, all among its last 32
// bytes, since the fields after the placement are short.
struct Fields {
    std::size_t ends[5];
};

template <class Path>
[[gnu::always_inline]] inline bool find_fields(const char* text, std::size_t size, Fields& f) {
    if (size < 32 || size > 96) return false;
    std::uint64_t spaces = tail_spaces<typename Path::Vectors>(text, size);
    for (std::size_t& end : f.ends) {
        end = size - 32 + std::size_t(std::countr_zero(spaces));  // past the text when missing
        spaces &= spaces - 1;
    }
    return !spaces && f.ends[4] < size;
}

// Everything after the placement and the side to move, in the board `b` that they fill; false
// sends the text to the reference.
template <class Path>
[[gnu::always_inline]] inline bool read_rest(const char* t, std::size_t size, const Fields& f,
                                             const PlacementCounts& counts, CastlingLetters letters,
                                             Board& b) {
    if (!side_is_sound(b, Color::White, counts.pieces[0], counts.pawns[0]) ||
        !side_is_sound(b, Color::Black, counts.pieces[1], counts.pawns[1]) ||
        !waiting_king_is_safe(b))
        return false;
    const CheckersAndPins cp = calculate_checkers_and_pins(b, b.side_to_move);
    const BitBoard beyond_first = cp.checkers & BitBoard{cp.checkers.bits - 1};
    if (beyond_first.more_than_one()) return false;  // three checkers or more
    b.checkers = cp.checkers;
    b.pinned = cp.pinned;

    const char *const field = t + f.ends[1] + 1, *const field_end = t + f.ends[2];
    auto rights = letters == CastlingLetters::Either || letters == CastlingLetters::Standard
                      ? read_usual_castling(field, field_end, b)
                      : std::nullopt;
    if (!rights) rights = read_castling_field(field, field_end, letters, b);
    if (!rights) return false;
    b.castle_rights = *rights;
    if (!read_en_passant(b, t + f.ends[2] + 1, t + f.ends[3])) return false;

    std::uint32_t halfmove, fullmove;
    if (!read_digits(t + f.ends[3] + 1, t + f.ends[4], 100, halfmove) ||
        !read_digits(t + f.ends[4] + 1, t + size, 65535, fullmove) || fullmove == 0)
        return false;
    b.halfmove_clock = std::uint8_t(halfmove);
    b.fullmove_number = std::uint16_t(fullmove);
    return true;
}

// A text of the usual shape read whole, any other by the reference (or, for the tests that
// hold each path to reading the usual texts itself, by nobody: an InvalidBoard that the
// reference did not name). The record is written once, never zeroed first, and handed back as
// the one result object, built in the caller's place.
template <class Path, bool Alone = false>
[[gnu::always_inline]] inline Result<Board, FenParseError> read(std::string_view text,
                                                                CastlingLetters letters) {
    const char* const t = text.data();
    const std::size_t size = text.size();
    Fields f;
    const bool found = find_fields<Path>(t, size, f);
    const char side = found ? t[f.ends[0] + 1] : 0;
    Result<Board, FenParseError> result(
        std::in_place, std::array<BitBoard, PIECE_KINDS>{}, std::array<BitBoard, 2>{},
        side == 'b' ? Color::Black : Color::White, std::array<CastleRights, 2>{}, std::nullopt,
        std::uint8_t(0), std::uint16_t(1), BitBoard{}, BitBoard{}, std::uint64_t(0));
    Board& b = result.value();
    PlacementCounts counts;
    PlacementSets sets{b.pieces, b.colors};
    if (!found || f.ends[1] != f.ends[0] + 2 || (side != 'w' && side != 'b') ||
        !Path::place(t, size, f.ends[0], sets, counts) ||
        !read_rest<Path>(t, size, f, counts, letters, b))
        result = Alone ? FenParseError::InvalidBoard : read_fen_reference(text, letters);
    return result;
}

Result<Board, FenParseError> read_baseline(std::string_view text, CastlingLetters letters) {
    return read<Baseline>(text, letters);
}

Result<Board, FenParseError> read_baseline_alone(std::string_view text, CastlingLetters letters) {
    return read<Baseline, true>(text, letters);
}

#if defined(__x86_64__)
[[gnu::target(MORVEK_AVX2)]] Result<Board, FenParseError> read_avx2(std::string_view text,
                                                                    CastlingLetters letters) {
    return read<Avx2>(text, letters);
}

[[gnu::target(MORVEK_AVX2)]] Result<Board, FenParseError> read_avx2_alone(std::string_view text,
                                                                          CastlingLetters letters) {
    return read<Avx2, true>(text, letters);
}

bool has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}
#endif

using Reader = Result<Board, FenParseError> (*)(std::string_view, CastlingLetters);

// Each path's reading, and its reading alone, by FenPath.
struct Way {
    Reader whole, alone;
};
constexpr Way WAYS[] = {
    {read_fen_reference, read_fen_reference},
    {read_baseline, read_baseline_alone},
#if defined(__x86_64__)
    {read_avx2, read_avx2_alone},
#endif
};

struct Paths {
    FenPath list[3];
    std::size_t count;
};

Paths find_paths() {
#if defined(__x86_64__)
    if (has_avx2()) return {{FenPath::Reference, FenPath::Baseline, FenPath::Avx2}, 3};
#endif
    return {{FenPath::Reference, FenPath::Baseline}, 2};
}

// Chosen while the library loads. Until then (another library's initialiser reading FEN) the
// reading is the reference's: slower, never wrong.
const Paths PATHS = find_paths();
const FenPath CHOSEN = PATHS.list[PATHS.count - 1];
Reader chosen_reader = read_fen_reference;
const bool READER_CHOSEN = (chosen_reader = WAYS[unsigned(CHOSEN)].whole, true);

}  // namespace

std::string_view path_name(FenPath path) {
    constexpr std::string_view names[] = {"reference", "baseline", "avx2"};
    return names[unsigned(path)];
}

std::span<const FenPath> fen_paths() { return {PATHS.list, PATHS.count}; }

FenPath chosen_fen_path() { return CHOSEN; }

Result<Board, FenParseError> read_fen_on(FenPath path, std::string_view text,
                                         CastlingLetters letters) {
    return WAYS[unsigned(path)].whole(text, letters);
}

std::optional<Board> read_usual_on(FenPath path, std::string_view text, CastlingLetters letters) {
    const auto read = WAYS[unsigned(path)].alone(text, letters);
    if (!read) return std::nullopt;
    return read.value();
}

Result<Board, FenParseError> from_fen(std::string_view text, bool file_letter_castling) {
    return chosen_reader(
        text, file_letter_castling ? CastlingLetters::RookFiles : CastlingLetters::Standard);
}

Result<Board, FenParseError> read_fen(std::string_view text, CastlingLetters castling) {
    return chosen_reader(text, castling);
}

}  // namespace chess
