// The reference reading of FEN text: one character at a time, every rule spelled out in the
// order the errors are named. It reads any text of any length, and it is what the faster
// reading (fen_read.cpp) hands over to whenever a text is not one it reads whole, and what the
// differential tests and fuzz target hold every faster path to, board for board and error for
// error.
//
// It takes no data-dependent branch per character: the branch predictor cannot learn a text it
// has never seen. The record itself is written once, field by field, never zeroed first and
// never copied: g++ turns the zeroing of an object this size into `rep stos`, which costs more
// here than reading a whole field.
#include "fen_paths.h"
#include "fen_placement.h"

#include <array>
#include <cstring>

#include "fen_rules.h"

namespace chess {

namespace {

// What each character of the placement field does, all in one table entry so that each
// character costs one load. The low fields are counters that every character adds to a
// running total: the squares it fills (a digit's value, 1 for a piece letter), slashes,
// characters the field may not hold, and each side's pieces and pawns, which spares the
// soundness tests counting bits afterwards. The top byte names the set the character's square
// goes into. Characters the field may not hold are only counted, and judged at the end.
constexpr std::uint8_t NO_PIECE = 2 * PIECE_KINDS;  // digits and anything that is not a letter
constexpr std::uint8_t GROUP_END = NO_PIECE + 1;    // the slash
constexpr unsigned PLACEMENT_SETS = GROUP_END + 1;

// The longest field without zeros that can pass: eight ranks of single characters and seven
// slashes. On a field no longer than this no counter can carry into the next one.
constexpr std::size_t MAX_PLACEMENT = 64 + 7;

enum Counter : unsigned {
    SQUARES = 0,  // 12 bits: at most 9 a character
    SLASHES = 12,
    BAD = 19,
    WHITE_PIECES = 26,
    BLACK_PIECES = 33,
    WHITE_PAWNS = 40,
    BLACK_PAWNS = 47,
    SET = 56,  // not a counter: read from the entry, never from the total
};
constexpr std::uint64_t COUNTER_MASK = 0x7F;  // each counter after SQUARES holds at most 71

constexpr std::uint64_t counter(std::uint64_t total, Counter c) {
    return total >> c & COUNTER_MASK;
}

constexpr std::array<std::uint64_t, 256> make_placement_entries() {
    std::array<std::uint64_t, 256> entry{};
    for (unsigned ch = 0; ch < 256; ++ch)
        entry[ch] = std::uint64_t(NO_PIECE) << SET |
                    std::uint64_t(!(ch == '/' || (ch >= '0' && ch <= '9'))) << BAD;
    for (unsigned d = 0; d <= 9; ++d) entry['0' + d] |= d;
    entry[unsigned('/')] = std::uint64_t(GROUP_END) << SET | std::uint64_t(1) << SLASHES;
    for (std::uint8_t p = 0; p < PIECE_KINDS; ++p)
        for (const unsigned c : {0u, 1u}) {
            const unsigned ch = std::uint8_t(fen_piece_char(Color(c), Piece(p)));
            std::uint64_t e = std::uint64_t(c * PIECE_KINDS + p) << SET | 1;
            e |= std::uint64_t(1) << (c ? BLACK_PIECES : WHITE_PIECES);
            if (p == index(Piece::Pawn)) e |= std::uint64_t(1) << (c ? BLACK_PAWNS : WHITE_PAWNS);
            entry[ch] = e;
        }
    return entry;
}

constexpr std::array<std::uint64_t, 256> PLACEMENT = make_placement_entries();

// Rank 1 becomes rank 8 and rank 8 rank 1: the bytes of the set in reverse order.
constexpr std::uint64_t turned_over(std::uint64_t set) {
#if defined(__GNUC__)
    return __builtin_bswap64(set);
#else
    set = (set & 0x00FF00FF00FF00FFULL) << 8 | (set >> 8 & 0x00FF00FF00FF00FFULL);
    set = (set & 0x0000FFFF0000FFFFULL) << 16 | (set >> 16 & 0x0000FFFF0000FFFFULL);
    return set << 32 | set >> 32;
#endif
}

// A load instead of a shift: the baseline's shift by a variable count takes three
// instructions.
constexpr std::array<std::uint64_t, 64> SQUARE_BITS = [] {
    std::array<std::uint64_t, 64> t{};
    for (unsigned sq = 0; sq < 64; ++sq) t[sq] = std::uint64_t(1) << sq;
    return t;
}();

// Copied rather than value-initialised: g++ zeroes an array this size with `rep stos`.
constexpr std::uint64_t NO_SETS[PLACEMENT_SETS] = {};

// The placement field as read, before anything is known about the rest of the text.
struct Placement {
    std::array<BitBoard, PIECE_KINDS> pieces;
    std::array<BitBoard, 2> colors;
    std::uint64_t counts;  // the counters' totals
    const char* stop;      // the space or the end of the text that ended the field
    bool ok;
};

// Reads the first field [p, stop), in one pass from the left. The count of
// squares filled so far is the square itself, as if the first group were rank 1; the sets are
// turned over at the end, which puts the first group on rank 8, and fewer than eight groups
// fill the ranks from rank 1 upward, so the pieces then move down by the missing ranks. The
// square counter runs through the groups
// without resetting: every group is eight squares exactly when the slashes stand at squares
// 8, 16, ... of the count and the counter ends at eight times the number of groups. An empty
// group, a file past h, a ninth group and a stray character all fail that one test, and they
// all are the same error.
Placement read_placement(const char* p, const char* const stop) {
    std::uint64_t sets[PLACEMENT_SETS];
    std::memcpy(sets, NO_SETS, sizeof sets);
    std::uint64_t counts = 0;
    bool short_enough = std::size_t(stop - p) <= MAX_PLACEMENT;
    const char* last = stop;
    char kept[MAX_PLACEMENT];
    if (!short_enough) {
        // A zero fills no square and may stand anywhere, so a longer field can still pass;
        // without its zeros it cannot be longer. Rare enough to pay for a copy.
        std::size_t n = 0;
        for (const char* q = p; q != stop && n <= MAX_PLACEMENT; ++q)
            if (*q != '0') {
                if (n < MAX_PLACEMENT) kept[n] = *q;
                ++n;
            }
        short_enough = n <= MAX_PLACEMENT;
        p = kept;
        last = kept + (short_enough ? n : 0);
    }
    // Unrolled: the loop's own count and test cost as much as a character's work.
    if (short_enough)
#pragma GCC unroll 4
        for (; p != last; ++p) {
            const std::uint64_t e = PLACEMENT[std::uint8_t(*p)];
            // A square counted past the board only ever belongs to a failing text, so it is
            // folded back onto the board until the final test refuses it.
            sets[e >> SET] |= SQUARE_BITS[counts & 63];
            counts += e;
        }
    Placement out;
    out.stop = stop;
    out.counts = counts;
    const std::uint64_t squares = counts & 0xFFF, slashes = counter(counts, SLASHES);
    // The squares of counts 8, 16, ..., 8 * slashes: one each, so a misplaced slash cannot
    // hide. No slash can stand past count 64 in a text that passes.
    const std::uint64_t group_ends =
        0x0101010101010100ULL & ((std::uint64_t(2) << (8 * (slashes & 7))) - 1);
    out.ok = short_enough && !counter(counts, BAD) && slashes <= 7 &&
             squares == 8 * (slashes + 1) && sets[GROUP_END] == group_ends;
    const unsigned shift = unsigned(7 - (slashes & 7)) * 8;
    // Turned over once a finished set, not once a set of the loop.
    std::uint64_t white = 0, black = 0;
    for (unsigned k = 0; k < PIECE_KINDS; ++k) {
        out.pieces[k] = BitBoard{turned_over(sets[k] | sets[PIECE_KINDS + k]) >> shift};
        white |= sets[k];
        black |= sets[PIECE_KINDS + k];
    }
    out.colors = {BitBoard{turned_over(white) >> shift}, BitBoard{turned_over(black) >> shift}};
    return out;
}

// The pieces and pawns of each side come counted from the placement.
bool board_is_sound(const Board& b, std::uint64_t counts) {
    return side_is_sound(b, Color::White, counter(counts, WHITE_PIECES),
                         counter(counts, WHITE_PAWNS)) &&
           side_is_sound(b, Color::Black, counter(counts, BLACK_PIECES),
                         counter(counts, BLACK_PAWNS)) &&
           waiting_king_is_safe(b);
}

// The end of the field that starts at `p`: the next space or the end of the text.
const char* field_end(const char* p, const char* end) {
    while (p != end && *p != ' ') ++p;  // fields after the first are a few bytes long
    return p;
}

// A clock field from `p`: an optional "+" and one or more ASCII digits, no larger than `max`.
// Returns the end of the field, or null when the field is not such a number.
const char* read_number(const char* p, const char* end, unsigned max, unsigned& value) {
    if (p != end && *p == '+') ++p;
    const char* const digits = p;
    unsigned v = 0;
    for (; p != end && *p != ' '; ++p) {
        const unsigned d = unsigned(std::uint8_t(*p)) - '0';
        if (d > 9) return nullptr;
        v = v * 10 + d;
        if (v > max) return nullptr;
    }
    if (p == digits) return nullptr;
    value = v;
    return p;
}

// The steps of the reading in their order; the first to fail names the error. Every return
// hands back the one result object, so that it is built in the caller's place.
Result<Board, FenParseError> read(std::string_view text, CastlingLetters letters) {
    using E = FenParseError;
    const char* const end = text.data() + text.size();
    const void* space = std::memchr(text.data(), ' ', text.size());
    const Placement placed =
        read_placement(text.data(), space ? static_cast<const char*>(space) : end);
    const char* p = placed.stop;
    // The side to move: one character, alone in its field.
    const bool has_side = p != end;
    const char side = has_side && p + 1 != end ? p[1] : '\0';
    const bool side_ok = (side == 'w' || side == 'b') && (p + 2 == end || p[2] == ' ');
    Result<Board, E> result = Board{placed.pieces,
                                    placed.colors,
                                    side == 'b' ? Color::Black : Color::White,
                                    {},
                                    std::nullopt,
                                    0,
                                    1,
                                    {},
                                    {},
                                    0};
    Board& b = result.value();
    const auto first_error = [&]() -> std::optional<E> {
        if (!placed.ok) return E::InvalidBoard;
        if (!has_side) return E::MissingField;
        if (!side_ok) return E::InvalidSideToMove;
        if (!board_is_sound(b, placed.counts)) return E::InvalidBoard;
        const CheckersAndPins cp = calculate_checkers_and_pins(b, b.side_to_move);
        if (cp.checkers.count() > 2) return E::InvalidBoard;
        b.checkers = cp.checkers;
        b.pinned = cp.pinned;

        // A field follows wherever the one before ended at a space.
        p += 2;
        if (p == end) return E::MissingField;
        const char* q = field_end(++p, end);
        // The module's reading tries the other letters only when the field is refused; what a
        // second reading of the whole text would repeat up to this field is already done.
        // The outermost rooks are found on the back ranks as written: a placement of fewer
        // ranks is read as the letters say.
        const bool all_ranks = counter(placed.counts, SLASHES) == 7;
        const auto rights = read_castling_field(
            p, q,
            letters == CastlingLetters::Outermost && !all_ranks ? CastlingLetters::Either : letters,
            b);
        if (!rights) return E::InvalidCastlingRights;
        b.castle_rights = *rights;

        if (q == end) return E::MissingField;
        p = q + 1;
        q = field_end(p, end);
        if (!read_en_passant(b, p, q)) return E::InvalidEnPassant;

        if (q == end) return E::MissingField;
        unsigned halfmove, fullmove;
        q = read_number(q + 1, end, 100, halfmove);
        if (!q) return E::InvalidHalfMoveClock;
        b.halfmove_clock = std::uint8_t(halfmove);

        if (q == end) return E::MissingField;
        q = read_number(q + 1, end, 65535, fullmove);
        if (!q || fullmove == 0) return E::InvalidFullmoveNumber;
        b.fullmove_number = std::uint16_t(fullmove);

        if (q != end) return E::TooManyFields;
        return std::nullopt;
    };
    if (const auto error = first_error()) {
        result = *error;
        return result;
    }
    return result;
}

}  // namespace

bool read_placement_by_characters(const char* p, const char* stop, PlacementSets& out,
                                  PlacementCounts& counts) {
    const Placement placed = read_placement(p, stop);
    out.pieces = placed.pieces;
    out.colors = placed.colors;
    counts = {{counter(placed.counts, WHITE_PIECES), counter(placed.counts, BLACK_PIECES)},
              {counter(placed.counts, WHITE_PAWNS), counter(placed.counts, BLACK_PAWNS)}};
    return placed.ok;
}

Result<Board, FenParseError> read_fen_reference(std::string_view text, CastlingLetters letters) {
    return read(text, letters);
}

}  // namespace chess
