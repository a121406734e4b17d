// SAN clean-up on any text. For well-formed UTF-8 (all the module ever passes) the result
// has no surrounding white space and no zero, ignores white space around the input and
// zeros written for the letter O, and is a fixed point of the clean-up unless it still ends
// in a sign or holds an "e.p." that a removal joined together: one pass strips signs only
// up to white space and removes marks without searching the joined text again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "checks.h"
#include "san.h"

namespace {

// The next code point of well-formed UTF-8 text at `i`, or nothing for a malformed sequence.
std::optional<char32_t> code_point(std::string_view s, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xC2 && lead < 0xE0 ? 2
                         : lead >= 0xE0 && lead < 0xF0 ? 3
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                                                       : 0;
    if (length == 0 || i + length > s.size()) return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    constexpr char32_t SHORTEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < SHORTEST[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    i += length;
    return c;
}

std::optional<std::u32string> decoded(std::string_view s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = code_point(s, i);
        if (!c) return std::nullopt;
        out += *c;
    }
    return out;
}

// Unicode's White_Space property, listed from the character database.
constexpr char32_t WHITE_SPACE[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                    0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                    0x2029, 0x202F, 0x205F, 0x3000};

bool white_space(char32_t c) {
    for (const char32_t w : WHITE_SPACE)
        if (c == w) return true;
    return false;
}

std::string encoded(char32_t c) {
    if (c < 0x80) return std::string(1, char(c));
    if (c < 0x800) return {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
    return {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
}

bool ends_in_sign(std::string_view s) {
    return !s.empty() && (s.back() == '+' || s.back() == '#' || s.back() == '!' || s.back() == '?');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzz::guarded([&] {
        const std::string once = morvek::normalize_san(text);
        const auto chars = decoded(text);
        if (!chars) return;  // only "does not crash" for malformed UTF-8
        const std::string shown = fuzz::escaped(text) + " -> " + fuzz::escaped(once);

        const auto out = decoded(once);
        fuzz::require(out.has_value(), "normalize_san made malformed UTF-8", shown);
        fuzz::require(once.size() <= text.size(), "normalize_san made the text longer", shown);
        fuzz::require(once.find('0') == std::string::npos, "a zero survived", shown);
        fuzz::require(out->empty() || (!white_space(out->front()) && !white_space(out->back())),
                      "white space left around the result", shown);

        // White space put around the text changes nothing; which kind depends on the input.
        const std::string pad = encoded(WHITE_SPACE[size % std::size(WHITE_SPACE)]);
        const std::string padded = pad + " \t" + std::string(text) + "\u2029\n" + pad;
        fuzz::require(morvek::normalize_san(padded) == once,
                      "white space around the input changes the result", shown);

        std::string lettered(text);
        for (char& c : lettered)
            if (c == '0') c = 'O';
        fuzz::require(morvek::normalize_san(lettered) == once, "zeros and letters O differ", shown);

        const std::string twice = morvek::normalize_san(once);
        if (twice != once) {
            fuzz::require(ends_in_sign(once) || once.find("e.p.") != std::string::npos,
                          "not a fixed point, though nothing is left to strip",
                          shown + " -> " + fuzz::escaped(twice));
            fuzz::require(twice.size() < once.size(), "a second pass did not shorten the text",
                          shown + " -> " + fuzz::escaped(twice));
        }
    });
    return 0;
}
