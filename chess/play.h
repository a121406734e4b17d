// Playing a move on a board, keeping every field exact.
#pragma once

#include "board.h"
#include "types.h"

namespace chess {

// Plays a move that is legal in `board` (as `is_legal` would confirm), in place. Legality is
// not checked; an illegal move leaves a board that breaks its invariants.
void play_unchecked(Board& board, const Move& move);

// The side to move passes. The caller makes sure it is not in check.
void null_move(Board& board);

}  // namespace chess
