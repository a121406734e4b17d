#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "chess/attacks.h"
#include "chess/fen.h"
#include "chess/fen_writer.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "common.h"

using namespace chess;

namespace {

using test::START;

using test::squares;

struct FenCase {
    const char* fen;
    bool file_letters;
    std::optional<FenParseError> error;  // absent: the text loads
};

class FenReading : public ::testing::TestWithParam<FenCase> {};

TEST_P(FenReading, GivesTheFirstFailingStep) {
    const FenCase& c = GetParam();
    const auto result = from_fen(c.fen, c.file_letters);
    if (!c.error) {
        ASSERT_TRUE(result.ok()) << c.fen << " -> " << error_name(result.error());
        EXPECT_TRUE(test::returned_fen_reads_back(result.value())) << c.fen;
    } else {
        ASSERT_FALSE(result.ok()) << c.fen;
        EXPECT_EQ(error_name(result.error()), error_name(*c.error)) << c.fen;
    }
}

// The module's reading reuses the first reading's work for the retry; it must answer exactly
// as the two plain readings do.
TEST_P(FenReading, ReadFenEqualsReadingTwice) {
    auto expected = from_fen(GetParam().fen, false);
    if (!expected && expected.error() == FenParseError::InvalidCastlingRights)
        expected = from_fen(GetParam().fen, true);
    const auto got = read_fen(GetParam().fen);
    ASSERT_EQ(got.ok(), expected.ok()) << GetParam().fen;
    if (got.ok())
        EXPECT_TRUE(got.value() == expected.value()) << GetParam().fen;
    else
        EXPECT_EQ(got.error(), expected.error()) << GetParam().fen;
}

using E = FenParseError;
INSTANTIATE_TEST_SUITE_P(
    Table, FenReading,
    ::testing::Values(
        FenCase{START, false, std::nullopt},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 ", false,
                E::TooManyFields},
        FenCase{" rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", false,
                E::InvalidBoard},
        FenCase{"", false, E::InvalidBoard},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", false, E::MissingField},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w", false, E::MissingField},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0", false, E::MissingField},
        // An empty castling field between two spaces means no rights.
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w  - 0 1", false, std::nullopt},
        // Fewer than eight groups fill from rank 1 upward; a ninth is refused.
        FenCase{"4k3/8/8/8/8/8/4K3 w - - 0 1", false, std::nullopt},
        FenCase{"8/4k3/8/8/8/8/8/8/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/44/4K3 w - - 0 1", false, std::nullopt},
        FenCase{"4k3/8/8/8/8/8/08/4K3 w - - 0 1", false, std::nullopt},
        // Zeros fill no square, so they may make a placement as long as they like.
        FenCase{"4k3/8/8/8/8/8/0000000000000000000000000000000000000000000000000000000000008/4K30 "
                "w - - 0 1",
                false, std::nullopt},
        FenCase{"4k3/8/8/8/8/8/8000000000000000000000000000000000000000000000000000000000000P/4K3 "
                "w - - 0 1",
                false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/9/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/7/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/8P/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8//4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/7x/4K3 w - - 0 1", false, E::InvalidBoard},
        // Validation only runs after the side-to-move field was read.
        FenCase{"8/8/8/8/8/8/8/8 x - - 0 1", false, E::InvalidSideToMove},
        FenCase{"8/8/8/8/8/8/8/8 w", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/8/4K3 W - - 0 1", false, E::InvalidSideToMove},
        FenCase{"4k3/8/8/8/8/8/8/4K3 ww - - 0 1", false, E::InvalidSideToMove},
        FenCase{"4k3/8/8/8/8/8/8/4K3  - - 0 1", false, E::InvalidSideToMove},
        FenCase{"4k2P/8/8/8/8/8/8/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/8/4K2p w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/PPPPPPPP/P3K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/pppppppp/p7/8/8/8/8/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/8/4K2K w - - 0 1", false, E::InvalidBoard},
        FenCase{"8/8/8/8/8/8/8/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/NNNNNNNN/NNNNNNNN/K7 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/NNNNNNNN/NNNNNNN1/K7 w - - 0 1", false, std::nullopt},
        // The side not to move may not be in check; the side to move at most doubly.
        FenCase{"4k3/8/8/8/8/8/8/4RK2 w - - 0 1", false, E::InvalidBoard},
        FenCase{"4k3/8/8/8/8/8/8/4RK2 b - - 0 1", false, std::nullopt},
        FenCase{"4k3/8/3N1N2/8/8/8/8/4RK2 b - - 0 1", false, E::InvalidBoard},
        // Kings side by side are refused, after the other board checks and the side field.
        FenCase{"8/8/8/8/8/8/3k4/4K3 w - - 0 1", false, E::InvalidBoard},
        FenCase{"8/8/8/8/8/8/3k4/4K3 x - - 0 1", false, E::InvalidSideToMove},
        FenCase{"8/8/8/8/8/2k5/8/4K3 w - - 0 1", false, std::nullopt},
        // Castling letters in both forms.
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", true,
                E::InvalidCastlingRights},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1", false,
                E::InvalidCastlingRights},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1", true, std::nullopt},
        FenCase{"r3k2r/8/8/8/8/8/8/R3K2R w KK - 0 1", false, E::InvalidCastlingRights},
        FenCase{"r3k2r/8/8/8/8/8/8/R3K2R w AB - 0 1", true, E::InvalidCastlingRights},
        FenCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq- - 0 1", false, E::InvalidCastlingRights},
        FenCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkqé - 0 1", false, E::InvalidCastlingRights},
        FenCase{"r3k2r/8/8/8/8/8/8/R4K1R w KQ - 0 1", false, std::nullopt},
        FenCase{"r3k2r/8/8/8/8/8/8/R3K1R1 w K - 0 1", false, E::InvalidCastlingRights},
        FenCase{"r3k2r/8/8/8/8/8/4K3/R6R w K - 0 1", false, E::InvalidCastlingRights},
        FenCase{"r3k2r/8/8/8/8/8/8/RK5R w AH - 0 1", true, std::nullopt},
        FenCase{"r3k2r/8/8/8/8/8/8/RK5R w HB - 0 1", true, E::InvalidCastlingRights},
        FenCase{"1r2k3/8/8/8/8/8/8/4K3 w b - 0 1", true, std::nullopt},
        FenCase{"1r2k3/8/8/8/8/8/8/4K3 w q - 0 1", false, E::InvalidCastlingRights},
        // Both readings fail: the second one's error counts.
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha e9 0 1", true,
                E::InvalidEnPassant},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 0", true,
                E::InvalidFullmoveNumber},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha -", true, E::MissingField},
        FenCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1 x", true,
                E::TooManyFields},
        // The en passant square, and the en passant validity rule.
        FenCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", false, std::nullopt},
        FenCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e6 0 1", false,
                E::InvalidEnPassant},
        FenCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq d3 0 1", false,
                E::InvalidEnPassant},
        FenCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq E3 0 1", false,
                E::InvalidEnPassant},
        FenCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e33 0 1", false,
                E::InvalidEnPassant},
        FenCase{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPPPPPP/RNBQKBNR b KQkq e3 0 1", false,
                E::InvalidBoard},
        FenCase{"4k3/8/8/8/4P3/8/4P3/4K3 b - e3 0 1", false, E::InvalidEnPassant},
        FenCase{"4k3/8/8/8/4P3/4N3/8/4K3 b - e3 0 1", false, E::InvalidEnPassant},
        FenCase{"4k3/8/8/8/4p3/8/8/4K3 b - e3 0 1", false, E::InvalidEnPassant},
        // A knight checking the king rules out any en passant square; a check uncovered by the
        // double push (through its start square) or given by the pushed pawn is fine.
        FenCase{"4k3/8/8/3pP3/8/5n2/8/4K3 w - d6 0 1", false, E::InvalidEnPassant},
        FenCase{"8/8/8/3pP3/8/8/8/4K2k w - d6 0 1", false, std::nullopt},
        FenCase{"8/8/8/3pP3/2K5/8/8/7k w - d6 0 1", false, std::nullopt},
        FenCase{"8/8/8/2k5/3Pp3/8/8/7K b - d3 0 1", false, std::nullopt},
        FenCase{"8/8/8/6k1/3Pp3/8/8/2B4K b - d3 0 1", false, std::nullopt},
        FenCase{"8/8/8/6k1/3Pp3/8/8/6RK b - d3 0 1", false, E::InvalidEnPassant},
        // Clocks.
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 100 1", false, std::nullopt},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 101 1", false, E::InvalidHalfMoveClock},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 256 1", false, E::InvalidHalfMoveClock},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - +7 007", false, std::nullopt},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - + 1", false, E::InvalidHalfMoveClock},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - -0 1", false, E::InvalidHalfMoveClock},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - -  1", false, E::InvalidHalfMoveClock},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 0 0", false, E::InvalidFullmoveNumber},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 0 65535", false, std::nullopt},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 0 65536", false, E::InvalidFullmoveNumber},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 0 1x", false, E::InvalidFullmoveNumber},
        FenCase{"4k3/8/8/8/8/8/8/4K3 w - - 0 1 extra", false, E::TooManyFields},
        FenCase{"4k3/8/8/8/8/8/8/4K3\tw - - 0 1", false, E::InvalidBoard}));

