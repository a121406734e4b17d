// Conditions on a game's tags, decided before any of its moves is read, so that a game filtered
// out costs the reading of its tags only: `WhiteElo>=2000`, `TimeControl=180+0`, `Event~Blitz`.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "walk.h"

namespace pgn {

struct Condition {
    enum class Op : std::uint8_t {
        Equal,
        NotEqual,
        Less,
        LessOrEqual,
        Greater,
        GreaterOrEqual,
        Contains
    };
    std::string tag;
    Op op;
    std::string value;
    std::optional<double> number;  // the value as a number, where it reads as one
};

// A condition's text: a tag name (letters, digits, underscores), one of = != < <= > >= ~, and
// the value, which is the rest of the text as it stands. Nothing when the text is not one,
// `why` then saying what is wrong.
std::optional<Condition> read_condition(std::string_view text, std::string& why);

// Whether the game's tags meet every condition. A number compares as a number when both sides
// read as one, and fails where the tag does not; = and != compare texts otherwise; ~ asks
// whether the tag holds the value, letters of either case alike. A game without the tag has
// it as the empty text.
bool meets(const GameTags& tags, const std::vector<Condition>& conditions);

// The walk's hook: `context` points to the vector of conditions.
bool meets_conditions(const GameTags& tags, void* context);

}  // namespace pgn
