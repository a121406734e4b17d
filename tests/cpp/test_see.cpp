#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <stdexcept>
#include <string>

#include "chess/board.h"
#include "chess/movegen.h"
#include "chess/uci.h"
#include "common.h"
#include "see/see.h"

using namespace chess;

namespace {

using test::load;

using test::squares;

template <class F>
std::string failure_of(F&& f) {
    try {
        f();
    } catch (const InvariantFailure& e) {
        return e.message;
    }
    return "no failure";
}

struct ExchangeCase {
    const char* fen;
    const char* uci;
    std::int32_t expected;
};

void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.fen << " " << c.uci; }

class Exchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(Exchange, LegalMoveGivesTheExchangeBalance) {
    const ExchangeCase& c = GetParam();
    const Board board = load(c.fen);
    const auto move = parse_uci_move(board, c.uci);
    ASSERT_TRUE(move.ok()) << c.uci;
    ASSERT_TRUE(is_legal(board, move.value())) << c.fen << " " << c.uci;
    EXPECT_EQ(see_of_move(board, move.value()), c.expected) << c.fen << " " << c.uci;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Exchange,
    ::testing::Values(
        ExchangeCase{"7k/8/8/3n4/8/8/8/K2R4 w - - 0 1", "d1d5", 300},
        // The pawn's recapture ends the exchange: 300 - 100.
        ExchangeCase{"7k/8/2p5/3n4/4P3/8/8/K7 w - - 0 1", "e4d5", 200},
        ExchangeCase{"7k/8/4p3/3p4/8/8/8/K2Q4 w - - 0 1", "d1d5", -800},
        ExchangeCase{"7k/8/8/8/8/5N2/8/K7 w - - 0 1", "f3g5", 0},
        ExchangeCase{"7k/8/7p/8/8/5N2/8/K7 w - - 0 1", "f3g5", -300},
        // The rook on d1 joins through d2 once d2 has left the occupancy.
        ExchangeCase{"3r3k/3r4/8/8/8/8/3R4/K2R4 w - - 0 1", "d2d7", 500},
        // The king recaptures on an undefended square, but not on a defended one, even when
        // the defender stood behind the moving queen.
        ExchangeCase{"4k3/5p2/8/8/8/5Q2/8/K7 w - - 0 1", "f3f7", -800},
        ExchangeCase{"4k3/5p2/8/8/2B5/5Q2/8/K7 w - - 0 1", "f3f7", 100},
        ExchangeCase{"4k3/5p2/8/3Q4/2B5/8/8/K7 w - - 0 1", "d5f7", 100},
        // The king may take back on the undefended d5, not on the defended one.
        ExchangeCase{"8/8/4k3/3n4/4P3/8/8/K7 w - - 0 1", "e4d5", 200},
        ExchangeCase{"8/8/4k3/3n4/4P3/8/8/K2R4 w - - 0 1", "e4d5", 300},
        // Bxd5 would be answered by Nxd5, so White stops after exd5: the rook for a pawn.
        ExchangeCase{"7k/8/4pn2/3p4/8/1B6/8/K2R4 w - - 0 1", "d1d5", -400},
        // exd5 cxd5 Nxd5: the rook for nothing, which a cut-off after cxd5 would miss.
        ExchangeCase{"4k3/8/2p5/3r4/4P3/2N5/8/4K3 w - - 0 1", "e4d5", 500},
        ExchangeCase{"4k3/8/2p5/3n4/4P3/2N5/8/4K3 w - - 0 1", "e4d5", 300},
        // Qxf5 Rxf5 Rxf5 Qxf5: Black's queen for a pawn.
        ExchangeCase{"k4r2/8/6q1/5P2/8/7Q/8/K4R2 b - - 0 1", "g6f5", -800},
        // En passant; the taken pawn's square stops blocking the file, for either mover.
        ExchangeCase{"7k/8/8/3pP3/8/8/8/K7 w - d6 0 1", "e5d6", 100},
        ExchangeCase{"7k/8/8/3pP3/8/7K/8/3r4 w - d6 0 1", "e5d6", 0},
        ExchangeCase{"8/8/k7/8/3pP3/8/8/7K b - e3 0 1", "d4e3", 100},
        ExchangeCase{"4R3/8/k7/8/3pP3/8/8/7K b - e3 0 1", "d4e3", 0},
        // A double step is no capture, and en passant is no recapture.
        ExchangeCase{"7k/8/8/8/3p4/8/4P3/K7 w - - 0 1", "e2e4", 0},
        // The promoting pawn counts as a pawn whatever it becomes.
        ExchangeCase{"r6k/1P6/1n6/8/8/8/8/K7 w - - 0 1", "b7a8q", 400},
        ExchangeCase{"r6k/1P6/1n6/8/8/8/8/K7 w - - 0 1", "b7a8n", 400},
        // Castling, in standard text and as king onto rook, captures nothing.
        ExchangeCase{"1k6/8/8/8/8/8/8/4K2R w K - 0 1", "e1g1", 0},
        ExchangeCase{"1k6/8/8/8/8/8/8/4K2R w K - 0 1", "e1h1", 0},
        ExchangeCase{"7k/8/8/8/8/8/8/K7 w - - 0 1", "a1b1", 0},
        // The bishop on d3 (index 19) takes before the knight on e3 (index 20) and opens the
        // diagonal for the bishop on c2, whose capture the knight answers: the rook is lost.
        ExchangeCase{"7k/8/8/2R5/8/3bn3/2B5/K7 w - - 0 1", "c5f5", -500}));

