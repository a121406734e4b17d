// Playing a move on a board, keeping every field exact.
#pragma once

#include "board.h"
#include "types.h"

namespace chess {

// Plays a move that is legal in `board` (as `is_legal` would confirm), in place. Legality is
// not checked; an illegal move leaves a board that breaks its invariants. The position key
// (`hash`) is left as it was.
void play_unchecked(Board& board, const Move& move);

// The side to move passes. The caller makes sure it is not in check. The key is left as it was.
void null_move(Board& board);

// The same two, also keeping the position key move by move: for a board whose key is its
// compute_hash, the key after them is compute_hash of the board after them.
void play_keeping_key(Board& board, const Move& move);
void null_move_keeping_key(Board& board);

}  // namespace chess
