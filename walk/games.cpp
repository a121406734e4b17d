#include "games.h"

namespace pgn {

namespace {

// The evaluation signs of one character beyond ASCII: ± ∓ ⩲ ⩱ ∞ □ ⨀ in UTF-8.
constexpr std::string_view SIGNS[] = {"\u00b1", "\u2213", "\u2a72", "\u2a71",
                                      "\u221e", "\u25a1", "\u2a00"};

constexpr bool any_of(char c, std::string_view set) { return set.find(c) != set.npos; }

}  // namespace

bool is_annotation(std::string_view w) {
    const std::size_t n = w.size();
    if (n == 0) return false;
    if (n <= 2 && (any_of(w[0], "!?") && (n == 1 || any_of(w[1], "!?")))) return true;
    if (n <= 2 && (any_of(w[0], "+#") && (n == 1 || any_of(w[1], "+#")))) return true;
    if (w == "e.p." || w == "e.p" || w == "ep" || w == "N" || w == "TN" || w == "=") return true;
    // +-, -+, =+, +/-, =/+, ... : a sign, an optional slash, a sign.
    if ((n == 2 || (n == 3 && w[1] == '/')) && any_of(w[0], "+-=") && any_of(w[n - 1], "+-="))
        return true;
    if (n == 3 && w[0] == '(' && any_of(w[1], "!?") && w[2] == ')') return true;
    for (const std::string_view sign : SIGNS)
        if (w == sign) return true;
    return false;
}

}  // namespace pgn
