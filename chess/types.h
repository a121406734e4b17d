// Small chess value types: sides, kinds, files, ranks, squares, square sets and moves.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace chess {

enum class Color : std::uint8_t { White, Black };
enum class Piece : std::uint8_t { Pawn, Knight, Bishop, Rook, Queen, King };
enum class File : std::uint8_t { A, B, C, D, E, F, G, H };
enum class Rank : std::uint8_t { First, Second, Third, Fourth, Fifth, Sixth, Seventh, Eighth };

// clang-format off
enum class Square : std::uint8_t {
    A1, B1, C1, D1, E1, F1, G1, H1,
    A2, B2, C2, D2, E2, F2, G2, H2,
    A3, B3, C3, D3, E3, F3, G3, H3,
    A4, B4, C4, D4, E4, F4, G4, H4,
    A5, B5, C5, D5, E5, F5, G5, H5,
    A6, B6, C6, D6, E6, F6, G6, H6,
    A7, B7, C7, D7, E7, F7, G7, H7,
    A8, B8, C8, D8, E8, F8, G8, H8,
};
// clang-format on

constexpr int PIECE_KINDS = 6;

constexpr unsigned index(Color c) { return unsigned(c); }
constexpr unsigned index(Piece p) { return unsigned(p); }
constexpr unsigned index(File f) { return unsigned(f); }
constexpr unsigned index(Rank r) { return unsigned(r); }
constexpr unsigned index(Square s) { return unsigned(s); }

constexpr Color operator~(Color c) { return Color(index(c) ^ 1); }
constexpr Square make_square(File f, Rank r) { return Square(index(r) * 8 + index(f)); }
constexpr File file_of(Square s) { return File(index(s) & 7); }
constexpr Rank rank_of(Square s) { return Rank(index(s) >> 3); }

// The rank a colour calls its own n-th rank (0-based): White's second rank is Black's seventh.
constexpr Rank relative_rank(Color c, Rank r) {
    return Rank(c == Color::White ? index(r) : 7 - index(r));
}
constexpr Rank back_rank(Color c) { return relative_rank(c, Rank::First); }

constexpr char color_char(Color c) { return c == Color::White ? 'w' : 'b'; }
constexpr std::string_view color_name(Color c) { return c == Color::White ? "white" : "black"; }
// The lower-case letter of UCI promotions and of Black's pieces in FEN.
constexpr char piece_char(Piece p) { return "pnbrqk"[index(p)]; }
// The upper-case letter of SAN, of piece lists and of White's pieces in FEN.
constexpr char piece_letter(Piece p) { return char(piece_char(p) - 'a' + 'A'); }
constexpr char fen_piece_char(Color c, Piece p) {
    return c == Color::White ? piece_letter(p) : piece_char(p);
}
constexpr char file_char(File f) { return char('a' + index(f)); }
constexpr char rank_char(Rank r) { return char('1' + index(r)); }

// Exactly a lower-case file letter followed by a rank digit; anything else (including any
// multi-byte character) is refused.
constexpr std::optional<Square> parse_square(std::string_view text) {
    if (text.size() != 2) return std::nullopt;
    const char f = text[0], r = text[1];
    if (f < 'a' || f > 'h' || r < '1' || r > '8') return std::nullopt;
    return make_square(File(f - 'a'), Rank(r - '1'));
}

// Writes the two characters of a square; returns the position after them.
inline char* write_square(char* out, Square s) {
    out[0] = file_char(file_of(s));
    out[1] = rank_char(rank_of(s));
    return out + 2;
}

// Without a population-count instruction in the target baseline (plain x86-64), std::popcount
// becomes a library call; the bit-parallel sum is several times cheaper than that call.
constexpr int popcount(std::uint64_t x) {
#if defined(__POPCNT__) || defined(__aarch64__)
    return std::popcount(x);
#else
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return int((x * 0x0101010101010101ULL) >> 56);
#endif
}

struct BitBoard {
    std::uint64_t bits = 0;

    static constexpr BitBoard from(Square s) { return BitBoard{std::uint64_t(1) << index(s)}; }
    constexpr bool has(Square s) const { return (bits >> index(s)) & 1; }
    constexpr bool empty() const { return bits == 0; }
    constexpr bool any() const { return bits != 0; }
    constexpr int count() const { return popcount(bits); }
    constexpr bool more_than_one() const { return (bits & (bits - 1)) != 0; }
    // Only meaningful when the set is not empty.
    constexpr Square lowest() const { return Square(std::countr_zero(bits)); }

