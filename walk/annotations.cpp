#include "annotations.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text.h"

namespace pgn {

namespace {

// A comment being read from `at`; every step either advances past what it matched or fails.
struct Reader {
    std::string_view text;
    std::size_t at;

    bool done() const { return at == text.size(); }

    bool literal(char c) {
        if (done() || text[at] != c) return false;
        ++at;
        return true;
    }

    // One character of white space or a digit; the digit's value goes to `digits` in ASCII.
    bool space() {
        if (done()) return false;
        bool complete;
        const Char c = char_at(text.data() + at, text.data() + text.size(), complete);
        if (!c.valid || !is_space(c.code)) return false;
        at += c.size;
        return true;
    }
    bool digit(std::string& digits) {
        if (done()) return false;
        bool complete;
        const Char c = char_at(text.data() + at, text.data() + text.size(), complete);
        const int value = c.valid ? digit_value(c.code) : -1;
        if (value < 0) return false;
        digits += char('0' + value);
        at += c.size;
        return true;
    }

    // \s+ or \s*, \d+ or \d{1,2}: greedy, and what follows in the patterns is never white
    // space or a digit, so no shorter match could succeed where the longest fails.
    bool spaces(bool one_at_least) {
        const bool first = space();
        while (space()) {}
        return first || !one_at_least;
    }
    bool digits(std::string& out, std::size_t most = std::string::npos) {
        std::size_t count = 0;
        while (count < most && digit(out)) ++count;
        return count > 0;
    }
    // (?:\.\d+)?: taken only when a digit follows the dot.
    void fraction(std::string& out) {
        if (done() || text[at] != '.') return;
        Reader after{text, at + 1};
        std::string digits = ".";
        if (!after.digits(digits)) return;
        out += digits;
        at = after.at;
    }
};

// The double nearest to a decimal text of digits with an optional sign and fraction, as
// Python's float() reads it (a value too small for a double gives zero or the nearest
// subnormal); nothing when it is beyond the largest double (Python's conversion of the clock's
// whole seconds failed there, and no rounding could take the infinity its float() gave). The C
// library reads it correctly rounded, given as digits and an exponent: no decimal point, whose
// character would be the locale's.
std::optional<double> read_double(const std::string& text) {
    std::string plain;
    plain.reserve(text.size() + 8);
    const std::size_t point = text.find('.');
    plain.append(text.data(), point == std::string::npos ? text.size() : point);
    if (point != std::string::npos) {
        plain.append(text.data() + point + 1, text.size() - point - 1);
        plain += "e-";
        char digits[24];
        plain.append(digits,
                     std::to_chars(digits, digits + sizeof digits, text.size() - point - 1).ptr);
    }
    const double value = std::strtod(plain.c_str(), nullptr);
    if (std::isinf(value)) return std::nullopt;
    return value;
}

// The decimal digits of hours * 3600 + minutes * 60, exactly.
std::string whole_seconds(const std::string& hours, unsigned minutes) {
    // Little-endian digits, multiplied by 3600, then minutes * 60 added.
    std::vector<unsigned> digits;
    for (auto it = hours.rbegin(); it != hours.rend(); ++it) digits.push_back(unsigned(*it - '0'));
    unsigned long carry = 0;
    for (unsigned& d : digits) {
        const unsigned long v = d * 3600ul + carry;
        d = unsigned(v % 10);
        carry = v / 10;
    }
    for (; carry; carry /= 10) digits.push_back(unsigned(carry % 10));
    carry = minutes * 60ul;
    for (std::size_t i = 0; carry; ++i) {
        if (i == digits.size()) digits.push_back(0);
        const unsigned long v = digits[i] + carry;
        digits[i] = unsigned(v % 10);
        carry = v / 10;
    }
    std::string out;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) out += char('0' + *it);
    return out;
}

// [%clk\s+(\d+):(\d{1,2}):(\d{1,2}(?:\.\d+)?)\] at `at`: false when the pattern does not fit
// there; `clock` is left empty when it fits with a value beyond a double.
bool clock_at(std::string_view comment, std::size_t at, std::optional<double>& clock) {
    Reader r{comment, at + std::strlen("[%clk")};
    std::string hours, minutes, seconds;
    if (!r.spaces(true) || !r.digits(hours) || !r.literal(':') || !r.digits(minutes, 2) ||
        !r.literal(':') || !r.digits(seconds, 2))
        return false;
    r.fraction(seconds);
    if (!r.literal(']')) return false;
    // As Python added them: the whole seconds as an integer, rounded once into a double, plus
    // the seconds read as a double.
    unsigned minute_count = 0;
    for (const char digit : minutes) minute_count = minute_count * 10 + unsigned(digit - '0');
    const std::optional<double> whole = read_double(whole_seconds(hours, minute_count));
    const std::optional<double> rest = read_double(seconds);
    if (whole && rest) clock = *whole + *rest;
    return true;
}

// round() of a double: to the nearest integer, ties to even.
double round_half_even(double x) {
    const double below = std::floor(x);
    const double diff = x - below;
    if (diff > 0.5) return below + 1;
    if (diff < 0.5) return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::optional<std::int64_t> to_int64(double whole) {
    // The doubles from -2^63 up to, not including, 2^63.
    if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) return std::nullopt;
    return std::int64_t(whole);
}

// [%eval\s+(#)?([+-]?\d+(?:\.\d+)?)(?:,\d+)?\s*\] at `at`.
bool eval_at(std::string_view comment, std::size_t at, Annotations& found) {
    Reader r{comment, at + std::strlen("[%eval")};
    if (!r.spaces(true)) return false;
    const bool mate = r.literal('#');
    std::string number;
    if (!r.done() && (comment[r.at] == '+' || comment[r.at] == '-')) {
        if (comment[r.at] == '-') number += '-';
        ++r.at;
    }
    if (!r.digits(number)) return false;
    r.fraction(number);
    if (r.literal(',')) {
        std::string depth;
        if (!r.digits(depth)) return false;
    }
    r.spaces(false);
    if (!r.literal(']')) return false;
    const std::optional<double> value = read_double(number);
    if (!value) return true;  // matched, but beyond a double: nothing to say
    if (mate)
        found.mate = to_int64(std::trunc(*value));
    else
        found.eval = to_int64(round_half_even(*value * 100));
    return true;
}

// Each kind's first tag that fits the pattern, found as a search would.
template <class Fits>
void search(std::string_view comment, std::string_view start, Fits&& fits) {
    for (std::size_t at = comment.find(start); at != std::string_view::npos;
         at = comment.find(start, at + 1))
        if (fits(at)) return;
}

}  // namespace

Annotations annotations_of(std::string_view comment) {
    Annotations found;
    search(comment, "[%clk", [&](std::size_t at) { return clock_at(comment, at, found.clock); });
    search(comment, "[%eval", [&](std::size_t at) { return eval_at(comment, at, found); });
    return found;
}

void append_seconds(std::string& out, double seconds) {
    char text[64];
    if (seconds == std::floor(seconds) && seconds < 1e16) {
        const auto end = std::to_chars(text, text + sizeof text, std::int64_t(seconds)).ptr;
        out.append(text, end);
        out += ".0";
        return;
    }
    // Python's repr: the shortest digits that read back, in positional notation from 1e-4 up
    // to 1e16 and in exponent notation outside (a fraction of a second is always below 1e16).
    const auto scientific =
        std::to_chars(text, text + sizeof text, seconds, std::chars_format::scientific);
    const char* e = std::find(text, scientific.ptr, 'e');
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), scientific.ptr, exponent);
    if (exponent < -4 || exponent >= 16) {
        out.append(text, scientific.ptr);
        return;
    }
    const auto fixed = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
    out.append(text, fixed.ptr);
}

}  // namespace pgn
