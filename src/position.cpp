// The position argument: loading it from FEN as every operation does, and the answer read
// straight off it.
#include <string>
#include <string_view>

#include "operation.h"

namespace morvek {

Answer<chess::Board> parse_board(std::string_view fen) {
    // Rook-file castling letters only when the standard ones were refused; when both readings
    // fail, the second one's error is the one reported.
    const auto board = chess::read_fen(fen);
    if (!board) return Refusal(message({"bad FEN: ", chess::debug_name(board.error())}));
    return board.value();
}

chess::Color side_to_move(const chess::Board& board) { return board.side_to_move; }

}  // namespace morvek