TEST(FenReadingFields, ClocksAndRightsAreStored) {
    const auto b = from_fen("4k3/8/8/8/8/8/8/RK5R w AH - +7 007", true);
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(b.value().halfmove_clock, 7);
    EXPECT_EQ(b.value().fullmove_number, 7);
    EXPECT_EQ(b.value().castle_rights[0].long_, File::A);
    EXPECT_EQ(b.value().castle_rights[0].short_, File::H);
    EXPECT_FALSE(b.value().castle_rights[1].any());
    EXPECT_EQ(to_fen(b.value()), "4k3/8/8/8/8/8/8/RK5R w KQ - 7 7");
    EXPECT_EQ(to_fen(b.value(), true), "4k3/8/8/8/8/8/8/RK5R w HA - 7 7");
}

TEST(FenWriting, CanonicalTextsComeBackUnchanged) {
    for (const char* fen : {
             START,
             "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
             "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
             "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 100 65535",
             "4k3/8/8/8/8/8/8/4K3 b - - 0 1",
         }) {
        const auto b = from_fen(fen, false);
        ASSERT_TRUE(b.ok()) << fen;
        EXPECT_EQ(to_fen(b.value()), fen);
    }
}

TEST(FenWriting, StandardLettersNameOnlyTheCornerRooks) {
    // Black's long right on the b-file prints as q in the standard form, which then names the
    // a-file: only the file-letter form keeps that right.
    const auto b = from_fen("1r2k3/8/8/8/8/8/8/4K3 w b - 0 1", true);
    ASSERT_TRUE(b.ok());
    EXPECT_FALSE(standard_letters_name_rights(b.value()));
    const std::string text = to_fen(b.value());
    EXPECT_EQ(text, "1r2k3/8/8/8/8/8/8/4K3 w q - 0 1");
    EXPECT_EQ(from_fen(text, false).error(), FenParseError::InvalidCastlingRights);
    EXPECT_EQ(to_fen(b.value(), true), "1r2k3/8/8/8/8/8/8/4K3 w b - 0 1");
    for (const char* corners :
         {START, "4k3/8/8/8/8/8/8/RK5R w AH - 0 1", "4k3/8/8/8/8/8/8/4K3 w - - 0 1"})
        EXPECT_TRUE(standard_letters_name_rights(read_fen(corners).value())) << corners;
}

