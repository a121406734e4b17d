// The position record, its FEN form, and the checkers and pins of a king.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "geometry.h"
#include "invariant.h"
#include "types.h"

namespace chess {

// Each right names the file of the rook it castles with, on the colour's back rank.
struct CastleRights {
    // `short` and `long` are C++ keywords, hence the trailing underscore.
    std::optional<File> short_;  // towards the h-file
    std::optional<File> long_;   // towards the a-file

    constexpr bool any() const { return short_.has_value() || long_.has_value(); }
    constexpr bool operator==(const CastleRights&) const = default;
};

// The squares of a castling move, which the core holds as the king's move onto its own rook.
// King and rook end on the g- and f-files (short) or the c- and d-files (long) whatever files
// they start on, so either may already stand on its target, or on the other's.
struct Castling {
    Square king_from, king_to, rook_from, rook_to;
    bool short_side;  // towards the h-file
};

constexpr Castling castling(Color c, Square king, Square rook) {
    const bool short_side = index(file_of(rook)) > index(file_of(king));
    const Rank back = back_rank(c);
    return {king, make_square(short_side ? File::G : File::C, back), rook,
            make_square(short_side ? File::F : File::D, back), short_side};
}

// The squares of en passant on `file` for the side to move: where the capturing pawn lands,
// where the pawn that has just made its double push stands, and where that push started.
struct EnPassant {
    Square target, victim, origin;
};

constexpr EnPassant en_passant_on(Color to_move, File file) {
    return {make_square(file, relative_rank(to_move, Rank::Sixth)),
            make_square(file, relative_rank(to_move, Rank::Fifth)),
            make_square(file, relative_rank(to_move, Rank::Seventh))};
}

struct Board {
    std::array<BitBoard, PIECE_KINDS> pieces{};
    std::array<BitBoard, 2> colors{};
    Color side_to_move = Color::White;
    std::array<CastleRights, 2> castle_rights{};
    std::optional<File> en_passant;
    std::uint8_t halfmove_clock = 0;
    std::uint16_t fullmove_number = 1;
    BitBoard checkers;
    BitBoard pinned;
    std::uint64_t hash = 0;

    constexpr BitBoard occupied() const { return colors[0] | colors[1]; }
    constexpr BitBoard pieces_of(Piece p) const { return pieces[index(p)]; }
    constexpr BitBoard colored_pieces(Color c, Piece p) const {
        return colors[index(c)] & pieces[index(p)];
    }
    constexpr BitBoard us() const { return colors[index(side_to_move)]; }
    constexpr BitBoard them() const { return colors[index(~side_to_move)]; }

    constexpr std::optional<Piece> piece_on(Square s) const {
        for (unsigned p = 0; p < PIECE_KINDS; ++p)
            if (pieces[p].has(s)) return Piece(p);
        return std::nullopt;
    }
    constexpr std::optional<Color> color_on(Square s) const {
        if (colors[0].has(s)) return Color::White;
        if (colors[1].has(s)) return Color::Black;
        return std::nullopt;
    }
    Square king(Color c) const {
        const BitBoard k = colored_pieces(c, Piece::King);
        if (k.empty()) invariant_failure("No king was found.");
        return k.lowest();
    }

    constexpr std::optional<EnPassant> en_passant_squares() const {
        if (!en_passant) return std::nullopt;
        return en_passant_on(side_to_move, *en_passant);
    }

    // A king moving onto a piece of its own side is castling, the only form the core knows.
    constexpr bool is_castling(const Move& m) const {
        if (!pieces_of(Piece::King).has(m.from)) return false;
        const BitBoard own = colors[0].has(m.from) ? colors[0] : colors[1];
        return own.has(m.to);
    }
    // The castling of `c` with the rook its right names on `rook_file`.
    Castling castling_with(Color c, File rook_file) const {
        return castling(c, king(c), make_square(rook_file, back_rank(c)));
    }

    bool operator==(const Board&) const = default;
};
static_assert(std::is_trivially_copyable_v<Board>);

struct CheckersAndPins {
    BitBoard checkers;
    BitBoard pinned;
};

// Checkers of the king of `c` and the pieces (of either colour) alone between it and an
// enemy slider.
CheckersAndPins calculate_checkers_and_pins(const Board& board, Color c);

// Only the slider part: checks from the other side's bishops, rooks and queens and the
// single pieces that stand between them and the king of `c`.
CheckersAndPins slider_checkers_and_pins(const Board& board, Color c);

Result<Board, FenParseError> from_fen(std::string_view text, bool file_letter_castling);

// The reading every caller of the module gets: standard castling letters first and, only
// when the castling field is what they refused, rook-file letters. The result (the board, or
// the second reading's error) is that of calling from_fen once or twice that way.
Result<Board, FenParseError> read_fen(std::string_view text);

// Whether K, Q, k, q name the rights held exactly as every reader takes them: each short
// right on the h-file and each long one on the a-file. Otherwise only rook-file letters say
// which rook castles, and a FEN meant to be read again must use them.
bool standard_letters_name_rights(const Board& board);

// The standard form writes castling as K, Q, k, q; the file-letter form as rook files.
std::string to_fen(const Board& board, bool file_letter_castling = false);
// Writes into a buffer of at least MAX_FEN_LENGTH bytes; returns the end position.
constexpr std::size_t MAX_FEN_LENGTH = 96;
char* write_fen(char* out, const Board& board, bool file_letter_castling = false);

// The position key computed from nothing but the position (the incremental one must match it).
std::uint64_t compute_hash(const Board& board);

// Hash keys: a fixed table of pseudo-random words from a splitmix64 stream with our own seed.
namespace keys {

struct KeyTable {
    std::uint64_t piece[2][PIECE_KINDS][64];
    std::uint64_t castle[2][8];
    std::uint64_t en_passant[8];
    std::uint64_t black;
};

constexpr KeyTable make_keys() {
    KeyTable k{};
    std::uint64_t state = 0x4d4f5256454b3031ULL;
    auto next = [&state] {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    for (auto& by_color : k.piece)
        for (auto& by_kind : by_color)
            for (auto& key : by_kind) key = next();
    for (auto& by_color : k.castle)
        for (auto& key : by_color) key = next();
    for (auto& key : k.en_passant) key = next();
    k.black = next();
    return k;
}

inline constexpr KeyTable KEYS = make_keys();

constexpr std::uint64_t piece(Color c, Piece p, Square s) { return KEYS.piece[index(c)][index(p)][index(s)]; }
constexpr std::uint64_t castle(Color c, File rook_file) { return KEYS.castle[index(c)][index(rook_file)]; }
constexpr std::uint64_t en_passant(File f) { return KEYS.en_passant[index(f)]; }
constexpr std::uint64_t black_to_move() { return KEYS.black; }

}  // namespace keys

}  // namespace chess
