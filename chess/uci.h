// Standard UCI move text, read into the core's moves and written from them; castling's two
// written forms are castling.h's.
#pragma once

#include <string>
#include <string_view>

#include "board.h"
#include "types.h"

namespace chess {

// Reads the bytes of `text`; does not check legality.
Result<Move, MoveParseError> parse_uci_move(const Board& board, std::string_view text);

// The move whose text is the standard form: the core's move itself, but for castling.
Move display_uci_move(const Board& board, const Move& move);

// Writes the standard text of `move` (at most five bytes); returns the end position.
inline char* write_uci_move(char* out, const Board& board, const Move& move) {
    return write_move(out, display_uci_move(board, move));
}

std::string uci_move_text(const Board& board, const Move& move);

}  // namespace chess