// Any contents of the squares, not only those of legal positions: each square gets one of the
// twelve pieces or nothing, at random.
TEST(FenWriting, VectorLettersEqualTheTableForm) {
    std::mt19937_64 rng(20261209);
    for (int n = 0; n < 100000; ++n) {
        Board b;
        for (unsigned sq = 0; sq < 64; ++sq) {
            const unsigned what = unsigned(rng() % (n % 2 ? 13 : 40));  // sparse boards too
            if (what >= 12) continue;
            b.pieces[what % PIECE_KINDS] |= BitBoard::from(Square(sq));
            b.colors[what / PIECE_KINDS] |= BitBoard::from(Square(sq));
        }
        ASSERT_EQ(rank_letters(b), rank_letters_by_table(b)) << to_fen(b, true);
    }
}

// A writer that follows boards writes what write_fen writes of each: along random games (passes,
// castling of both kinds, en passant, promotions, rights lost), and jumping to boards of any
// contents, with every way of writing the castling field.
TEST(FenWriting, FollowingBoardsWritesEachAsWriteFen) {
    std::mt19937_64 rng(20261210);
    FenWriter writer;
    const auto expect_same = [&](const Board& b) {
        for (const CastlingLetters letters :
             {CastlingLetters::Either, CastlingLetters::Standard, CastlingLetters::RookFiles}) {
            char followed[MAX_FEN_LENGTH], whole[MAX_FEN_LENGTH];
            const std::string_view a(followed,
                                     std::size_t(writer.write(followed, b, letters) - followed));
            const std::string_view w(whole, std::size_t(write_fen(whole, b, letters) - whole));
            ASSERT_EQ(a, w);
        }
    };
    for (int game = 0; game < 60; ++game) {
        Board b =
            test::load(game % 3 ? START : "1r3kr1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1");
        for (int ply = 0; ply < 200; ++ply) {
            expect_same(b);
            if (HasFatalFailure()) return;
            const MoveList legal = legal_move_list(b);
            if (legal.empty()) break;
            if (ply % 17 == 16 && b.checkers.empty())
                null_move(b);
            else
                play_unchecked(b, legal[rng() % legal.size()]);
        }
        Board any;  // squares of any contents, not a position
        for (unsigned sq = 0; sq < 64; ++sq) {
            const unsigned what = unsigned(rng() % 20);
            if (what >= 12) continue;
            any.pieces[what % PIECE_KINDS] |= BitBoard::from(Square(sq));
            any.colors[what / PIECE_KINDS] |= BitBoard::from(Square(sq));
        }
        any.fullmove_number = std::uint16_t(rng());
        any.halfmove_clock = std::uint8_t(rng() % 101);
        expect_same(any);
        if (HasFatalFailure()) return;
    }
}

