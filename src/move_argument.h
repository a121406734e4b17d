// The caller's move text as the operations that take one read it: first as standard UCI text
// against the board ("bad move {uci}: MoveParseError" when it is none), then for legality, with
// the refusal worded as the operation words it.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "chess/movegen.h"
#include "chess/uci.h"
#include "operation.h"

namespace morvek {

// `illegal` builds the operation's message from the caller's text, exactly as passed.
inline Answer<chess::Move> read_legal_move(const chess::Board& board, std::string_view uci,
                                           std::string (*illegal)(std::string_view uci)) {
    const auto move = chess::parse_uci_move(board, uci);
    if (!move) return Refusal(message({"bad move ", uci, ": ", chess::error_name(move.error())}));
    if (!chess::is_legal(board, move.value())) return Refusal(illegal(uci));
    return move.value();
}

}  // namespace morvek
