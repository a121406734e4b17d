// Standard algebraic notation: writing a legal move, and the clean-up that lets the reader
// accept the writer's texts with white space, signs, zeros for castling and "e.p." marks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chess/board.h"
#include "chess/types.h"

namespace morvek {

// The SAN of a legal move (castling as king onto rook), without check or mate sign.
std::string san_body(const chess::Board& board, const chess::Move& move);

std::string normalize_san(std::string_view text);

}  // namespace morvek
