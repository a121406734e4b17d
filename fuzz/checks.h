// What the fuzz targets hold the code to, beyond not crashing. A broken property prints what
// broke and aborts, so that libFuzzer keeps the input as a crash.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chess/fen.h"
#include "chess/keys.h"
#include "chess/invariant.h"

namespace fuzz {

[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

inline void require(bool ok, std::string_view what, std::string_view detail = {}) {
    if (!ok) fail(what, detail);
}

// The text with every byte outside printable ASCII written as \xNN, for reports.
std::string escaped(std::string_view text);

// Every invariant that a board loaded from FEN or reached by legal moves promises: disjoint
// sets, piece counts, one king a side and kings apart, the side not to move out of check,
// stored checkers and pins equal to a fresh computation, castling rights backed by
// rooks, a consistent en passant file, clocks in range, and a FEN text that reads back
// to the identical board.
void require_sound(const chess::Board& board, std::string_view how);

// The board as the module's FEN loading gives it, or nothing; the refusal must name a
// FenParseError variant and agree with reading standard letters first, then rook-file
// letters only when the castling field was refused.
std::optional<chess::Board> load_as_module(std::string_view fen);

// Splits `data` at line breaks into N fields; missing fields are empty and the last field
// takes the rest of the input, line breaks included.
template <std::size_t N>
std::array<std::string_view, N> lines(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::array<std::string_view, N> out{};
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            out[i] = rest;
            return out;
        }
        out[i] = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    out[N - 1] = rest;
    return out;
}

// Runs one input; a broken internal check of the code under test is a finding, not an
// answer, so it is reported like a failed property.
template <class Body>
void guarded(Body&& body) {
    try {
        body();
    } catch (const chess::InvariantFailure& failure) {
        fail("internal check failed", std::string(failure.message) + " at " + failure.file + ":" +
                                          std::to_string(failure.line));
    }
}

}  // namespace fuzz
