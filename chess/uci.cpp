#include "uci.h"

namespace chess {

namespace {

std::optional<Piece> promotion_byte(char c, bool& ok) {
    ok = true;
    switch (c) {
        case 'n': return Piece::Knight;
        case 'b': return Piece::Bishop;
        case 'r': return Piece::Rook;
        case 'q': return Piece::Queen;
        case 'p':  // read, but a pawn or king promotion is no promotion
        case 'k': return std::nullopt;
        default: ok = false; return std::nullopt;
    }
}

constexpr bool continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

Result<Move, MoveParseError> parse_uci_move(const Board& board, std::string_view text) {
    if (text.size() < 4) return MoveParseError{};
    const std::optional<Square> from = parse_square(text.substr(0, 2));
    const std::optional<Square> to_read = parse_square(text.substr(2, 2));
    if (!from || !to_read) return MoveParseError{};

    std::optional<Piece> promotion;
    // Only byte 4 decides; when it starts a multi-byte character the rest is ignored.
    if (text.size() > 4 && !(text.size() > 5 && continuation_byte(text[5]))) {
        bool ok;
        promotion = promotion_byte(text[4], ok);
        if (!ok) return MoveParseError{};
    }

    const Color us = board.side_to_move;
    if (board.king(us) != *from) return Move{*from, *to_read, promotion};
    return Move{*from,
                castling_destination_read(board.castle_rights[index(us)], us, *from, *to_read),
                promotion};
}

Move display_uci_move(const Board& board, const Move& move) {
    if (!board.is_castling(move)) return move;
    return Move{move.from, castling_destination_written(board.side_to_move, move.from, move.to),
                move.promotion};
}

std::string uci_move_text(const Board& board, const Move& move) {
    char buffer[8];
    const char* end = write_uci_move(buffer, board, move);
    return std::string(static_cast<const char*>(buffer), end);
}

}  // namespace chess