    constexpr BitBoard operator|(BitBoard o) const { return {bits | o.bits}; }
    constexpr BitBoard operator&(BitBoard o) const { return {bits & o.bits}; }
    constexpr BitBoard operator^(BitBoard o) const { return {bits ^ o.bits}; }
    constexpr BitBoard operator~() const { return {~bits}; }
    constexpr BitBoard without(BitBoard o) const { return {bits & ~o.bits}; }
    constexpr BitBoard operator|(Square s) const { return *this | from(s); }
    constexpr BitBoard operator^(Square s) const { return *this ^ from(s); }
    constexpr BitBoard without(Square s) const { return without(from(s)); }
    constexpr BitBoard& operator|=(BitBoard o) {
        bits |= o.bits;
        return *this;
    }
    constexpr BitBoard& operator&=(BitBoard o) {
        bits &= o.bits;
        return *this;
    }
    constexpr BitBoard& operator^=(BitBoard o) {
        bits ^= o.bits;
        return *this;
    }
    constexpr BitBoard& operator^=(Square s) {
        bits ^= from(s).bits;
        return *this;
    }
    constexpr bool operator==(const BitBoard&) const = default;

    struct Iter {
        std::uint64_t rest;
        constexpr Square operator*() const { return Square(std::countr_zero(rest)); }
        constexpr Iter& operator++() {
            rest &= rest - 1;
            return *this;
        }
        constexpr bool operator!=(const Iter& o) const { return rest != o.rest; }
    };
    // Squares in increasing index order: every listing in the system follows it.
    constexpr Iter begin() const { return {bits}; }
    constexpr Iter end() const { return {0}; }
};
using BitBoardIter = BitBoard::Iter;

constexpr BitBoard EMPTY{0};
constexpr BitBoard file_set(File f) { return {std::uint64_t(0x0101010101010101) << index(f)}; }
constexpr BitBoard rank_set(Rank r) { return {std::uint64_t(0xFF) << (8 * index(r))}; }
constexpr BitBoard BACK_RANKS = rank_set(Rank::First) | rank_set(Rank::Eighth);

struct Move {
    Square from = Square::A1;
    Square to = Square::A1;
    std::optional<Piece> promotion;

    constexpr bool operator==(const Move&) const = default;
};

// Writes the core's own move text (squares as the core holds them); returns the end position.
// The buffer needs room for five characters.
inline char* write_move(char* out, const Move& m) {
    out = write_square(out, m.from);
    out = write_square(out, m.to);
    if (m.promotion) *out++ = piece_char(*m.promotion);
    return out;
}

enum class FenParseError : std::uint8_t {
    InvalidBoard,
    InvalidSideToMove,
    InvalidCastlingRights,
    InvalidEnPassant,
    InvalidHalfMoveClock,
    InvalidFullmoveNumber,
    MissingField,
    TooManyFields,
};
struct MoveParseError {};
struct IllegalMoveError {};

// The name an error goes by in the module's messages ("bad FEN: InvalidCastlingRights"):
// user-facing text, spelled as the enumerator so that the two cannot drift apart.
constexpr std::string_view error_name(FenParseError e) {
    constexpr std::string_view names[] = {
        "InvalidBoard",     "InvalidSideToMove",    "InvalidCastlingRights",
        "InvalidEnPassant", "InvalidHalfMoveClock", "InvalidFullmoveNumber",
        "MissingField",     "TooManyFields",
    };
    return names[unsigned(e)];
}
constexpr std::string_view error_name(MoveParseError) { return "MoveParseError"; }
constexpr std::string_view error_name(IllegalMoveError) { return "IllegalMoveError"; }

// A value or the error that prevented it (the core never throws for bad input).
template <class T, class E>
class [[nodiscard]] Result {
  public:
    constexpr Result(const T& value) : value_(value), ok_(true) {}
    constexpr Result(const E& error) : error_(error), ok_(false) {}
    // A value built in place from its fields, with no copy of a finished one.
    template <class... Fields>
    constexpr explicit Result(std::in_place_t, Fields&&... fields)
        : value_{std::forward<Fields>(fields)...}, ok_(true) {}
    constexpr bool ok() const { return ok_; }
    constexpr explicit operator bool() const { return ok_; }
    constexpr const T& value() const { return value_; }
    constexpr T& value() { return value_; }
    constexpr const E& error() const { return error_; }

  private:
    T value_{};
    E error_{};
    bool ok_;
};

}  // namespace chess
