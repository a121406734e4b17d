// The position argument: loading it from FEN as every operation does, and the answer read
// straight off it.
#include <string>
#include <string_view>

#include "operation.h"

namespace morvek {

Answer<chess::Board> parse_board(std::string_view fen) {
    const auto board = chess::read_fen(fen);
    if (!board) return Refusal(message({"bad FEN: ", chess::error_name(board.error())}));
    return board.value();
}

chess::Color side_to_move(const chess::Board& board) { return board.side_to_move; }

}  // namespace morvek
