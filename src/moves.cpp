// Listing the legal moves and playing one.
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "move_argument.h"
#include "operation.h"

namespace morvek {

UciMoves legal_moves(const chess::Board& board) {
    UciMoves listed;
    for (const chess::Move& m : chess::legal_move_list(board))
        listed.moves.push_back(chess::display_uci_move(board, m));
    return listed;
}

Answer<FenText> apply_uci(const chess::Board& board, std::string_view uci) {
    auto move = read_legal_move(board, uci, [](std::string_view text) {
        return message({"illegal move ", text, ": ", chess::error_name(chess::IllegalMoveError{})});
    });
    return and_then(std::move(move), [&](const chess::Move& m) {
        chess::Board next = board;
        chess::play_unchecked(next, m);
        return returned_fen(next);
    });
}

}  // namespace morvek
