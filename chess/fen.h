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

// The reading every caller of the module gets: standard castling letters first and, only
// when the castling field is what they refused, rook-file letters. The result (the board, or
// the second reading's error) is that of calling from_fen once or twice that way.
Result<Board, FenParseError> read_fen(std::string_view text);

// Whether K, Q, k, q name the rights held exactly as every reader takes them: each short
// right on the h-file and each long one on the a-file. Otherwise only rook-file letters say
// which rook castles, and a FEN meant to be read again must use them.
bool standard_letters_name_rights(const Board& board);

// The standard form writes castling as K, Q, k, q; the file-letter form as rook files.
std::string to_fen(const Board& board, bool file_letter_castling = false);
// Writes into a buffer of at least MAX_FEN_LENGTH bytes; returns the end position.
constexpr std::size_t MAX_FEN_LENGTH = 96;
char* write_fen(char* out, const Board& board, bool file_letter_castling = false);

// The writer's first step: each rank's piece letters, rank r in word r and file f in byte f,
// as the low six bits of the letter (the writer adds the 0x40) and 0 on an empty square. Made
// in vector registers; the table form is the reference it is tested against.
using RankLetters = std::array<std::uint64_t, 8>;
RankLetters rank_letters(const Board& board);
RankLetters rank_letters_by_table(const Board& board);

}  // namespace chess
