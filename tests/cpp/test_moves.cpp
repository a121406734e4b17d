#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "common.h"

using namespace chess;

namespace {

using test::load;
using test::START;

// The core's own move texts (castling as king onto rook), in generation order.
std::string core_moves(const Board& b) {
    std::string out;
    for (const Move& m : legal_move_list(b)) {
        char text[8];
        if (!out.empty()) out += ' ';
        out.append(text, write_move(text, m));
    }
    return out;
}

struct OrderCase {
    const char* fen;
    const char* moves;
};

class MoveOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(MoveOrder, FollowsTheGenerationRules) {
    EXPECT_EQ(core_moves(load(GetParam().fen)), GetParam().moves);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MoveOrder,
    ::testing::Values(
        OrderCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                  "a2a3 a2a4 b2b3 b2b4 c2c3 c2c4 d2d3 d2d4 e2e3 e2e4 f2f3 f2f4 g2g3 g2g4 h2h3 h2h4 "
                  "b1a3 b1c3 g1f3 g1h3"},
        // Promotions N, B, R, Q for each destination, destinations by square.
        OrderCase{"r3k3/1P6/8/8/8/8/8/4K3 w - - 0 1",
                  "b7a8n b7a8b b7a8r b7a8q b7b8n b7b8b b7b8r b7b8q e1d1 e1f1 e1d2 e1e2 e1f2"},
        // Castling sits among the king's moves by the rook's square.
        OrderCase{
            "4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1",
            "a1b1 a1c1 a1d1 a1a2 a1a3 a1a4 a1a5 a1a6 a1a7 a1a8 h1f1 h1g1 h1h2 h1h3 h1h4 h1h5 h1h6 "
            "h1h7 h1h8 e1a1 e1d1 e1f1 e1h1 e1d2 e1e2 e1f2"},
        OrderCase{
            "r3k2r/8/8/8/8/8/8/4K3 b kq - 0 1",
            "a8a1 a8a2 a8a3 a8a4 a8a5 a8a6 a8a7 a8b8 a8c8 a8d8 h8h1 h8h2 h8h3 h8h4 h8h5 h8h6 h8h7 "
            "h8f8 h8g8 e8d7 e8e7 e8f7 e8a8 e8d8 e8f8 e8h8"},
        // An unpinned pawn on h2 comes before the pinned one on d2; en passant after both.
        OrderCase{"k3r3/8/8/1pP5/8/8/4P2P/4K3 w - b6 0 1",
                  "h2h3 h2h4 c5c6 e2e3 e2e4 c5b6 e1d1 e1f1 e1d2 e1f2"},
        // Pinned sliders after unpinned ones of their kind, along the pin line only.
        OrderCase{"4k3/8/8/8/1b3B2/8/3B4/4K3 w - - 0 1",
                  "f4h2 f4e3 f4g3 f4e5 f4g5 f4d6 f4h6 f4c7 f4b8 d2c3 d2b4 e1d1 e1f1 e1e2 e1f2"},
        // A bishop pinned along a file has no moves at all.
        OrderCase{"4k3/4r3/8/8/8/2B5/4B3/4K3 w - - 0 1",
                  "c3a1 c3b2 c3d2 c3b4 c3d4 c3a5 c3e5 c3f6 c3g7 c3h8 e1d1 e1f1 e1d2 e1f2"},
        OrderCase{"4k3/4r3/8/8/8/8/4R3/R3K3 w Q - 0 1",
                  "a1b1 a1c1 a1d1 a1a2 a1a3 a1a4 a1a5 a1a6 a1a7 a1a8 e2e3 e2e4 e2e5 e2e6 e2e7 "
                  "e1a1 e1d1 e1f1 e1d2 e1f2"},
        // The en passant capture is refused when it would open the rank to the king.
        OrderCase{"8/8/8/KPp4r/8/8/8/7k w - c6 0 1", "b5b6 a5a4 a5a6 a5b6"},
        OrderCase{"8/8/7r/KPp5/8/8/8/7k w - c6 0 1", "b5b6 b5c6 a5a4"},
        // In check: capture or block, en passant that removes the checker, no castling.
        OrderCase{"4k3/8/8/2pP4/1K6/8/8/R6R w - c6 0 1",
                  "d5c6 b4a3 b4b3 b4c3 b4a4 b4c4 b4a5 b4b5 b4c5"},
        OrderCase{"4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1", "e1d1 e1f1 e1e2"},
        OrderCase{"4k3/8/8/8/8/5n2/8/R3K3 w Q - 0 1", "e1d1 e1f1 e1e2 e1f2"},
        // Double check: king moves only.
        OrderCase{"4k3/8/8/8/8/3n4/8/Q3K2r w - - 0 1", "e1d2 e1e2"},
        // Checkmate and stalemate: nothing.
        OrderCase{"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", ""},
        OrderCase{"k7/8/1Q6/8/8/8/8/4K3 b - - 0 1", ""}));

