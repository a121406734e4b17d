// Writing the FEN of one board after another, as a game's moves change it.
#pragma once

#include <array>
#include <cstdint>

#include "board.h"
#include "castling.h"

namespace chess {

// Writes what write_fen writes, keeping each rank's text from the board written before: only
// the ranks whose pieces differ from that board's are written again, so a move costs the one
// or two ranks it touches. Any board may follow any other.
class FenWriter {
  public:
    // Into a buffer of at least MAX_FEN_LENGTH bytes (fen.h); returns the end position.
    char* write(char* out, const Board& board, CastlingLetters castling);

  private:
    // The board last written: its six piece sets, then its two colours (all empty at first).
    std::array<std::uint64_t, 8> seen_{};
    // Each rank's text, first character in the lowest byte, and its length: an empty board's
    // at first.
    std::array<std::uint64_t, 8> ranks_ = {'8', '8', '8', '8', '8', '8', '8', '8'};
    std::array<std::uint8_t, 8> lengths_ = {1, 1, 1, 1, 1, 1, 1, 1};
    // The castling field and the move number last written, with their texts as stored (eight
    // bytes, of which `length` count); the field is known by a number made of the rights and
    // the letters. Neither key matches anything at first.
    struct {
        std::uint32_t key;
        std::uint64_t text;
        std::uint8_t length;
    } rights_{~0u, 0, 0};
    struct {
        std::uint32_t value;
        std::uint64_t text;
        std::uint8_t length;
    } number_{~0u, 0, 0};
};

}  // namespace chess
