// Standard UCI move text: castling is written as the king's two-square move (e1g1), while the
// core holds it as the king's move onto its own rook (e1h1).
#pragma once

#include <string>
#include <string_view>

#include "board.h"
#include "types.h"

namespace chess {

// Reads the bytes of `text`; does not check legality.
Result<Move, MoveParseError> parse_uci_move(const Board& board, std::string_view text);

// The move whose text is the standard form: castling by a king on its e-file square gets the
// g- or c-file destination; any other castling stays king onto rook.
Move display_uci_move(const Board& board, const Move& move);

// Writes the standard text of `move` (at most five bytes); returns the end position.
inline char* write_uci_move(char* out, const Board& board, const Move& move) {
    return write_move(out, display_uci_move(board, move));
}

std::string uci_move_text(const Board& board, const Move& move);

}  // namespace chess
