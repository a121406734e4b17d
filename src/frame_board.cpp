// The frame's one step that needs no interpreter: loading the FEN argument. It lives apart
// from frame.cpp so that the fuzz targets, built without Python, load every position exactly
// as a call does.
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

}  // namespace morvek
