// The position record, and the checkers and pins of a king.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "castling.h"
#include "geometry.h"
#include "invariant.h"
#include "types.h"

namespace chess {

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
    // The position key (keys.h), kept only where something reads it: reading FEN leaves it 0,
    // and only play_keeping_key and null_move_keeping_key carry it from move to move.
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

    constexpr bool is_castling(const Move& m) const {
        return is_castling_move(pieces_of(Piece::King),
                                colors[0].has(m.from) ? colors[0] : colors[1], m);
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

}  // namespace chess
