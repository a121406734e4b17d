// The exchange evaluation of one move, as the module offers it.
#include <string>

#include "chess/movegen.h"
#include "chess/uci.h"
#include "operation.h"
#include "see/see.h"

namespace morvek {

Answer<int> see_move(const chess::Board& board, std::string_view uci) {
    const auto move = chess::parse_uci_move(board, uci);
    if (!move)
        return Refusal(message({"bad move ", uci, ": ", chess::debug_name(move.error())}));
    if (!chess::is_legal(board, move.value())) return Refusal(message({"illegal move: ", uci}));
    return int(chess::see_of_move(board, move.value()));
}

}  // namespace morvek
