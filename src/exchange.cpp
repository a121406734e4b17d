// The exchange evaluation of one move, as the module offers it.
#include <string>

#include "move_argument.h"
#include "operation.h"
#include "see/see.h"

namespace morvek {

Answer<int> see_move(const chess::Board& board, std::string_view uci) {
    auto move = read_legal_move(
        board, uci, [](std::string_view text) { return message({"illegal move: ", text}); });
    return and_then(std::move(move),
                    [&](const chess::Move& m) { return int(chess::see_of_move(board, m)); });
}

}  // namespace morvek
