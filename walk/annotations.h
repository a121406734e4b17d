// What a move's comment says of it, as online databases write it: the clock after the move,
// [%clk H:MM:SS] with an optional fraction of a second, and the engine's evaluation, [%eval
// 0.17] in pawns or [%eval #-3] in moves to mate, both from White's side, optionally followed
// by a search depth ([%eval 0.17,22]). Read exactly as the command's Python version read them:
// the first tag of each kind that fits wins, digits are any decimal digits, and the numbers
// are the double-precision values and roundings Python computed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pgn {

struct Annotations {
    std::optional<double> clock;       // seconds
    std::optional<std::int64_t> eval;  // centipawns: round(pawns * 100), ties to even
    std::optional<std::int64_t> mate;  // moves, truncated towards zero

    bool any() const { return clock || eval || mate; }
};

// A value beyond what a double (the clock) or a 64-bit integer (the evaluations) holds is left
// out: the Python version stopped with an error on the first and wrote a number of hundreds of
// digits for the second.
Annotations annotations_of(std::string_view comment);

// A clock as Python writes a float (repr): the shortest text that reads back as the same
// double, a whole number of seconds with ".0", so that every reader takes the column for one
// type of number.
void append_seconds(std::string& out, double seconds);

}  // namespace pgn
