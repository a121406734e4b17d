// The pieces of a position, and the attackers of one square.
#include <optional>

#include "operation.h"
#include "see/see.h"

namespace morvek {

namespace {

// A colour's name or its FEN letter.
std::optional<chess::Color> read_color(std::string_view text) {
    for (const chess::Color c : {chess::Color::White, chess::Color::Black})
        if (text == chess::color_name(c) || (text.size() == 1 && text[0] == chess::color_char(c)))
            return c;
    return std::nullopt;
}

}  // namespace

Placement piece_list(const chess::Board& board) {
    Placement placement;
    for (const chess::Square s : board.occupied()) {
        const std::optional<chess::Piece> kind = board.piece_on(s);
        const std::optional<chess::Color> color = board.color_on(s);
        if (!kind || !color) chess::invariant_failure("occupied square without a piece");
        placement.pieces[placement.size++] = PlacedPiece{s, *kind, *color};
    }
    return placement;
}

Answer<SquareNames> attackers(const chess::Board& board, std::string_view sq,
                              std::string_view color) {
    const std::optional<chess::Square> square = chess::parse_square(sq);
    if (!square) return Refusal(message({"bad square: ", sq}));
    const std::optional<chess::Color> side = read_color(color);
    if (!side) return Refusal(message({"bad color: ", color, " (use white|black)"}));
    return SquareNames{chess::attackers_to(board, *square, board.occupied()) &
                       board.colors[chess::index(*side)]};
}

}  // namespace morvek
