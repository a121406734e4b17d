// Standard algebraic notation: writing a legal move, and the clean-up that lets the reader
// accept the writer's texts with white space, signs, zeros for castling and "e.p." marks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chess/board.h"
#include "chess/types.h"

namespace morvek {

// The SAN of a legal move (castling as king onto rook), without check or mate sign.
std::string san_body(const chess::Board& board, const chess::Move& move);

// The clean-up that lets a SAN text read as the writer's: white space around it, check, mate
// and judgement signs after it, zeros for the letter O and "e.p." marks go.
std::string normalize_san(std::string_view text);
// The same into `out`, whose old contents it replaces: a caller reading many texts keeps one
// buffer.
void normalize_san_into(std::string_view text, std::string& out);
// The text cleaned up: `text` itself when the clean-up would not change it (as for every text
// the writer makes), else the cleaned text, written into `buffer`.
std::string_view normalized_san(std::string_view text, std::string& buffer);

// The first legal move in generation order whose SAN body (san_body) is `clean`, a text that
// normalize_san has cleaned up; nothing when no legal move is written so.
std::optional<chess::Move> read_clean_san(const chess::Board& board, std::string_view clean);

// A SAN text as the module reads it: cleaned up, then matched.
std::optional<chess::Move> read_san(const chess::Board& board, std::string_view text);

}  // namespace morvek