// The side comes from the moving piece, not from the side to move.
TEST(Exchange, MoverOfTheOtherSideIsAnsweredByTheSideToMove) {
    const Board board = load("7k/8/7p/8/8/5N2/8/K7 w - - 0 1");
    EXPECT_EQ(see(board, Square::H6, Square::G5), -100);
}

struct AttackersCase {
    Square square;
    BitBoard removed;  // left out of the occupancy
    BitBoard white;
    BitBoard black;
};

// White pawns on d4 (pushes onto d5) and e6 and a black pawn on c4 face the wrong way to take
// on d5; the bishops on h1 and a8 and the rook on d1 stand behind single blockers.
constexpr const char* ATTACKERS_FEN = "b2r3k/8/2p1P3/q7/2pPPN2/8/8/3R2KB w - - 0 1";

TEST(Exchange, AttackersToBothColoursUnderTheGivenOccupancy) {
    using S = Square;
    const Board board = load(ATTACKERS_FEN);
    const AttackersCase cases[] = {
        {S::D5, {}, squares({S::E4, S::F4}), squares({S::C6, S::A5, S::D8})},
        {S::D5, squares({S::E4}), squares({S::F4, S::H1}), squares({S::C6, S::A5, S::D8})},
        {S::D5, squares({S::C6}), squares({S::E4, S::F4}), squares({S::A5, S::D8, S::A8})},
        {S::D5, squares({S::D4}), squares({S::E4, S::F4, S::D1}), squares({S::C6, S::A5, S::D8})},
        {S::D5, squares({S::D8}), squares({S::E4, S::F4}), squares({S::C6, S::A5})},
        // An occupied square: its own piece is never among its attackers.
        {S::D4, {}, squares({S::D1}), squares({S::D8})},
        {S::G2, {}, squares({S::G1, S::H1, S::F4}), {}},
        {S::G2, squares({S::C6, S::E4}), squares({S::G1, S::H1, S::F4}), squares({S::A8})},
        {S::G8, {}, {}, squares({S::H8, S::D8})},
    };
    for (const AttackersCase& c : cases) {
        char name[2];
        write_square(name, c.square);
        SCOPED_TRACE(std::string(name, 2) + " without " + std::to_string(c.removed.bits));
        const BitBoard found = attackers_to(board, c.square, board.occupied().without(c.removed));
        EXPECT_EQ(found.bits, (c.white | c.black).bits);
        EXPECT_EQ((found & board.colors[index(Color::White)]).bits, c.white.bits);
    }
}

TEST(Exchange, BrokenFromSquareIsAnInvariantFailure) {
    Board board = load("7k/8/8/8/8/8/8/K7 w - - 0 1");
    EXPECT_EQ(failure_of([&] { (void)see(board, Square::D4, Square::D5); }),
              "SEE: no piece on from-square");
    board.pieces[index(Piece::Knight)] |= BitBoard::from(Square::D4);
    EXPECT_EQ(failure_of([&] { (void)see(board, Square::D4, Square::E6); }),
              "SEE: from-square has no color");
}

// Knights on all eight knight squares of d4 and queens along its lines, each line held by one
// side, so every capture is at least as valuable as the one before: a white
// knight from b3 starts, the knights alternate, then the queens.
Board crowded_d4(bool with_extra_white_queens) {
    using S = Square;
    Board b;
    const auto put = [&](Color c, Piece p, BitBoard set) {
        b.pieces[index(p)] |= set;
        b.colors[index(c)] |= set;
    };
    put(Color::White, Piece::Knight, squares({S::B3, S::C2, S::E2, S::F3}));
    put(Color::Black, Piece::Knight, squares({S::B5, S::C6, S::E6, S::F5}));
    put(Color::White, Piece::Queen,
        squares(
            {S::D5, S::D6, S::D7, S::E4, S::F4, S::G4, S::E5, S::F6, S::G7, S::C3, S::B2, S::A1}));
    if (with_extra_white_queens) put(Color::White, Piece::Queen, squares({S::D8, S::H4, S::H8}));
    put(Color::Black, Piece::Queen,
        squares(
            {S::D3, S::D2, S::D1, S::C4, S::B4, S::A4, S::C5, S::B6, S::A7, S::E3, S::F2, S::G1}));
    return b;
}

TEST(Exchange, GainListHoldsThirtyOneRecapturesAndNoMore) {
    // 12 queens a side: the last black queen makes the 31st recapture and the exchange ends,
    // with the white knight lost.
    EXPECT_EQ(see(crowded_d4(false), Square::B3, Square::D4), -300);
    // A 13th white queen would need a 33rd entry.
    EXPECT_EQ(failure_of([] { (void)see(crowded_d4(true), Square::B3, Square::D4); }),
              "SEE: gain list is full");
}

}  // namespace
