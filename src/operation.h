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
// return the bare result type. The frame turns the result into new Python objects:
//
//     std::string, FenText          -> str
//     bool                          -> bool
//     int                           -> int
//     std::vector<ShortText>        -> list of str
//     std::vector<SquareTriple>     -> list of 3-tuples of str
//
// A state that no loaded position can reach is not a Refusal: it goes through
// chess::invariant_failure, which the frame reports and raises as PanicException.
//
// Adding an operation: declare its body below, write it beside the bodies of its concern, and
// add its row to the surface table in module.cpp.
#pragma once

#include <array>
#include <initializer_list>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "chess/board.h"

namespace morvek {

// The message of a ValueError an operation raises on purpose. Explicit, so that an Answer
// built from text is always a result and never a refusal by accident.
struct Refusal {
    explicit Refusal(std::string text) : message(std::move(text)) {}
    std::string message;
};

template <class T>
using Answer = std::variant<T, Refusal>;

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

using ShortText = InlineText<7>;                      // a square, a move, a letter, a colour
using FenText = InlineText<chess::MAX_FEN_LENGTH>;  // a whole position
using SquareTriple = std::array<ShortText, 3>;

// Every position the module hands back, written so that reading it again gives the same
// position: standard castling letters where they name the same rooks, rook-file letters
// otherwise.
inline FenText returned_fen(const chess::Board& board) {
    const bool file_letters = !chess::standard_letters_name_rights(board);
    return FenText::written([&](char* out) { return chess::write_fen(out, board, file_letters); });
}

// The frame's FEN step (frame_board.cpp), declared here, free of Python, for the fuzz targets:
// standard castling letters first, rook-file letters only when the castling field was what
// the first reading refused.
Answer<chess::Board> parse_board(std::string_view fen);

// The bodies, in the order of the module's surface table.
std::vector<SquareTriple> piece_list(const chess::Board& board);
std::vector<ShortText> legal_moves(const chess::Board& board);
Answer<std::vector<ShortText>> attackers(const chess::Board& board, std::string_view sq,
                                           std::string_view color);
Answer<FenText> apply_uci(const chess::Board& board, std::string_view uci);
Answer<std::string> uci_to_san(const chess::Board& board, std::string_view uci);
Answer<std::string> san_to_uci(const chess::Board& board, std::string_view san);
Answer<int> see_move(const chess::Board& board, std::string_view uci);
Answer<FenText> null_move_fen(const chess::Board& board);
bool is_check(const chess::Board& board);
Answer<std::string> side_to_move(const chess::Board& board);

}  // namespace morvek
