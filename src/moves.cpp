// Listing the legal moves and playing one.
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "move_argument.h"
#include "operation.h"

namespace morvek {

std::vector<ShortText> legal_moves(const chess::Board& board) {
    const chess::MoveList moves = chess::legal_moves_vec(board);
    std::vector<ShortText> texts;
    texts.reserve(moves.size());
    for (const chess::Move& m : moves)
        texts.push_back(ShortText::written([&](char* out) { return chess::write_uci_move(out, board, m); }));
    return texts;
}

Answer<FenText> apply_uci(const chess::Board& board, std::string_view uci) {
    auto move = read_legal_move(board, uci, [](std::string_view text) {
        return message({"illegal move ", text, ": ", chess::debug_name(chess::IllegalMoveError{})});
    });
    if (Refusal* refusal = std::get_if<Refusal>(&move)) return std::move(*refusal);
    chess::Board next = board;
    chess::play_unchecked(next, std::get<chess::Move>(move));
    return returned_fen(next);
}

}  // namespace morvek
