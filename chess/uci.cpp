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
    const Square k = board.king(us);
    const Rank back = back_rank(us);
    Square to = *to_read;
    if (*from == make_square(File::E, back) && k == *from) {
        const CastleRights& rights = board.castle_rights[index(us)];
        if (to == make_square(File::G, back) && rights.short_) to = make_square(*rights.short_, back);
        if (to == make_square(File::C, back) && rights.long_) to = make_square(*rights.long_, back);
    }
    return Move{*from, to, promotion};
}

// The g- and c-file texts are written only where parse_uci_move reads them back as castling:
// a king on its e-file square. Anywhere else the king's step to g1 or c1 may be a legal move of
// its own, so castling keeps the king-onto-rook form, which the reader takes as it is.
Move display_uci_move(const Board& board, const Move& move) {
    const Color us = board.side_to_move;
    const Rank back = back_rank(us);
    if (move.from != make_square(File::E, back) || board.king(us) != move.from) return move;
    const CastleRights& rights = board.castle_rights[index(us)];
    Move out = move;
    if (rights.short_ && out.to == make_square(*rights.short_, back)) out.to = make_square(File::G, back);
    if (rights.long_ && out.to == make_square(*rights.long_, back)) out.to = make_square(File::C, back);
    return out;
}

std::string uci_move_text(const Board& board, const Move& move) {
    char buffer[8];
    const char* end = write_uci_move(buffer, board, move);
    return std::string(static_cast<const char*>(buffer), end);
}

}  // namespace chess
