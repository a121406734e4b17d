// Where games begin and end in a stream of tokens, and which words are moves: the one
// decision that the splitter (cutting the input into chunks of whole games) and the walk
// (reading each game of a chunk) must take alike, so it lives here for both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tokens.h"

namespace pgn {

// A game whose text runs longer than this is not held whole: it is handed on cut at this
// length and reported.
constexpr std::size_t LONGEST_GAME = std::size_t(32) << 20;

// Words that stand for a move that passes.
inline bool is_null_move(std::string_view word) {
    return word == "--" || word == "Z0" || word == "0000" || word == "@@@@";
}

// The signs writers put after a move, apart from it: !?, +-, =, the Unicode evaluation
// signs, a novelty's N or TN, an en passant capture's e.p.
bool is_annotation(std::string_view word);

namespace detail {
constexpr std::array<bool, 256> SAN_FIRST = [] {
    std::array<bool, 256> t{};
    for (const char c : std::string_view("abcdefghKQRBNO0")) t[std::uint8_t(c)] = true;
    return t;
}();
}  // namespace detail

// Whether a word of the main line is a move: one that starts as SAN does, a null move, or
// anything that is not an annotation sign.
inline bool is_move_word(std::string_view word) {
    // Nearly every word is a move, and SAN starts with one of a few letters: the signs are
    // looked at only for the rest, and for the few signs that start like SAN.
    if (detail::SAN_FIRST[std::uint8_t(word[0])]) {
        if (word.size() > 4 || (word[0] != 'N' && word[0] != 'e')) return true;
        return word != "N" && word != "e.p." && word != "e.p" && word != "ep";
    }
    return is_null_move(word) || !is_annotation(word);
}

enum class Effect : std::uint8_t {
    None,
    Move,        // a move of the main line
    EndsBefore,  // a tag after the movetext: the game ended before it, the tag starts the next
    EndsAfter,   // a result of the main line ends the game
    OpenEnd,     // a comment that runs to the end of the input ends the game there
};

// The game being read. A game starts with its first tag or movetext token (comments, NAGs,
// dots and white space between games start none); its end resets the state for the next.
struct GameState {
    bool started = false;
    bool in_movetext = false;
    std::uint32_t depth = 0;  // of variations

    Effect take(const Token& token, std::string_view data) {
        switch (token.kind) {
            case TokenKind::Comment:
            case TokenKind::LineComment:
            case TokenKind::Escape:
            case TokenKind::Nag:
            case TokenKind::Dots: return Effect::None;
            case TokenKind::OpenComment: *this = GameState{}; return Effect::OpenEnd;
            case TokenKind::Tag:
                if (in_movetext) {
                    *this = GameState{true, false, 0};
                    return Effect::EndsBefore;
                }
                started = true;
                return Effect::None;
            default: break;
        }
        started = true;
        in_movetext = true;
        if (token.kind == TokenKind::Open) {
            ++depth;
            return Effect::None;
        }
        if (token.kind == TokenKind::Close) {
            if (depth) --depth;
            return Effect::None;
        }
        if (depth) return Effect::None;
        if (token.kind == TokenKind::Result) {
            *this = GameState{};
            return Effect::EndsAfter;
        }
        if (token.kind == TokenKind::Word && is_move_word(token.text(data))) return Effect::Move;
        return Effect::None;
    }
};

}  // namespace pgn