TEST(PositionKey, TellsSideAndRightsApartAndIsNotKeptByReading) {
    const auto a = from_fen(START, false);
    const auto b = from_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1", false);
    const auto c = from_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w Kkq - 0 1", false);
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    EXPECT_EQ(a.value().hash, 0u);
    EXPECT_NE(compute_hash(a.value()), compute_hash(b.value()));
    EXPECT_NE(compute_hash(a.value()), compute_hash(c.value()));
    EXPECT_NE(compute_hash(a.value()), 0u);
}

// A game's FEN tag: K, Q, k, q name the outermost rook on their side of the king, as Chess960
// programs write a start's rights. `rights` is the field as the rook-file writer gives it back,
// or null when the text is refused (with InvalidCastlingRights).
struct OutermostCase {
    const char* fen;
    const char* rights;
};

class OutermostCastling : public ::testing::TestWithParam<OutermostCase> {};

TEST_P(OutermostCastling, NamesTheOutermostRooks) {
    const auto b = read_fen(GetParam().fen, CastlingLetters::Outermost);
    if (!GetParam().rights) {
        ASSERT_FALSE(b.ok()) << GetParam().fen;
        EXPECT_EQ(b.error(), FenParseError::InvalidCastlingRights) << GetParam().fen;
        return;
    }
    ASSERT_TRUE(b.ok()) << GetParam().fen << " -> " << error_name(b.error());
    const std::string text = to_fen(b.value(), true);
    const std::size_t field = text.find(' ', text.find(' ') + 1) + 1;
    EXPECT_EQ(text.substr(field, text.find(' ', field) - field), GetParam().rights)
        << GetParam().fen;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutermostCastling,
    ::testing::Values(
        OutermostCase{"nbbrknrq/pppppppp/8/8/8/8/PPPPPPPP/NBBRKNRQ w KQkq - 0 1", "GDgd"},
        OutermostCase{"rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/RKRNNQBB w KQkq - 0 1", "CAca"},
        OutermostCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "HAha"},
        OutermostCase{"r3k2r/8/8/8/8/8/8/R3K2R b Kq - 0 1", "Ha"},
        OutermostCase{"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w Qk - 0 1", "Bg"},
        // Two rooks on a side: the outer one, the corner rook included.
        OutermostCase{"rr2k2r/8/8/8/8/8/8/1R1K2RR w KQkq - 0 1", "HBha"},
        // Rook-file letters are read as written.
        OutermostCase{"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1", "GBgb"},
        OutermostCase{"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w - - 0 1", "-"},
        // A letter without a rook on its side names nothing, beside a converted one or not.
        OutermostCase{"4k3/8/8/8/8/8/8/1R2K3 w KQ - 0 1", nullptr},
        OutermostCase{"4k3/8/8/8/8/8/8/R3K3 w KQ - 0 1", nullptr},
        // A king off its back rank, or a placement of fewer than eight ranks: as written.
        OutermostCase{"4k3/8/8/8/8/8/4K3/1R5R w K - 0 1", nullptr},
        OutermostCase{"4k3/8/8/8/8/8/1R2K1R1 w K - 0 1", nullptr},
        OutermostCase{"4k3/8/8/8/8/8/8/1R2K1R1 w K - 0 1", "G"},
        OutermostCase{"4k3/8/8/8/8/8/8/1R2K1R1 w KK - 0 1", nullptr},
        OutermostCase{"4k3/8/8/8/8/8/8/1R2K1R1 w KQkq- - 0 1", nullptr}));

