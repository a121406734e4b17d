// PGN's tokens, read as the command's Python reader read them (one regular expression whose
// alternatives were tried in order at each place): {comments} (an open one runs to the end of
// the input), ;comments to the line end, % escape lines, [Name "value"] tags, parentheses,
// $NAGs, results (followed by a delimiter or the end), move numbers, dots, words, and single
// characters that are none of these. White space (Python's, Unicode's) only separates them.
//
// The text may arrive in pieces: a token that the bytes so far cannot settle is reported as
// unfinished, and the reading resumes where it stopped once more bytes have come. Every token
// that can grow without bound (white space, comments, words, digits and dots, a tag's value)
// resumes from the last byte looked at, so a text fed in pieces costs what it costs whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pgn {

enum class TokenKind : std::uint8_t {
    Comment,      // {...}
    OpenComment,  // { without its closing brace before the end of the input
    LineComment,  // ; to the line end
    Escape,       // % at a line start, to the line end
    Tag,          // [Name "value"]
    Open,         // (
    Close,        // )
    Nag,          // $ and digits
    Result,       // 1-0, 0-1, 1/2-1/2 or *
    Number,       // digits and dots
    Dots,
    Word,
    Other,  // a single }, ], $ or [ that starts no tag
};

// A tag's value may span lines only by escaping the line end; one longer than this is not
// read as a tag (its "[" stands alone), which bounds what a reader must hold to decide.
constexpr std::size_t LONGEST_TAG = std::size_t(32) << 20;

struct Token {
    TokenKind kind;
    std::size_t begin, end;
    // A tag's name and its value as written (escapes still in it).
    std::size_t name_begin, name_end, value_begin, value_end;
    // A word's first byte that is not part of a UTF-8 character, or npos.
    std::size_t stray;

    std::string_view text(std::string_view data) const {
        return std::string_view(data.data() + begin, end - begin);
    }
};

class Tokenizer {
  public:
    enum class Outcome : std::uint8_t { Token, NeedMore, End };

    // Reading from `start`, which is at a line start or not (a % there begins an escape line
    // only at one); the input's start is one.
    Tokenizer() = default;
    Tokenizer(std::size_t start, bool line_start)
        : position_(start), origin_(start), origin_line_start_(line_start) {}

    // The next token of `data` from position(); `final` says no byte will follow `data`.
    // NeedMore: the bytes so far settle nothing more (call again with more data, the same
    // bytes at the same places); End: `final`, and nothing is left.
    Outcome next(std::string_view data, bool final, Token& out) {
        if (partial_ != Partial::None) return resume(data, final, out);
        if (plain(data, out)) return Outcome::Token;
        return start(data, final, out);
    }

    // Where the next token starts, and how far the bytes after it have been read.
    std::size_t position() const { return position_; }
    std::size_t scanned() const { return partial_ == Partial::None ? position_ : scanned_; }
    // Whether the unfinished token is a tag being read, which may yet turn out a lone "[";
    // a word or digits, which start a game; a comment, which starts one if it stays open.
    bool reading_tag() const { return partial_ == Partial::Tag; }
    bool reading_word() const { return partial_ == Partial::Word || partial_ == Partial::Digits; }
    bool reading_comment() const { return partial_ == Partial::Comment; }

    // Whether the byte at `at` starts a line.
    bool line_start(std::string_view data, std::size_t at) const {
        return at == origin_ ? origin_line_start_ : data[at - 1] == '\n';
    }

    // The first `count` bytes (no more than position()) are dropped from the data: positions
    // shift down. `data` is the text before the drop.
    void drop(std::string_view data, std::size_t count);

    // Cuts the middle out of an unfinished comment, escape line, NAG, run of digits or dots,
    // or word whose content no longer matters: its first `keep` bytes stay, and the bytes read
    // after them go. Returns the number of bytes removed from `data`.
    std::size_t shrink(std::string& data, std::size_t keep);

  private:
    enum class Partial : std::uint8_t { None, Comment, LineComment, Nag, Digits, Dots, Word, Tag };
    enum class TagStep : std::uint8_t { Bracket, Name, Quote, Value, Bracket2 };

    // The common tokens (ASCII words and move numbers settled by the bytes at hand) read at
    // once, after the ASCII white space before them; false leaves the token to start().
    bool plain(std::string_view data, Token& out);
    Outcome start(std::string_view data, bool final, Token& out);
    Outcome resume(std::string_view data, bool final, Token& out);
    Outcome resume_as(Partial partial, std::string_view data, bool final, Token& out);
    Outcome finish(Token& out, TokenKind kind, std::size_t end);
    Outcome wait(Partial partial, std::size_t scanned);
    Outcome word(std::string_view data, bool final, Token& out);
    Outcome digits(std::string_view data, bool final, Token& out);
    Outcome tag(std::string_view data, bool final, Token& out);
    Outcome result(std::string_view data, bool final, Token& out);

    std::size_t position_ = 0;
    std::size_t scanned_ = 0;
    Partial partial_ = Partial::None;
    TagStep tag_step_ = TagStep::Bracket;
    // Where the reading started, and whether that was a line start; past it the byte before
    // tells.
    std::size_t origin_ = 0;
    bool origin_line_start_ = true;
    Token token_{};  // the unfinished token's fields found so far
};

}  // namespace pgn
