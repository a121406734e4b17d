// Static exchange evaluation: what a move wins or loses in material once both sides have
// finished capturing on its destination, each with its least valuable piece.
#pragma once

#include <array>
#include <cstdint>

#include "chess/board.h"
#include "chess/types.h"

namespace chess {

// Centipawns by `Piece` order. The king's value only ranks it after every other attacker: the
// king rule keeps it from ever being captured inside an exchange.
constexpr std::array<std::int32_t, PIECE_KINDS> EXCHANGE_VALUES{100, 300, 300, 500, 900, 20000};
constexpr std::int32_t exchange_value(Piece p) { return EXCHANGE_VALUES[index(p)]; }

// Every piece of either colour in `occupied` that attacks `square` when exactly the squares of
// `occupied` block. A piece left out of `occupied` neither attacks nor blocks, so a slider
// behind it is found.
[[nodiscard]] BitBoard attackers_to(const Board& board, Square square, BitBoard occupied);

// The exchange balance, for the owner of the piece on `from`, of moving it to `to` on `board`
// (the position before the move). Checks and pins are ignored, except that a king never
// captures onto a defended square; a promoting pawn counts as a pawn.
[[nodiscard]] std::int32_t see(const Board& board, Square from, Square to);

// `see` for a move already known to be legal; castling (the king onto its own rook) trades
// nothing and gives 0.
[[nodiscard]] std::int32_t see_of_move(const Board& board, const Move& move);

}  // namespace chess