struct PinCase {
    const char* fen;
    BitBoard checkers;
    BitBoard pinned;
};

class CheckersAndPins : public ::testing::TestWithParam<PinCase> {};

TEST_P(CheckersAndPins, MatchTheGeometry) {
    const auto b = from_fen(GetParam().fen, false);
    ASSERT_TRUE(b.ok()) << GetParam().fen;
    EXPECT_EQ(b.value().checkers.bits, GetParam().checkers.bits);
    EXPECT_EQ(b.value().pinned.bits, GetParam().pinned.bits);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckersAndPins,
    ::testing::Values(
        PinCase{"4r2k/8/8/8/8/8/4N3/4K3 w - - 0 1", EMPTY, squares({Square::E2})},
        // The pinned set is geometric: an enemy piece alone on the line counts too.
        PinCase{"4r2k/8/8/8/8/8/4n3/4K3 w - - 0 1", EMPTY, squares({Square::E2})},
        PinCase{"4r2k/8/8/8/8/3n4/8/4K3 w - - 0 1", squares({Square::E8, Square::D3}), EMPTY},
        PinCase{"4r2k/8/8/8/4n3/8/4N3/4K3 w - - 0 1", EMPTY, EMPTY},
        PinCase{"7k/8/8/8/1b6/8/3P4/4K3 w - - 0 1", EMPTY, squares({Square::D2})},
        PinCase{"7k/8/8/8/8/8/3p4/4K3 w - - 0 1", squares({Square::D2}), EMPTY},
        PinCase{"7k/8/8/8/8/8/8/r2NK2q w - - 0 1", squares({Square::H1}), squares({Square::D1})}));

TEST(SlidingAttacks, DocumentedExamples) {
    EXPECT_EQ(rook_attacks(Square::A1, EMPTY),
              (file_set(File::A) | rank_set(Rank::First)).without(Square::A1));
    EXPECT_EQ(rook_attacks(Square::A1, squares({Square::D1, Square::A5})),
              squares({Square::B1, Square::C1, Square::D1, Square::A2, Square::A3, Square::A4,
                       Square::A5}));
    EXPECT_EQ(bishop_attacks(Square::D4, squares({Square::F6})),
              squares({Square::A1, Square::B2, Square::C3, Square::E3, Square::F2, Square::G1,
                       Square::C5, Square::B6, Square::A7, Square::E5, Square::F6}));
}