TEST(IsLegal, AgreesWithGenerationOnEveryFromToPair) {
    using test::expect_is_legal_agrees_with_generation;
    for (const char* fen : {
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
             "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
             "8/8/8/KPp4r/8/8/8/7k w - c6 0 1",
             "4k3/8/8/2pP4/1K6/8/8/R6R w - c6 0 1",
             "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
             "4k3/4r3/8/8/8/2B5/4B3/4K3 w - - 0 1",
         }) {
        expect_is_legal_agrees_with_generation(load(fen));
        if (HasFatalFailure()) return;
    }
}

struct LegalCase {
    const char* fen;
    Move move;
    bool legal;
};

class IsLegal : public ::testing::TestWithParam<LegalCase> {};

TEST_P(IsLegal, Table) {
    EXPECT_EQ(is_legal(load(GetParam().fen), GetParam().move), GetParam().legal);
}

constexpr const char* PROMO = "4k3/P7/8/8/8/8/8/4K3 w - - 0 1";
constexpr const char* CASTLE = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1";
INSTANTIATE_TEST_SUITE_P(
    Table, IsLegal,
    ::testing::Values(
        LegalCase{PROMO, {Square::A7, Square::A8, std::nullopt}, false},
        LegalCase{PROMO, {Square::A7, Square::A8, Piece::King}, false},
        LegalCase{PROMO, {Square::A7, Square::A8, Piece::Pawn}, false},
        LegalCase{PROMO, {Square::A7, Square::A8, Piece::Queen}, true},
        LegalCase{PROMO, {Square::E1, Square::E2, Piece::Queen}, false},
        LegalCase{PROMO, {Square::E8, Square::E7, std::nullopt}, false},
        LegalCase{CASTLE, {Square::E1, Square::H1, std::nullopt}, true},
        LegalCase{CASTLE, {Square::E1, Square::G1, std::nullopt}, false},
        // Castling through an attacked square, or onto one, is refused; an attacked b-file
        // square in long castling does not matter.
        LegalCase{
            "r3k2r/8/8/8/8/8/5r2/R3K2R w KQ - 0 1", {Square::E1, Square::H1, std::nullopt}, false},
        LegalCase{
            "r3k2r/8/8/8/8/8/6r1/R3K2R w KQ - 0 1", {Square::E1, Square::H1, std::nullopt}, false},
        LegalCase{
            "r3k2r/8/8/8/8/8/1r6/R3K2R w KQ - 0 1", {Square::E1, Square::A1, std::nullopt}, true},
        // The rook shields the king from a queen beyond it: castling would expose the king.
        LegalCase{"4k3/8/8/8/8/8/8/q1RK4 w C - 0 1", {Square::D1, Square::C1, std::nullopt}, false},
        // Chess960: king on f1 castling short with the rook on g1 ends king g1, rook f1.
        LegalCase{"4k3/8/8/8/8/8/8/5KR1 w G - 0 1", {Square::F1, Square::G1, std::nullopt}, true}));

struct PlayCase {
    const char* fen;
    const char* uci;
    const char* after;
};

class PlayUnchecked : public ::testing::TestWithParam<PlayCase> {};

TEST_P(PlayUnchecked, KeepsEveryFieldExact) {
    Board b = load(GetParam().fen);
    const auto m = parse_uci_move(b, GetParam().uci);
    ASSERT_TRUE(m.ok());
    ASSERT_TRUE(is_legal(b, m.value())) << GetParam().uci;
    Board with_key = test::keyed(b);
    play_unchecked(b, m.value());
    EXPECT_EQ(to_fen(b), GetParam().after);
    const CheckersAndPins cp = calculate_checkers_and_pins(b, b.side_to_move);
    EXPECT_EQ(b.checkers, cp.checkers);
    EXPECT_EQ(b.pinned, cp.pinned);
    play_keeping_key(with_key, m.value());
    EXPECT_EQ(with_key.hash, compute_hash(with_key));
    EXPECT_TRUE(test::unkeyed(with_key) == b);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlayUnchecked,
    ::testing::Values(
        PlayCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2e4",
                 "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"},
        PlayCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", "g8f6",
                 "rnbqkb1r/pppppppp/5n2/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 1 2"},
        PlayCase{"4k3/8/8/8/8/8/8/1N2K3 b - - 100 65535", "e8d8",
                 "3k4/8/8/8/8/8/8/1N2K3 w - - 100 65535"},
        PlayCase{"4k3/8/8/8/8/8/8/1N2K3 w - - 100 7", "b1c3", "4k3/8/8/8/8/2N5/8/4K3 b - - 100 7"},
        PlayCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 3 1", "e1g1",
                 "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 4 1"},
        PlayCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 3 1", "e1a1",
                 "r3k2r/8/8/8/8/8/8/2KR3R b kq - 4 1"},
        PlayCase{"4k3/8/8/8/8/8/8/5KR1 w G - 0 1", "f1g1", "4k3/8/8/8/8/8/8/5RK1 b - - 1 1"},
        PlayCase{"4k3/8/8/8/8/8/8/RK6 w A - 0 1", "b1a1", "4k3/8/8/8/8/8/8/2KR4 b - - 1 1"},
        // Rights go with a captured rook, or a rook leaving its square.
        PlayCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "a1a8",
                 "R3k2r/8/8/8/8/8/8/4K2R b Kk - 0 1"},
        PlayCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "h1h2",
                 "r3k2r/8/8/8/8/8/7R/R3K3 b Qkq - 1 1"},
        // En passant removes the pawn from its own square and may uncover a check.
        PlayCase{"8/8/8/k2pP2R/8/8/8/4K3 w - d6 0 1", "e5d6", "8/8/3P4/k6R/8/8/8/4K3 b - - 0 1"},
        PlayCase{"8/P7/1k6/8/8/8/8/4K3 w - - 0 1", "a7a8n", "N7/8/1k6/8/8/8/8/4K3 b - - 0 1"},
        PlayCase{"4k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8q", "Q3k3/8/8/8/8/8/8/4K3 b - - 0 1"}));

