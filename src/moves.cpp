// Listing the legal moves and playing one.
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
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
    const auto move = chess::parse_uci_move(board, uci);
    if (!move)
        return Refusal(message({"bad move ", uci, ": ", chess::debug_name(move.error())}));
    chess::Board next = board;
    const auto played = chess::play(next, move.value());
    if (!played)
        return Refusal(message({"illegal move ", uci, ": ", chess::debug_name(played.error())}));
    return FenText::written([&](char* out) { return chess::write_fen(out, next); });
}

}  // namespace morvek
