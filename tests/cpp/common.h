// What the C++ tests share: the start position, loading a test FEN as the module loads it, and
// the sweep that holds is_legal against generation.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>

#include "chess/fen.h"
#include "chess/keys.h"
#include "chess/movegen.h"
#include "operation.h"

namespace chess::test {

inline constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// The FEN the module returns of a board (rook-file letters where K, Q, k, q would name other
// rooks), read as the module reads every FEN, is that board again: pieces, side, rights by
// rook file, en passant, clocks.
inline ::testing::AssertionResult returned_fen_reads_back(const Board& b) {
    const std::string text(morvek::returned_fen(b).view());
    const auto again = read_fen(text);
    if (!again) return ::testing::AssertionFailure() << text << " -> " << error_name(again.error());
    if (!(again.value() == b))
        return ::testing::AssertionFailure() << text << " reads as another board";
    return ::testing::AssertionSuccess();
}

// A board with its position key, as only the core's tests keep it, and without.
inline Board keyed(Board b) {
    b.hash = compute_hash(b);
    return b;
}
inline Board unkeyed(Board b) {
    b.hash = 0;
    return b;
}

// Every position a test loads also proves that its returned FEN reads back.
inline Board load(const std::string& fen) {
    const auto b = read_fen(fen);
    if (!b) throw std::runtime_error("test FEN refused: " + fen);
    if (const auto back = returned_fen_reads_back(b.value()); !back)
        throw std::runtime_error("returned FEN of " + fen +
                                 " does not read back: " + back.message());
    return b.value();
}

inline BitBoard squares(std::initializer_list<Square> list) {
    BitBoard out;
    for (const Square s : list) out |= BitBoard::from(s);
    return out;
}

// is_legal accepts exactly the generated moves among every from, to and promotion, and
// movers_to names exactly the pieces generation moves to each square.
inline void expect_is_legal_agrees_with_generation(const Board& b) {
    const MoveList legal = legal_move_list(b);
    for (unsigned f = 0; f < 64; ++f)
        for (unsigned t = 0; t < 64; ++t)
            for (int p = -1; p < PIECE_KINDS; ++p) {
                const Move m{Square(f), Square(t),
                             p < 0 ? std::nullopt : std::optional<Piece>(Piece(p))};
                const bool generated = std::find(legal.begin(), legal.end(), m) != legal.end();
                ASSERT_EQ(is_legal(b, m), generated)
                    << to_fen(b, true) << " " << f << "-" << t << " " << p;
            }
    // The pieces that may go to a square, asked backwards, are those generation moves there.
    for (const Piece p : {Piece::Knight, Piece::Bishop, Piece::Rook, Piece::Queen})
        for (unsigned t = 0; t < 64; ++t) {
            BitBoard generated;
            for (const Move& m : legal)
                if (m.to == Square(t) && b.piece_on(m.from) == p && !b.is_castling(m))
                    generated |= BitBoard::from(m.from);
            ASSERT_EQ(movers_to(b, p, Square(t)).bits, generated.bits)
                << to_fen(b, true) << " " << piece_char(p) << " to " << t;
        }
}

}  // namespace chess::test
