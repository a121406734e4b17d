#include "tokens.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "text.h"

namespace pgn {

namespace {

// What an ASCII byte starts; bytes from 0x80 on are decoded first.
enum Start : std::uint8_t {
    WORD,
    SPACE,
    BRACE,
    SEMICOLON,
    PERCENT,
    BRACKET,
    OPEN,
    CLOSE,
    DOLLAR,
    DIGIT,
    DOT,
    STAR,
    SINGLE,  // } and ]
    HIGH,
};

// Within a word: 1 for a byte of the word, 0 for a byte that ends it, 2 for a byte that
// starts a character to decode.
constexpr std::uint8_t END_WORD = 0, IN_WORD = 1, DECODE = 2;

constexpr bool ascii_space(unsigned b) {
    return (b >= 0x09 && b <= 0x0D) || (b >= 0x1C && b <= 0x20);
}

constexpr std::array<std::uint8_t, 256> make_starts() {
    std::array<std::uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = b >= 0x80 ? HIGH : ascii_space(b) ? SPACE : WORD;
    t['{'] = BRACE;
    t[';'] = SEMICOLON;
    t['%'] = PERCENT;
    t['['] = BRACKET;
    t['('] = OPEN;
    t[')'] = CLOSE;
    t['$'] = DOLLAR;
    for (unsigned d = '0'; d <= '9'; ++d) t[d] = DIGIT;
    t['.'] = DOT;
    t['*'] = STAR;
    t['}'] = SINGLE;
    t[']'] = SINGLE;
    return t;
}
constexpr std::array<std::uint8_t, 256> STARTS = make_starts();

constexpr std::array<std::uint8_t, 256> make_word_bytes() {
    std::array<std::uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        t[b] = b >= 0x80 ? DECODE : ascii_space(b) ? END_WORD : IN_WORD;
    for (const char c : {'{', '}', '(', ')', '[', ']', ';', '$'}) t[std::uint8_t(c)] = END_WORD;
    return t;
}
constexpr std::array<std::uint8_t, 256> WORD_BYTES = make_word_bytes();

// What may follow a result: white space, a bracket of any kind, a semicolon, or the end.
constexpr bool ascii_delimiter(unsigned b) {
    return ascii_space(b) || b == '{' || b == '}' || b == '(' || b == ')' || b == '[' || b == ']' ||
           b == ';';
}

constexpr bool name_byte(unsigned b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '_';
}

// The character at `at`, or nothing with `wait` set when the bytes end inside it and more may
// come. At the end of the input a cut sequence is a stray byte.
struct Decoded {
    Char c;
    bool wait;

