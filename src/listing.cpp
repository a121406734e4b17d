// The pieces of a position, and the attackers of one square, as plain texts.
#include <optional>
#include <string>
#include <vector>

#include "operation.h"
#include "see/see.h"

namespace morvek {

namespace {

ShortText square_text(chess::Square s) {
    return ShortText::written([&](char* out) { return chess::write_square(out, s); });
}

ShortText text_of(std::string_view word) {
    ShortText t;
    t.size = std::uint8_t(word.size());
    word.copy(t.chars, word.size());
    return t;
}

// A colour's name or its FEN letter.
std::optional<chess::Color> read_color(std::string_view text) {
    for (const chess::Color c : {chess::Color::White, chess::Color::Black})
        if (text == chess::color_name(c) || (text.size() == 1 && text[0] == chess::color_char(c))) return c;
    return std::nullopt;
}

}  // namespace

std::vector<SquareTriple> piece_list(const chess::Board& board) {
    std::vector<SquareTriple> pieces;
    pieces.reserve(std::size_t(board.occupied().count()));
    for (const chess::Square s : board.occupied()) {
        const std::optional<chess::Piece> kind = board.piece_on(s);
        const std::optional<chess::Color> color = board.color_on(s);
        if (!kind || !color) chess::invariant_failure("occupied square without a piece");
        const char letter = chess::piece_letter(*kind);
        pieces.push_back({square_text(s), text_of(std::string_view(&letter, 1)), text_of(chess::color_name(*color))});
    }
    return pieces;
}

Answer<std::vector<ShortText>> attackers(const chess::Board& board, std::string_view sq,
                                           std::string_view color) {
    const std::optional<chess::Square> square = chess::parse_square(sq);
    if (!square) return Refusal(message({"bad square: ", sq}));
    const std::optional<chess::Color> side = read_color(color);
    if (!side) return Refusal(message({"bad color: ", color, " (use white|black)"}));
    const chess::BitBoard found =
        chess::attackers_to(board, *square, board.occupied()) & board.colors[chess::index(*side)];
    std::vector<ShortText> squares;
    squares.reserve(std::size_t(found.count()));
    for (const chess::Square s : found) squares.push_back(square_text(s));
    return squares;
}

}  // namespace morvek
