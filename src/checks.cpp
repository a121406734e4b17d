// Questions about the side to move that need none of its moves.
#include <string>

#include "chess/play.h"
#include "operation.h"

namespace morvek {

bool is_check(const chess::Board& board) { return board.checkers.any(); }

Answer<FenText> null_move_fen(const chess::Board& board) {
    if (board.checkers.any()) return Refusal("null move illegal (in check)");
    chess::Board passed = board;
    chess::null_move(passed);
    return returned_fen(passed);
}

}  // namespace morvek