    bool valid_digit() const { return c.valid && digit_value(c.code) >= 0; }
};
Decoded decode(std::string_view data, std::size_t at, bool final) {
    bool complete;
    const Char c = char_at(data.data() + at, data.data() + data.size(), complete);
    return {c, !complete && !final};
}

// Skips white space from `at`; returns where it stops, with `wait` set when it stopped at a
// character not yet complete.
std::size_t skip_space(std::string_view data, std::size_t at, bool final, bool& wait) {
    wait = false;
    while (at < data.size()) {
        const unsigned b = std::uint8_t(data[at]);
        if (b < 0x80) {
            if (!ascii_space(b)) return at;
            ++at;
            continue;
        }
        const Decoded d = decode(data, at, final);
        if (d.wait) {
            wait = true;
            return at;
        }
        if (!d.c.valid || !is_space(d.c.code)) return at;
        at += d.c.size;
    }
    return at;
}

// A decimal digit character at `at`: its length, 0 for none, -1 to wait.
int digit_length(std::string_view data, std::size_t at, bool final) {
    const unsigned b = std::uint8_t(data[at]);
    if (b < 0x80) return b >= '0' && b <= '9';
    const Decoded d = decode(data, at, final);
    if (d.wait) return -1;
    return d.c.valid && digit_value(d.c.code) >= 0 ? d.c.size : 0;
}

// Where the token at `p` ends when it is one of the common kinds in ASCII and the bytes that
// settle it are at hand: a word of ASCII letters and signs ended by an ASCII byte that ends
// words, or digits followed by dots and then a byte that is not a dot (a move number, which no
// result can be: a result's second byte is a sign). 0 for anything else, which the general
// reading then settles.
std::size_t plain_token(std::string_view data, std::size_t p) {
    const std::size_t size = data.size();
    const unsigned first = std::uint8_t(data[p]);
    std::size_t at = p + 1;
    if (STARTS[first] == WORD) {
        while (at < size && WORD_BYTES[std::uint8_t(data[at])] == IN_WORD) ++at;
        return at < size && WORD_BYTES[std::uint8_t(data[at])] == END_WORD ? at : 0;
    }
    if (STARTS[first] != DIGIT) return 0;
    while (at < size && data[at] >= '0' && data[at] <= '9') ++at;
    if (at == size || data[at] != '.') return 0;
    while (at < size && data[at] == '.') ++at;
    return at < size ? at : 0;
}

}  // namespace

Tokenizer::Outcome Tokenizer::finish(Token& out, TokenKind kind, std::size_t end) {
    token_.kind = kind;
    token_.end = end;
    out = token_;
    position_ = end;
    partial_ = Partial::None;
    return Outcome::Token;
}

Tokenizer::Outcome Tokenizer::wait(Partial partial, std::size_t scanned) {
    partial_ = partial;
    scanned_ = scanned;
    return Outcome::NeedMore;
}

std::size_t Tokenizer::shrink(std::string& data, std::size_t keep) {
    switch (partial_) {
        case Partial::Comment:
        case Partial::LineComment:
        case Partial::Nag:
        case Partial::Digits:
        case Partial::Dots:
        case Partial::Word: break;
        default: return 0;
    }
    const std::size_t from = token_.begin + keep;
    if (scanned_ <= from) return 0;
    const std::size_t count = scanned_ - from;
    data.erase(data.begin() + std::ptrdiff_t(from), data.begin() + std::ptrdiff_t(scanned_));
    scanned_ = from;
    if (token_.stray != std::string_view::npos && token_.stray >= from)
        token_.stray = std::string_view::npos;
    return count;
}

void Tokenizer::drop(std::string_view data, std::size_t count) {
    if (count == 0) return;
    if (count < origin_) {
        origin_ -= count;
    } else {
        origin_line_start_ = line_start(data, count);
        origin_ = 0;
    }
    position_ -= count;
    scanned_ = scanned_ >= count ? scanned_ - count : 0;
    for (std::size_t* at : {&token_.begin, &token_.name_begin, &token_.name_end,
                            &token_.value_begin, &token_.value_end}) {
        *at = *at >= count ? *at - count : 0;
    }
    if (token_.stray != std::string_view::npos) token_.stray -= count;
}

bool Tokenizer::plain(std::string_view data, Token& out) {
    std::size_t p = position_;
    while (p < data.size() && STARTS[std::uint8_t(data[p])] == SPACE) ++p;
    position_ = p;
    if (p == data.size()) return false;
    const std::size_t end = plain_token(data, p);
    if (!end) return false;
    out.kind = STARTS[std::uint8_t(data[p])] == DIGIT ? TokenKind::Number : TokenKind::Word;
    out.begin = p;
    out.end = end;
    out.stray = std::string_view::npos;
    position_ = end;
    return true;
}

Tokenizer::Outcome Tokenizer::start(std::string_view data, bool final, Token& out) {
    // White space separates tokens and means nothing else: it is passed over here.
    std::size_t p = position_;
    for (;;) {
        while (p < data.size() && STARTS[std::uint8_t(data[p])] == SPACE) ++p;
        if (p == data.size() || std::uint8_t(data[p]) < 0x80) break;
        const Decoded d = decode(data, p, final);
        if (d.wait) {
            position_ = p;
            return Outcome::NeedMore;
        }
        if (!d.c.valid || !is_space(d.c.code)) break;
        p += d.c.size;
    }
    position_ = p;
    if (p == data.size()) return final ? Outcome::End : Outcome::NeedMore;
    token_.begin = p;
    token_.stray = std::string_view::npos;
    const unsigned b = std::uint8_t(data[p]);
    switch (STARTS[b]) {
        case BRACE: scanned_ = p + 1; return resume_as(Partial::Comment, data, final, out);
        case SEMICOLON:
            token_.kind = TokenKind::LineComment;
            scanned_ = p + 1;
            return resume_as(Partial::LineComment, data, final, out);
        case PERCENT:
            if (line_start(data, p)) {
                token_.kind = TokenKind::Escape;
                scanned_ = p + 1;
                return resume_as(Partial::LineComment, data, final, out);
            }
            break;
        case BRACKET:
            tag_step_ = TagStep::Bracket;
            scanned_ = p + 1;
            return resume_as(Partial::Tag, data, final, out);
        case OPEN: return finish(out, TokenKind::Open, p + 1);
        case CLOSE: return finish(out, TokenKind::Close, p + 1);
        case DOLLAR: {
            if (p + 1 == data.size()) {
                if (!final) return Outcome::NeedMore;
                return finish(out, TokenKind::Other, p + 1);
            }
            const int n = digit_length(data, p + 1, final);
            if (n < 0) return Outcome::NeedMore;
            if (n == 0) return finish(out, TokenKind::Other, p + 1);
            token_.kind = TokenKind::Nag;
            scanned_ = p + 1 + std::size_t(n);
            return resume_as(Partial::Nag, data, final, out);
        }
        case DIGIT:
        case STAR: {
            if (b == '0' || b == '1' || b == '*') {
                const Outcome found = result(data, final, out);
                if (found != Outcome::End) return found;
            }
            if (STARTS[b] == STAR) break;
            scanned_ = p + 1;
            return resume_as(Partial::Digits, data, final, out);
        }
        case DOT:
            token_.kind = TokenKind::Dots;
            scanned_ = p + 1;
            return resume_as(Partial::Dots, data, final, out);
        case SINGLE: return finish(out, TokenKind::Other, p + 1);
        case HIGH: {
            const Decoded d = decode(data, p, final);
            if (d.valid_digit()) {
                scanned_ = p + d.c.size;
                return resume_as(Partial::Digits, data, final, out);
            }
            break;
        }
        default: break;
    }
    scanned_ = p;
    return resume_as(Partial::Word, data, final, out);
}

Tokenizer::Outcome Tokenizer::resume_as(Partial partial, std::string_view data, bool final,
                                        Token& out) {
    partial_ = partial;
    return resume(data, final, out);
}

Tokenizer::Outcome Tokenizer::resume(std::string_view data, bool final, Token& out) {
    const std::size_t size = data.size();
    switch (partial_) {
        case Partial::Comment: {
            const void* close = std::memchr(data.data() + scanned_, '}', size - scanned_);
            if (close)
                return finish(out, TokenKind::Comment,
                              std::size_t(static_cast<const char*>(close) - data.data()) + 1);
            if (!final) return wait(Partial::Comment, size);
            return finish(out, TokenKind::OpenComment, size);
        }
        case Partial::LineComment: {
            const void* newline = std::memchr(data.data() + scanned_, '\n', size - scanned_);
            if (newline)
                return finish(out, token_.kind,
                              std::size_t(static_cast<const char*>(newline) - data.data()));
            if (!final) return wait(Partial::LineComment, size);
            return finish(out, token_.kind, size);
        }
        case Partial::Nag: {
            std::size_t at = scanned_;
            while (at < size) {
                const int n = digit_length(data, at, final);
                if (n < 0) return wait(Partial::Nag, at);
                if (n == 0) return finish(out, TokenKind::Nag, at);
                at += std::size_t(n);
            }
            if (!final) return wait(Partial::Nag, at);
            return finish(out, TokenKind::Nag, at);
        }
        case Partial::Dots: {
            std::size_t at = scanned_;
            while (at < size && data[at] == '.') ++at;
            if (at == size && !final) return wait(Partial::Dots, at);
            return finish(out, token_.kind, at);
        }
        case Partial::Digits: return digits(data, final, out);
        case Partial::Word: return word(data, final, out);
        case Partial::Tag: return tag(data, final, out);
        case Partial::None: break;
    }
    return start(data, final, out);
}

// Digits followed by dots are a move number; digits followed by anything else begin a word.
Tokenizer::Outcome Tokenizer::digits(std::string_view data, bool final, Token& out) {
    std::size_t at = scanned_;
    while (at < data.size()) {
        const unsigned b = std::uint8_t(data[at]);
        if (b - '0' < 10) {
            ++at;
            continue;
        }
        if (b < 0x80) break;
        const int n = digit_length(data, at, final);
        if (n < 0) return wait(Partial::Digits, at);
        if (n == 0) break;
        at += std::size_t(n);
    }
    if (at == data.size() && !final) return wait(Partial::Digits, at);
    scanned_ = at;
    if (at < data.size() && data[at] == '.') {
        token_.kind = TokenKind::Number;
        scanned_ = at + 1;
        partial_ = Partial::Dots;
        return resume(data, final, out);
    }
    return word(data, final, out);
}

Tokenizer::Outcome Tokenizer::word(std::string_view data, bool final, Token& out) {
    const std::size_t size = data.size();
    std::size_t at = scanned_;
    while (at < size) {
        const std::uint8_t kind = WORD_BYTES[std::uint8_t(data[at])];
        if (kind == IN_WORD) {
            ++at;
            continue;
        }
        if (kind == END_WORD) return finish(out, TokenKind::Word, at);
        const Decoded d = decode(data, at, final);
        if (d.wait) return wait(Partial::Word, at);
        if (d.c.valid && is_space(d.c.code)) return finish(out, TokenKind::Word, at);
        if (!d.c.valid && token_.stray == std::string_view::npos) token_.stray = at;
        at += d.c.size;
    }
    if (!final) return wait(Partial::Word, at);
    return finish(out, TokenKind::Word, at);
}

// [ white space, a name of letters, digits and underscores, white space, a value in quotes
// (a backslash takes the next character, the line end included; an unescaped line end ends
// the attempt), white space, ]. Each step resumes where the bytes ran out. Anything else, and
// a tag longer than LONGEST_TAG, leaves the bracket a token of its own.
Tokenizer::Outcome Tokenizer::tag(std::string_view data, bool final, Token& out) {
    const std::size_t stop = std::min(data.size(), token_.begin + LONGEST_TAG);
    const bool ends = final || stop < data.size();  // nothing more can come within the bound
    const std::string_view view = head(data, stop);
    std::size_t at = scanned_;
    const auto lone_bracket = [&] { return finish(out, TokenKind::Other, token_.begin + 1); };
    const auto more = [&](std::size_t where) {
        return ends ? lone_bracket() : wait(Partial::Tag, where);
    };
    for (;;) {
        switch (tag_step_) {
            case TagStep::Bracket:
            case TagStep::Quote:
            case TagStep::Bracket2: {
                bool waiting;
                at = skip_space(view, at, ends, waiting);
                if (waiting || at == stop) return more(at);
                const unsigned b = std::uint8_t(view[at]);
                if (tag_step_ == TagStep::Bracket) {
                    if (!name_byte(b)) return lone_bracket();
                    token_.name_begin = at++;
                    tag_step_ = TagStep::Name;
                } else if (tag_step_ == TagStep::Quote) {
                    if (b != '"') return lone_bracket();
                    token_.value_begin = ++at;
                    tag_step_ = TagStep::Value;
                } else {
                    if (b != ']') return lone_bracket();
                    return finish(out, TokenKind::Tag, at + 1);
                }
                break;
            }
            case TagStep::Name:
                while (at < stop && name_byte(std::uint8_t(view[at]))) ++at;
                if (at == stop) return more(at);
                token_.name_end = at;
                tag_step_ = TagStep::Quote;
                break;
            case TagStep::Value:
                // The bytes of a character beyond ASCII are never a quote, a backslash or a
                // line end, so the value is scanned byte by byte.
                for (;;) {
                    if (at == stop) return more(at);
                    const char c = view[at];
                    if (c == '"') break;
                    if (c == '\n') return lone_bracket();
                    if (c == '\\') {
                        if (at + 1 == stop) return more(at);
                        at += 2;
                    } else {
                        ++at;
                    }
                }
                token_.value_end = at++;
                tag_step_ = TagStep::Bracket2;
                break;
        }
    }
}

// One of the results at the token's start, followed by a delimiter or the end of the input;
// End when there is none, which leaves the other readings of the bytes.
Tokenizer::Outcome Tokenizer::result(std::string_view data, bool final, Token& out) {
    const std::size_t p = position_;
    const char first = data[p];
    std::string_view candidates[2];
    if (first == '1') {
        candidates[0] = "1-0";
        candidates[1] = "1/2-1/2";
    } else if (first == '0') {
        candidates[0] = "0-1";
    } else {
        candidates[0] = "*";
    }
    for (const std::string_view r : candidates) {
        if (r.empty()) break;
        std::size_t n = 1;
        while (n < r.size() && p + n < data.size() && data[p + n] == r[n]) ++n;
        if (n < r.size()) {
            if (p + n < data.size() || final) continue;  // a different byte, or the end
            return Outcome::NeedMore;
        }
        const std::size_t after = p + r.size();
        if (after == data.size()) {
            if (!final) return Outcome::NeedMore;
            return finish(out, TokenKind::Result, after);
        }
        const unsigned b = std::uint8_t(data[after]);
        if (b < 0x80) {
            if (ascii_delimiter(b)) return finish(out, TokenKind::Result, after);
            continue;
        }
        const Decoded d = decode(data, after, final);
        if (d.wait) return Outcome::NeedMore;
        if (d.c.valid && is_space(d.c.code)) return finish(out, TokenKind::Result, after);
    }
    return Outcome::End;
}

}  // namespace pgn