// Every subset of every square's relevant rays reaches the right entry, plus random
// occupancies with bits outside the rays set.
TEST(SlidingAttacks, EveryOccupancySubsetMatchesTheRayWalk) {
    for (unsigned i = 0; i < 64; ++i) {
        const Square s = Square(i);
        for (const bool rook : {true, false}) {
            const std::uint64_t mask = ~(rook ? ROOK_MAGICS[i] : BISHOP_MAGICS[i]).not_mask;
            std::uint64_t subset = 0;
            do {
                const BitBoard occ{subset};
                if (rook)
                    ASSERT_EQ(rook_attacks(s, occ), detail::slow_rook_attacks(s, occ)) << i;
                else
                    ASSERT_EQ(bishop_attacks(s, occ), detail::slow_bishop_attacks(s, occ)) << i;
                subset = (subset - mask) & mask;
            } while (subset != 0);
        }
    }
    std::uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (int n = 0; n < 100000; ++n) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const BitBoard occ{x & (x >> 3)};
        const Square s = Square(x >> 58);
        ASSERT_EQ(rook_attacks(s, occ), detail::slow_rook_attacks(s, occ));
        ASSERT_EQ(bishop_attacks(s, occ), detail::slow_bishop_attacks(s, occ));
    }
}

// The set of squares a side's pawns, knights and kings attack holds exactly the squares that
// some such piece of that side attacks, on boards of any contents (pawns on the edge ranks and
// files, several kings).
TEST(StepAttacks, AreTheSquaresEachStepperAttacks) {
    std::mt19937_64 rng(20261211);
    for (int n = 0; n < 2000; ++n) {
        Board b;
        for (unsigned sq = 0; sq < 64; ++sq) {
            const unsigned what = unsigned(rng() % 30);
            if (what >= 12) continue;
            b.pieces[what % PIECE_KINDS] |= BitBoard::from(Square(sq));
            b.colors[what / PIECE_KINDS] |= BitBoard::from(Square(sq));
        }
        for (const Color c : {Color::White, Color::Black}) {
            const BitBoard set = step_attacks(b, c);
            for (unsigned sq = 0; sq < 64; ++sq) {
                const Attackers a{b, Square(sq), b.colors[index(c)], b.occupied()};
                ASSERT_EQ(set.has(Square(sq)), (a.pawns() | a.knights() | a.kings()).any())
                    << to_fen(b, true) << " " << sq;
            }
        }
    }
}

TEST(SlidingAttacks, SquareAttackedUsesTheGivenOccupancy) {
    const auto b = from_fen("4k3/8/8/8/8/8/8/r3K3 w - - 0 1", false);
    ASSERT_TRUE(b.ok());
    const Board& board = b.value();
    EXPECT_TRUE(square_attacked(board, Square::D1, Color::Black, board.occupied()));
    EXPECT_FALSE(square_attacked(board, Square::F1, Color::Black, board.occupied()));
    // Without the king in the way, the rook's ray runs on to f1.
    EXPECT_TRUE(
        square_attacked(board, Square::F1, Color::Black, board.occupied().without(Square::E1)));
    EXPECT_TRUE(square_attacked(board, Square::D7, Color::Black, board.occupied()));  // the king
    EXPECT_FALSE(square_attacked(board, Square::E8, Color::White, board.occupied()));
}

TEST(ValueTypes, SquareTextAndIteration) {
    EXPECT_EQ(parse_square("a1"), Square::A1);
    EXPECT_EQ(parse_square("h8"), Square::H8);
    EXPECT_EQ(index(*parse_square("e4")), 28u);
    for (const char* bad : {"E4", "e9", "i1", "e", "e44", "", "\xc3\xa9"})
        EXPECT_FALSE(parse_square(bad)) << bad;
    std::vector<Square> seen;
    for (const Square s : squares({Square::H8, Square::A1, Square::E4})) seen.push_back(s);
    EXPECT_EQ(seen, (std::vector<Square>{Square::A1, Square::E4, Square::H8}));
    char text[8];
    EXPECT_EQ(std::string(text, write_move(text, Move{Square::A7, Square::A8, Piece::Knight})),
              "a7a8n");
    EXPECT_EQ(std::string(text, write_move(text, Move{Square::E2, Square::E4, std::nullopt})),
              "e2e4");
    EXPECT_EQ(error_name(FenParseError::InvalidCastlingRights), "InvalidCastlingRights");
    EXPECT_EQ(error_name(FenParseError::InvalidFullmoveNumber), "InvalidFullmoveNumber");
    EXPECT_EQ(error_name(FenParseError::InvalidHalfMoveClock), "InvalidHalfMoveClock");
}

}  // namespace
