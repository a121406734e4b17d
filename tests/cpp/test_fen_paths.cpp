// Every way this machine has of reading FEN text, held to the reference reader: the same board,
// field for field, or the same error, in every castling letter form. The vector paths hand the
// texts they do not read whole to the reference, so each is also held to reading the usual
// texts by itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "chess/fen_paths.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "common.h"

using namespace chess;

namespace {

constexpr CastlingLetters LETTERS[] = {CastlingLetters::Standard, CastlingLetters::RookFiles,
                                       CastlingLetters::Either};

std::string shown(std::string_view text) {
    std::string out;
    for (const char c : text) {
        char code[5];
        std::snprintf(code, sizeof code, "\\x%02x", unsigned(std::uint8_t(c)));
        out += (c >= 0x20 && c < 0x7F) ? std::string(1, c) : std::string(code);
    }
    return out;
}

std::string outcome(const Result<Board, FenParseError>& r) {
    return r ? to_fen(r.value(), true) : std::string(error_name(r.error()));
}

::testing::AssertionResult read_alike(std::string_view text) {
    for (const CastlingLetters letters : LETTERS) {
        const auto expected = read_fen_reference(text, letters);
        for (const FenPath path : fen_paths()) {
            const auto got = read_fen_on(path, text, letters);
            const bool same = got.ok() == expected.ok() && (got ? got.value() == expected.value()
                                                                : got.error() == expected.error());
            if (!same)
                return ::testing::AssertionFailure()
                       << path_name(path) << " reads '" << shown(text) << "' (letters "
                       << int(letters) << ") as " << outcome(got) << ", the reference as "
                       << outcome(expected);
        }
    }
    return ::testing::AssertionSuccess();
}

// Positions of seeded random games from standard and Chess960 starts, in the writer's forms,
// and the clocks near their caps on some of them.
std::vector<std::string> game_texts() {
    const char* starts[] = {
        test::START,
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "rk4r1/pppppppp/8/8/8/8/PPPPPPPP/RK4R1 w GAga - 0 1",
        "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9",
        "nrbkqbrn/pppppppp/8/8/8/8/PPPPPPPP/NRBKQBRN w GBgb - 99 65530",
    };
    std::mt19937_64 rng(20261220);
    std::vector<std::string> out;
    for (int game = 0; game < 40; ++game) {
        Board b =
            read_fen_reference(starts[game % std::size(starts)], CastlingLetters::Either).value();
        for (int ply = 0; ply < 100; ++ply) {
            out.push_back(to_fen(b, false));
            out.push_back(to_fen(b, true));
            const MoveList moves = legal_move_list(b);
            if (moves.empty()) break;
            play_unchecked(b, moves[rng() % moves.size()]);
        }
    }
    return out;
}

// The usual texts: every path reads them by itself, as the reference does. A path that handed
// every text over would pass the comparisons below without reading anything.
TEST(FenPaths, EveryPathReadsTheUsualTextsItself) {
    std::printf("FEN paths here: ");
    for (const FenPath path : fen_paths()) std::printf("%s ", path_name(path).data());
    std::printf("(chosen: %s)\n", path_name(chosen_fen_path()).data());
    int read = 0;
    for (const std::string& text : game_texts()) {
        if (text.size() < 32) continue;  // the shortest texts are the reference's alone
        for (const CastlingLetters letters : LETTERS) {
            const auto expected = read_fen_reference(text, letters);
            for (const FenPath path : fen_paths()) {
                const std::optional<Board> got = read_usual_on(path, text, letters);
                ASSERT_EQ(got.has_value(), expected.ok()) << path_name(path) << " " << text;
                if (got) {
                    ASSERT_TRUE(*got == expected.value()) << path_name(path) << " " << text;
                }
                read += got.has_value();
            }
        }
    }
    EXPECT_GT(read, 10000);
}

// Each text of the games spoiled in one place: every byte replaced by a byte of each kind the
// readers tell apart, every byte dropped, and a byte of each kind put in at every place.
TEST(FenPaths, EveryPathReadsSpoiledTextsAsTheReference) {
    const std::string kinds = std::string("0189/ wbKQkqAHah-+pPkK\x7f\x80\xff", 23) + '\0';
    const std::vector<std::string> texts = game_texts();
    for (std::size_t i = 0; i < texts.size(); i += 25) {
        const std::string& text = texts[i];
        ASSERT_TRUE(read_alike(text));
        for (std::size_t at = 0; at <= text.size(); ++at) {
            for (const char k : kinds) {
                std::string put = text;
                put.insert(at, 1, k);
                ASSERT_TRUE(read_alike(put));
                if (at == text.size()) continue;
                std::string changed = text;
                changed[at] = k;
                ASSERT_TRUE(read_alike(changed));
            }
            if (at < text.size()) {
                ASSERT_TRUE(read_alike(std::string(text).erase(at, 1)));
            }
        }
    }
}

// The edges of the shape the vector paths read whole: the text's length (every prefix of a
// text, clocks padded with zeros and signed), the placement's length and its groups' (zeros,
// which fill no square, stuffed in), and the spaces between the fields.
TEST(FenPaths, EveryPathReadsTheEdgesOfTheUsualShapeAsTheReference) {
    const std::string fens[] = {
        "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 3 8",
        "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
        "k7/8/8/8/8/8/8/K7 w - - 100 65535",
        "1r2k1r1/8/8/8/8/8/8/1R2K1R1 b GBgb - 7 42",
    };
    for (const std::string& fen : fens) {
        for (std::size_t n = 0; n <= fen.size(); ++n) ASSERT_TRUE(read_alike(fen.substr(0, n)));
        const std::size_t fields = fen.find(' ');
        const std::size_t clocks = fen.rfind(' ', fen.rfind(' ') - 1);
        for (int zeros = 0; zeros < 70; ++zeros) {
            const std::string pad(zeros, '0');
            for (const std::size_t at : {std::size_t(0), fields, fields - 1, fields / 2})
                ASSERT_TRUE(read_alike(fen.substr(0, at) + pad + fen.substr(at)));
            ASSERT_TRUE(read_alike(fen.substr(0, clocks + 1) + pad + fen.substr(clocks + 1)));
            ASSERT_TRUE(read_alike(fen.substr(0, fen.rfind(' ') + 1) + pad +
                                   fen.substr(fen.rfind(' ') + 1)));
            ASSERT_TRUE(read_alike(fen + std::string(zeros % 12, ' ')));
            ASSERT_TRUE(read_alike(fen.substr(0, clocks + 1) + "+" + fen.substr(clocks + 1)));
        }
        // A group of nine characters, and an empty one, in every rank.
        for (std::size_t at = 0; at < fields; ++at) {
            if (fen[at] != '/') continue;
            ASSERT_TRUE(read_alike(fen.substr(0, at) + "1" + fen.substr(at)));
            ASSERT_TRUE(read_alike(fen.substr(0, at) + "/" + fen.substr(at)));
            ASSERT_TRUE(read_alike(fen.substr(0, at) + fen.substr(at + 1)));
        }
    }
}

// Every castling field of one to four letters, on placements that back all the rights, some,
// none (a rook of the other colour in a corner, a king off its back rank), and Chess960 ones.
TEST(FenPaths, EveryPathReadsEachShortCastlingFieldAsTheReference) {
    const std::string placements[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "r3k3/pppppppp/8/8/8/8/PPPPPPPP/4K2R",
        "R3k2r/pppppppp/8/8/8/8/PPPPPPPP/r3K2R",       "r6r/4k3/pppp1ppp/8/8/8/PPPPPPPP/R3K2R",
        "rk4r1/pppppppp/8/8/8/8/PPPPPPPP/RK4R1",
    };
    const std::string alphabet = "KQkq-Hha";
    for (const std::string& placement : placements) {
        // Long enough for the vector paths to read by themselves.
        ASSERT_TRUE(read_usual_on(chosen_fen_path(), placement + " w KQkq - 0 1",
                                  CastlingLetters::Either) ||
                    !read_fen_reference(placement + " w KQkq - 0 1", CastlingLetters::Either));
        for (std::size_t length = 1; length <= 4; ++length) {
            std::size_t count = 1;
            for (std::size_t i = 0; i < length; ++i) count *= alphabet.size();
            for (std::size_t n = 0; n < count; ++n) {
                std::string field;
                for (std::size_t i = 0, rest = n; i < length; ++i, rest /= alphabet.size())
                    field += alphabet[rest % alphabet.size()];
                ASSERT_TRUE(read_alike(placement + " w " + field + " - 0 1"));
            }
        }
    }
}

}  // namespace
