#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "common.h"
#include "san.h"

using namespace chess;

namespace {

using test::load;

// What the reader promises, read off the writer: the first legal move in generation order
// whose SAN body is the text.
std::optional<Move> first_written_as(const Board& b, std::string_view text) {
    for (const Move& m : legal_move_list(b))
        if (morvek::san_body(b, m) == text) return m;
    return std::nullopt;
}

// Texts near a move's own: each one-character deletion (a disambiguation, a capture sign or a
// promotion dropped), each file and rank letter put in after the first character, and an "x"
// put in after each character.
std::vector<std::string> near_texts(const std::string& body) {
    std::vector<std::string> out{body};
    for (std::size_t i = 0; i < body.size(); ++i)
        out.push_back(body.substr(0, i) + body.substr(i + 1));
    for (const char c : std::string("abcdefgh12345678"))
        out.push_back(body.substr(0, 1) + c + body.substr(1));
    for (std::size_t i = 1; i <= body.size(); ++i)
        out.push_back(body.substr(0, i) + "x" + body.substr(i));
    return out;
}

// Random games from positions rich in rivals, pins, promotions, en passant and castling of both
// kinds: every text near every legal move's reads as the writer's texts say it must.
TEST(SanReading, AgreesWithWritingEveryLegalMove) {
    const char* starts[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
        "1r3kr1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1",
        "1Q4Q1/3Q4/Q4Q2/2Q4Q/4Q3/1Q5Q/3Q2RB/K4Qnk w - - 0 1",
        "N1N1k3/8/N3N3/1N6/8/R6R/1P2P1P1/R3K2R w KQ - 0 1",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    };
    std::mt19937_64 rng(33);
    int texts = 0;
    for (int game = 0; game < 28; ++game) {
        Board b = load(starts[game % std::size(starts)]);
        for (int ply = 0; ply < 40; ++ply) {
            const MoveList legal = legal_move_list(b);
            if (legal.empty()) break;
            for (const Move& m : legal) {
                for (const std::string& text : near_texts(morvek::san_body(b, m))) {
                    ASSERT_EQ(morvek::read_clean_san(b, text), first_written_as(b, text))
                        << to_fen(b, true) << " " << text;
                    ++texts;
                }
            }
            play_unchecked(b, legal[rng() % legal.size()]);
        }
    }
    EXPECT_GT(texts, 100000);
}

}  // namespace
