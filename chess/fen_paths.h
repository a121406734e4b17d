// The ways this build can read FEN text. Callers read through from_fen and read_fen, which take
// the way chosen for the processor once; the tests, the fuzz targets and the benchmarks name
// each way to hold it against the reference, board for board and error for error.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "fen.h"

namespace chess {

enum class FenPath : std::uint8_t {
    Reference,  // a character at a time; every other path hands it what it does not read whole
    Baseline,   // 16-byte vectors: SSE2 on x86-64, AdvSIMD on aarch64, with no flag
    Avx2,       // 32-byte vectors, where an x86-64 processor reports AVX2, BMI2 and POPCNT
};

std::string_view path_name(FenPath path);

// The paths this processor can run, the reference first and the chosen one last.
std::span<const FenPath> fen_paths();
FenPath chosen_fen_path();

// `path` must be one of fen_paths(): another may not run on this processor.
Result<Board, FenParseError> read_fen_on(FenPath path, std::string_view text,
                                         CastlingLetters letters);
Result<Board, FenParseError> read_fen_reference(std::string_view text, CastlingLetters letters);

// What `path` reads by itself, without handing the text to the reference: nothing where it
// would. The tests hold each path to reading every text of the usual shape by itself.
std::optional<Board> read_usual_on(FenPath path, std::string_view text, CastlingLetters letters);

}  // namespace chess