TEST(PlayUnchecked, CheckersFromPromotionAndDiscovery) {
    Board b = load("8/P7/1k6/8/8/8/8/4K3 w - - 0 1");
    play_unchecked(b, Move{Square::A7, Square::A8, Piece::Knight});
    EXPECT_EQ(b.checkers, BitBoard::from(Square::A8));
    Board c = load("8/8/8/k2pP2R/8/8/8/4K3 w - d6 0 1");
    play_unchecked(c, Move{Square::E5, Square::D6, std::nullopt});
    EXPECT_EQ(c.checkers, BitBoard::from(Square::H5));
}

struct UciCase {
    const char* fen;
    const char* text;
    const char* parsed;  // core text, or nullptr for MoveParseError
    const char* shown;   // standard text of the parsed move
};

class UciText : public ::testing::TestWithParam<UciCase> {};

TEST_P(UciText, ParsesAndDisplays) {
    const Board b = load(GetParam().fen);
    const auto m = parse_uci_move(b, GetParam().text);
    if (!GetParam().parsed) {
        EXPECT_FALSE(m.ok()) << GetParam().text;
        return;
    }
    ASSERT_TRUE(m.ok()) << GetParam().text;
    char text[8];
    EXPECT_EQ(std::string(text, write_move(text, m.value())), GetParam().parsed);
    EXPECT_EQ(uci_move_text(b, m.value()), GetParam().shown);
}

constexpr const char* ITALIAN =
    "r1bqk1nr/pppp1ppp/2n5/2b1p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";
constexpr const char* BOTH = "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1";
INSTANTIATE_TEST_SUITE_P(
    Table, UciText,
    ::testing::Values(
        UciCase{ITALIAN, "e1g1", "e1h1", "e1g1"}, UciCase{ITALIAN, "e1h1", "e1h1", "e1g1"},
        UciCase{"r1bqk1nr/pppp1ppp/2n5/2b1p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w Qkq - 4 4", "e1g1",
                "e1g1", "e1g1"},
        UciCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1c1", "e1a1", "e1c1"},
        UciCase{BOTH, "e8g8", "e8h8", "e8g8"}, UciCase{BOTH, "e8c8", "e8a8", "e8c8"},
        UciCase{BOTH, "e1g1", "e1g1", "e1g1"},
        // Away from the e-file neither direction converts: b1c1 and f1g1 are steps.
        UciCase{"4k3/8/8/8/8/8/8/RK6 w A - 0 1", "b1a1", "b1a1", "b1a1"},
        UciCase{"4k3/8/8/8/8/8/8/RK6 w A - 0 1", "b1c1", "b1c1", "b1c1"},
        UciCase{"4k3/8/8/8/8/8/8/5K1R w H - 0 1", "f1h1", "f1h1", "f1h1"},
        UciCase{"4k3/8/8/8/8/8/8/5K1R w H - 0 1", "f1g1", "f1g1", "f1g1"},
        // A Chess960 king on e1 converts both ways, whatever the rooks' files.
        UciCase{"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GB - 0 1", "e1g1", "e1g1", "e1g1"},
        UciCase{"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GB - 0 1", "e1b1", "e1b1", "e1c1"},
        UciCase{"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GB - 0 1", "e1c1", "e1b1", "e1c1"},
        UciCase{START, "e7e8q", "e7e8q", "e7e8q"}, UciCase{START, "e7e8k", "e7e8", "e7e8"},
        UciCase{START, "e7e8p", "e7e8", "e7e8"}, UciCase{START, "e7e8qq", "e7e8q", "e7e8q"},
        UciCase{START, "e2e4\xc3\xa9", "e2e4", "e2e4"}, UciCase{START, "g1f3q", "g1f3q", "g1f3q"},
        UciCase{START, "e7e8Q", nullptr, nullptr}, UciCase{START, "e7e8x", nullptr, nullptr},
        UciCase{START, "e2e4 ", nullptr, nullptr}, UciCase{START, "E2E4", nullptr, nullptr},
        UciCase{START, "e2e", nullptr, nullptr}, UciCase{START, "e9e4", nullptr, nullptr},
        UciCase{START, "", nullptr, nullptr}, UciCase{START, "0000", nullptr, nullptr},
        UciCase{START, "e2e4\xc3", nullptr, nullptr}));

}  // namespace
