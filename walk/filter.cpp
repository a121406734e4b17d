#include "filter.h"

#include <cmath>
#include <cstdlib>

#include "text.h"

namespace pgn {

namespace {

using Op = Condition::Op;

constexpr bool name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// A decimal number as PGN writers put one in a tag (2000, -1.5, +3), nothing else: "2000?"
// or "" is no number.
std::optional<double> number_of(std::string_view text) {
    std::size_t at = !text.empty() && (text[0] == '+' || text[0] == '-');
    std::size_t digits = 0, dots = 0;
    for (; at < text.size(); ++at) {
        if (text[at] >= '0' && text[at] <= '9')
            ++digits;
        else if (text[at] == '.' && dots++ == 0)
            continue;
        else
            return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    const double value = std::strtod(std::string(text).c_str(), nullptr);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool contains(std::string_view text, std::string_view part) {
    if (part.size() > text.size()) return false;
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < part.size() && lower(text[at + i]) == lower(part[i])) ++i;
        if (i == part.size()) return true;
    }
    return false;
}

bool holds(const Condition& c, std::string_view tag) {
    switch (c.op) {
        case Op::Contains: return contains(tag, c.value);
        case Op::Equal:
        case Op::NotEqual: {
            const std::optional<double> n = c.number ? number_of(tag) : std::nullopt;
            const bool same = n ? *n == *c.number : tag == c.value;
            return same == (c.op == Op::Equal);
        }
        default: break;
    }
    const std::optional<double> n = number_of(tag);
    if (!n) return false;
    switch (c.op) {
        case Op::Less: return *n < *c.number;
        case Op::LessOrEqual: return *n <= *c.number;
        case Op::Greater: return *n > *c.number;
        default: return *n >= *c.number;
    }
}

}  // namespace

std::optional<Condition> read_condition(std::string_view text, std::string& why) {
    std::size_t at = 0;
    while (at < text.size() && name_char(text[at])) ++at;
    if (at == 0) {
        why = "a condition starts with a tag's name (letters, digits, _)";
        return std::nullopt;
    }
    static constexpr std::pair<std::string_view, Op> OPS[] = {
        {">=", Op::GreaterOrEqual}, {"<=", Op::LessOrEqual}, {"!=", Op::NotEqual},
        {"=", Op::Equal},           {"<", Op::Less},         {">", Op::Greater},
        {"~", Op::Contains},
    };
    const std::string_view rest = slice(text, at, text.size());
    for (const auto& [sign, op] : OPS) {
        if (head(rest, sign.size()) != sign) continue;
        Condition c{std::string(slice(text, 0, at)), op,
                    std::string(slice(rest, sign.size(), rest.size())), std::nullopt};
        c.number = number_of(c.value);
        const bool ordered = op == Op::Less || op == Op::LessOrEqual || op == Op::Greater ||
                             op == Op::GreaterOrEqual;
        if (ordered && !c.number) {
            why = "<, <=, > and >= compare numbers: the value must be one";
            return std::nullopt;
        }
        return c;
    }
    why = "the tag's name is followed by one of = != < <= > >= ~";
    return std::nullopt;
}

bool meets(const GameTags& tags, const std::vector<Condition>& conditions) {
    for (const Condition& c : conditions)
        if (!holds(c, tags.value(c.tag).value_or(""))) return false;
    return true;
}

bool meets_conditions(const GameTags& tags, void* context) {
    return meets(tags, *static_cast<const std::vector<Condition>*>(context));
}

}  // namespace pgn
