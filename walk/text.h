// PGN is read as UTF-8 text whose bytes need not all be UTF-8: a byte that is not part of a
// well-formed sequence stands for itself (as the reader of the command's Python version kept
// it, through surrogateescape), and is written back as a \xNN escape wherever text is shown.
// White space and digits are Unicode's, as that reader's patterns took them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pgn {

// One character of the input: a well-formed UTF-8 sequence, or a single byte that is not one.
struct Char {
    char32_t code;      // the code point; for a stray byte, the byte itself
    std::uint8_t size;  // bytes taken: 1 to 4
    bool valid;         // false for a stray byte
};

// The character at `p` (p < end). `complete` is false when the bytes up to `end` start a
// sequence that more bytes could finish: a reader with more input to come must wait.
Char char_at(const char* p, const char* end, bool& complete);

// White space as Python's `\s` takes it for text (str.isspace): the ASCII controls 0x09 to
// 0x0D and 0x1C to 0x1F, the space, and Unicode's spaces and separators.
constexpr bool is_space(char32_t c) {
    if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The value of a decimal digit (Unicode's category Nd, which Python's `\d`, int() and float()
// take), or -1.
int digit_value(char32_t c);

// The text with each byte that is not part of a well-formed sequence written as \xNN (lower
// case), appended to `out`: what the Python version showed through backslashreplace.
void append_printable(std::string& out, std::string_view text);
std::string printable(std::string_view text);

// The bytes [begin, end) of `text`, and its first `count` bytes (or all when fewer), without the
// library's range checks: the positions come from reading the text itself. (The library's
// checks would also bring its exception helpers into the modules, which keep to the C library.)
constexpr std::string_view slice(std::string_view text, std::size_t begin, std::size_t end) {
    return std::string_view(text.data() + begin, end - begin);
}
constexpr std::string_view head(std::string_view text, std::size_t count) {
    return std::string_view(text.data(), count < text.size() ? count : text.size());
}

// The first byte of `text` that is not part of a well-formed sequence, or npos.
std::size_t first_stray_byte(std::string_view text);

}  // namespace pgn
