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

// A king on its e-file square: the one place where its two-square text means castling.
bool king_at_home(const Board& board, Square from) {
    const Color us = board.side_to_move;
    return from == make_square(File::E, back_rank(us)) && board.king(us) == from;
}

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

    // The king's two-square text from its e-file square names the castling whose king target
    // it is.
    Square to = *to_read;
    const Color us = board.side_to_move;
    if (king_at_home(board, *from)) {
        const CastleRights& rights = board.castle_rights[index(us)];
        for (const std::optional<File> rook : {rights.short_, rights.long_}) {
            if (!rook) continue;
            const Castling c = board.castling_with(us, *rook);
            if (c.king_to == *to_read) to = c.rook_from;
        }
    }
    return Move{*from, to, promotion};
}

// The g- and c-file texts are written only where parse_uci_move reads them back as castling:
// a king on its e-file square. Anywhere else the king's step to g1 or c1 may be a legal move of
// its own, so castling keeps the king-onto-rook form, which the reader takes as it is.
Move display_uci_move(const Board& board, const Move& move) {
    if (!king_at_home(board, move.from) || !board.is_castling(move)) return move;
    return Move{move.from, castling(board.side_to_move, move.from, move.to).king_to, move.promotion};
}

std::string uci_move_text(const Board& board, const Move& move) {
    char buffer[8];
    const char* end = write_uci_move(buffer, board, move);
    return std::string(static_cast<const char*>(buffer), end);
}

}  // namespace chess
