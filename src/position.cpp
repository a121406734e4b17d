// Loading the FEN argument, and the answer read straight off the loaded position.
#include <string>
#include <string_view>

#include "operation.h"

namespace morvek {

Answer<chess::Board> parse_board(std::string_view fen) {
    auto board = chess::from_fen(fen, false);
    // Only the castling field can be the reason to try rook-file letters; when both readings
    // fail, the second one's error is the one reported.
    if (!board && board.error() == chess::FenParseError::InvalidCastlingRights)
        board = chess::from_fen(fen, true);
    if (!board) return Refusal("bad FEN: " + std::string(chess::debug_name(board.error())));
    return board.value();
}

Answer<std::string> side_to_move(const chess::Board& board) {
    return std::string(board.side_to_move == chess::Color::White ? "white" : "black");
}

}  // namespace morvek
