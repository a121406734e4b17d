// A position record's FEN form: reading it from text and writing it back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "board.h"
#include "types.h"

namespace chess {

Result<Board, FenParseError> from_fen(std::string_view text, bool file_letter_castling);

// The reading every caller of the module gets: the castling field in either letters
// (CastlingLetters::Either). The result (the board, or the second reading's error) is that of
// calling from_fen with standard letters and, when only the castling field was refused, again
// with rook-file letters. A game's FEN tag is read with CastlingLetters::Outermost.
Result<Board, FenParseError> read_fen(std::string_view text,
                                      CastlingLetters castling = CastlingLetters::Either);

// The castling field in standard letters, or in the rooks' files.
std::string to_fen(const Board& board, bool file_letter_castling = false);
// Writes into a buffer of at least MAX_FEN_LENGTH bytes; returns the end position.
constexpr std::size_t MAX_FEN_LENGTH = 96;
char* write_fen(char* out, const Board& board,
                CastlingLetters castling = CastlingLetters::Standard);

// The writer's first step: each rank's piece letters, rank r in word r and file f in byte f,
// as the low six bits of the letter (the writer adds the 0x40) and 0 on an empty square. Made
// in vector registers; the table form is the reference it is tested against.
using RankLetters = std::array<std::uint64_t, 8>;
RankLetters rank_letters(const Board& board);
RankLetters rank_letters_by_table(const Board& board);

}  // namespace chess
