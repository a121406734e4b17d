// What an operation of the module is, seen from the C++ side. Nothing here includes Python.h.
//
// An operation body is a free function in the file of its concern under src/ (moves.cpp holds
// legal_moves and apply_uci, san.cpp the two SAN operations, ...):
//
//     Answer<FenText> apply_uci(const chess::Board& board, std::string_view uci);
//
// The frame has already done the steps every function shares, in this order: the parameter
// slots are filled, every argument is read as a view of its str's UTF-8 form (exactly the
// caller's characters, untrimmed), and the first one, `fen`, is loaded with parse_board. The
// body receives that Board and the remaining arguments' texts in parameter order, and owns
// nothing else.
//
// It returns one of the result types below, or an Answer holding either the result or a
// Refusal: the exact message of the ValueError the caller sees. A body that cannot fail may
// return the bare result type. The frame turns the result into Python objects:
//
//     std::string, FenText          -> str, new every call
//     bool                          -> bool
//     int                           -> int
//     chess::Color                  -> "white" or "black"
//     UciMove                       -> str (the move text)
//     UciMoves                      -> list of str (the move texts)
//     SquareNames                   -> list of str (the square names)
//     Placement                     -> list of 3-tuples of str
//
// The texts of the last five come from small fixed sets (a few thousand move texts, 64 square
// names, two colour words, 768 triples), and str and tuple objects cannot change, so the frame
// makes each one once and hands the same object out again; only the lists are new every call.
// So those bodies say which texts, never write their characters.
//
// A state that no loaded position can reach is not a Refusal: it goes through
// chess::invariant_failure, which the frame reports and raises as PanicException.
//
// Adding an operation: declare its body below, write it beside the bodies of its concern, and
// add its row to the surface table in python/module.cpp.
#pragma once

#include <array>
#include <initializer_list>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "chess/fen.h"
#include "chess/movegen.h"

namespace morvek {

// The message of a ValueError an operation raises on purpose. Explicit, so that an Answer
// built from text is always a result and never a refusal by accident.
struct Refusal {
    explicit Refusal(std::string text) : message(std::move(text)) {}
    std::string message;
};

// A result or the refusal to give one. The core has its own value-or-error, chess::Result,
// and the two stay apart on purpose: the core's errors are small values that name what was
// wrong and know nothing of the caller's text or of messages, while a Refusal is the finished
// message, written once where the operation has the caller's text at hand (parse_board,
// read_legal_move). Each core error becomes a Refusal in exactly one such place.
template <class T>
using Answer = std::variant<T, Refusal>;

// The refusal passed on unchanged, or `next` applied to the result (`next` returns a bare
// value), so that an operation reads as its steps without unwrapping each one.
template <class T, class Next>
auto and_then(Answer<T>&& answer, Next&& next) -> Answer<std::invoke_result_t<Next, const T&>> {
    if (Refusal* refusal = std::get_if<Refusal>(&answer)) return std::move(*refusal);
    return next(std::get<T>(answer));
}

// A message template filled in: the pieces joined, in one allocation.
inline std::string message(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) size += part.size();
    std::string out;
    out.reserve(size);
    for (const std::string_view part : parts) out.append(part);
    return out;
}

// A short text kept inside the value itself, so that results made of many small texts (move
// and square lists) or one FEN cost no allocation per text.
template <std::size_t N>
struct InlineText {
    std::uint8_t size = 0;
    char chars[N];

    std::string_view view() const { return std::string_view(chars, size); }
    // `write` fills the buffer from its start and returns where it stopped.
    template <class Write>
    static InlineText written(Write&& write) {
        InlineText t;
        t.size = std::uint8_t(write(t.chars) - t.chars);
        return t;
    }
};

using ShortText = InlineText<7>;                    // a square, a move, a letter, a colour
using FenText = InlineText<chess::MAX_FEN_LENGTH>;  // a whole position
using SquareTriple = std::array<ShortText, 3>;

// san_to_uci: the move read, in its standard UCI form.
struct UciMove {
    chess::Move standard_form;
};

// legal_moves: the moves in generation order, each already in its standard UCI form.
struct UciMoves {
    chess::MoveList moves;
};

// Every standard UCI text as a number below UCI_CODES: from, to, and the promotion piece's
// index (1 to 4) or 0.
constexpr std::size_t UCI_CODES = std::size_t(5) << 12;
constexpr std::size_t uci_code(const chess::Move& m) {
    const std::size_t promotion = m.promotion ? chess::index(*m.promotion) : 0;
    return chess::index(m.from) | std::size_t(chess::index(m.to)) << 6 | promotion << 12;
}
static_assert(uci_code(chess::Move{chess::Square::H8, chess::Square::H8, chess::Piece::Queen}) <
              UCI_CODES);

inline ShortText uci_text(const chess::Move& standard_form) {
    return ShortText::written([&](char* out) { return chess::write_move(out, standard_form); });
}

// attackers: a set of squares, listed rising.
struct SquareNames {
    chess::BitBoard squares;
};

inline ShortText square_text(chess::Square s) {
    return ShortText::written([&](char* out) { return chess::write_square(out, s); });
}

// piece_list: one entry a piece, rising by square.
struct PlacedPiece {
    chess::Square square;
    chess::Piece piece;
    chess::Color color;
};

constexpr std::size_t PLACEMENT_CODES = 64 * std::size_t(chess::PIECE_KINDS) * 2;
constexpr std::size_t placement_code(const PlacedPiece& p) {
    const std::size_t square_piece =
        std::size_t(chess::index(p.square)) * std::size_t(chess::PIECE_KINDS) +
        chess::index(p.piece);
    return square_piece * 2 + chess::index(p.color);
}

struct Placement {
    std::size_t size = 0;
    std::array<PlacedPiece, 64> pieces;

    const PlacedPiece* begin() const { return pieces.data(); }
    const PlacedPiece* end() const { return pieces.data() + size; }
};

// The (square, capital letter, colour word) texts of one placed piece.
inline SquareTriple placement_texts(const PlacedPiece& p) {
    const char letter = chess::piece_letter(p.piece);
    const std::string_view word = chess::color_name(p.color);
    ShortText letter_text, colour_text;
    letter_text.size = 1;
    letter_text.chars[0] = letter;
    colour_text.size = std::uint8_t(word.size());
    word.copy(colour_text.chars, word.size());
    return {square_text(p.square), letter_text, colour_text};
}

// Every position the module hands back, written so that reading it again gives the same
// position.
inline FenText returned_fen(const chess::Board& board) {
    return FenText::written(
        [&](char* out) { return chess::write_fen(out, board, chess::CastlingLetters::Either); });
}

// The frame's FEN step (position.cpp), free of Python like the bodies, so that everything
// built without the interpreter loads a position exactly as a call does (chess::read_fen).
Answer<chess::Board> parse_board(std::string_view fen);

// The bodies, in the order of the module's surface table.
Placement piece_list(const chess::Board& board);
UciMoves legal_moves(const chess::Board& board);
Answer<SquareNames> attackers(const chess::Board& board, std::string_view sq,
                              std::string_view color);
Answer<FenText> apply_uci(const chess::Board& board, std::string_view uci);
Answer<std::string> uci_to_san(const chess::Board& board, std::string_view uci);
Answer<UciMove> san_to_uci(const chess::Board& board, std::string_view san);
Answer<int> see_move(const chess::Board& board, std::string_view uci);
Answer<FenText> null_move_fen(const chess::Board& board);
bool is_check(const chess::Board& board);
chess::Color side_to_move(const chess::Board& board);

}  // namespace morvek
