#include "text.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace pgn {

namespace {

// The second byte's range depends on the first: it keeps out overlong forms, the surrogates
// and code points past U+10FFFF, which are not UTF-8 either.
struct Lead {
    std::uint8_t size;
    std::uint8_t low, high;  // the second byte's range
};

constexpr Lead lead_of(std::uint8_t b) {
    if (b < 0x80) return {1, 0, 0};
    if (b < 0xC2) return {0, 0, 0};
    if (b < 0xE0) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b < 0xF0) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b < 0xF4) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Where each range of ten Nd digits (0 to 9) starts, as Unicode 17 has them.
constexpr char32_t DIGIT_ZEROS[] = {
    0x30,    0x660,   0x6f0,   0x7c0,   0x966,   0x9e6,   0xa66,   0xae6,   0xb66,   0xbe6,
    0xc66,   0xce6,   0xd66,   0xde6,   0xe50,   0xed0,   0xf20,   0x1040,  0x1090,  0x17e0,
    0x1810,  0x1946,  0x19d0,  0x1a80,  0x1a90,  0x1b50,  0x1bb0,  0x1c40,  0x1c50,  0xa620,
    0xa8d0,  0xa900,  0xa9d0,  0xa9f0,  0xaa50,  0xabf0,  0xff10,  0x104a0, 0x10d30, 0x10d40,
    0x11066, 0x110f0, 0x11136, 0x111d0, 0x112f0, 0x11450, 0x114d0, 0x11650, 0x116c0, 0x116d0,
    0x116da, 0x11730, 0x118e0, 0x11950, 0x11bf0, 0x11c50, 0x11d50, 0x11da0, 0x11de0, 0x11f50,
    0x16130, 0x16a60, 0x16ac0, 0x16b50, 0x16d70, 0x1ccf0, 0x1d7ce, 0x1d7d8, 0x1d7e2, 0x1d7ec,
    0x1d7f6, 0x1e140, 0x1e2f0, 0x1e4f0, 0x1e5f1, 0x1e950, 0x1fbf0,
};
static_assert(std::is_sorted(std::begin(DIGIT_ZEROS), std::end(DIGIT_ZEROS)));

constexpr char HEX[] = "0123456789abcdef";

}  // namespace

Char char_at(const char* p, const char* end, bool& complete) {
    complete = true;
    const std::uint8_t b = std::uint8_t(*p);
    const Lead lead = lead_of(b);
    if (lead.size == 1) return {b, 1, true};
    if (lead.size == 0) return {b, 1, false};
    char32_t code = b & (0x7F >> lead.size);
    for (unsigned i = 1; i < lead.size; ++i) {
        if (p + i == end) {
            complete = false;
            return {b, 1, false};
        }
        const std::uint8_t c = std::uint8_t(p[i]);
        const bool fits = i == 1 ? c >= lead.low && c <= lead.high : c >= 0x80 && c <= 0xBF;
        if (!fits) return {b, 1, false};
        code = code << 6 | (c & 0x3F);
    }
    return {code, lead.size, true};
}

int digit_value(char32_t c) {
    if (c < 0x80) return c >= '0' && c <= '9' ? int(c - '0') : -1;
    const char32_t* after = std::upper_bound(std::begin(DIGIT_ZEROS), std::end(DIGIT_ZEROS), c);
    if (after == std::begin(DIGIT_ZEROS)) return -1;
    const char32_t zero = after[-1];
    return c - zero < 10 ? int(c - zero) : -1;
}

void append_printable(std::string& out, std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        // Runs of ASCII, the common case, are copied whole.
        const char* run = p;
        while (run != end && std::uint8_t(*run) < 0x80) ++run;
        out.append(p, run);
        p = run;
        if (p == end) break;
        bool complete;
        const Char c = char_at(p, end, complete);
        if (c.valid) {
            out.append(p, c.size);
        } else {
            const std::uint8_t b = std::uint8_t(*p);
            out += "\\x";
            out += HEX[b >> 4];
            out += HEX[b & 15];
        }
        p += c.size;
    }
}

std::string printable(std::string_view text) {
    std::string out;
    append_printable(out, text);
    return out;
}

std::size_t first_stray_byte(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        if (std::uint8_t(*p) < 0x80) {
            ++p;
            continue;
        }
        bool complete;
        const Char c = char_at(p, end, complete);
        if (!c.valid) return std::size_t(p - text.data());
        p += c.size;
    }
    return std::string_view::npos;
}

}  // namespace pgn
