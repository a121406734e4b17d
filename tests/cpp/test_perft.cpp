#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "common.h"

using namespace chess;

namespace {

using test::load;

struct PerftLine {
    std::string fen;
    unsigned depth;
    std::uint64_t nodes;
};

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(' ');
    const auto b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<PerftLine> perft_lines() {
    const std::string here = __FILE__;
    std::ifstream in(here.substr(0, here.rfind('/')) + "/../data/perft.txt");
    std::vector<PerftLine> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream fields(line);
        std::string fen, depth, nodes;
        std::getline(fields, fen, '|');
        std::getline(fields, depth, '|');
        std::getline(fields, nodes, '|');
        out.push_back({trim(fen), unsigned(std::stoul(depth)), std::stoull(nodes)});
    }
    return out;
}

TEST(Perft, CountsMatchTheReference) {
    const bool deep = std::getenv("MORVEK_PERFT_DEEP") != nullptr;
    const auto lines = perft_lines();
    ASSERT_GE(lines.size(), 40u) << "perft data file not found or truncated";
    for (const PerftLine& l : lines) {
        if (!deep && l.nodes > 20'000'000) continue;
        EXPECT_EQ(perft(load(l.fen), l.depth), l.nodes) << l.fen << " depth " << l.depth;
    }
}

// Counting the last ply in bulk must agree with expanding and playing every leaf move.
std::uint64_t perft_by_playing(const Board& b, unsigned depth) {
    if (depth == 0) return 1;
    std::uint64_t n = 0;
    for (const Move& m : legal_move_list(b)) {
        Board next = b;
        play_unchecked(next, m);
        n += perft_by_playing(next, depth - 1);
    }
    return n;
}

TEST(Perft, BulkCountingEqualsPlayingEveryLeaf) {
    for (const char* fen : {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
                            "1r3kr1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1",
                            "1Q4Q1/3Q4/Q4Q2/2Q4Q/4Q3/1Q5Q/3Q2RB/K4Qnk w - - 0 1"}) {
        const Board b = load(fen);
        EXPECT_EQ(perft(b, 3), perft_by_playing(b, 3)) << fen;
    }
}

void check_position(const Board& b, bool full_legality_sweep) {
    ASSERT_EQ(b.hash, compute_hash(b)) << to_fen(b, true);
    const CheckersAndPins cp = calculate_checkers_and_pins(b, b.side_to_move);
    ASSERT_EQ(b.checkers, cp.checkers) << to_fen(b, true);
    ASSERT_EQ(b.pinned, cp.pinned) << to_fen(b, true);

    // The file-letter form names every right exactly, so it reads back to the same record.
    const auto again = from_fen(to_fen(b, true), true);
    ASSERT_TRUE(again.ok()) << to_fen(b, true);
    ASSERT_TRUE(again.value() == test::unkeyed(b)) << to_fen(b, true);
    ASSERT_TRUE(test::returned_fen_reads_back(test::unkeyed(b)));

    const MoveList legal = legal_move_list(b);
    // Counted by the instruction where the processor has one, and portably.
    ASSERT_EQ(count_moves(b), legal.size()) << to_fen(b, true);
    ASSERT_EQ(detail::count_moves_portable(b), legal.size()) << to_fen(b, true);
    std::vector<std::string> texts;
    for (const Move& m : legal) {
        ASSERT_TRUE(is_legal(b, m)) << to_fen(b, true);
        // Every standard text reads back to its own move, and no two moves share one.
        const std::string text = uci_move_text(b, m);
        const auto parsed = parse_uci_move(b, text);
        ASSERT_TRUE(parsed.ok() && parsed.value() == m) << to_fen(b, true) << " " << text;
        ASSERT_EQ(std::count(texts.begin(), texts.end(), text), 0)
            << to_fen(b, true) << " " << text;
        texts.push_back(text);
    }
    if (full_legality_sweep) test::expect_is_legal_agrees_with_generation(b);
}

// Random games from standard and rook-file starting positions, with a pass now and then:
// after every move the incremental fields equal their recomputation, and legality agrees with
// generation.
TEST(Playouts, IncrementalStateMatchesRecomputation) {
    const char* starts[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "rk4r1/pppppppp/8/8/8/8/PPPPPPPP/RK4R1 w GAga - 0 1",
        "1r3kr1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1",
        "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9",
        "qr3kr1/pppppppp/8/8/8/8/PPPPPPPP/QR3KR1 w GBgb - 0 1",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    };
    std::mt19937_64 rng(20261208);
    int positions = 0;
    for (int game = 0; game < 140; ++game) {
        Board b = test::keyed(load(starts[game % std::size(starts)]));
        for (int ply = 0; ply < 160; ++ply) {
            check_position(b, ply % 8 == 0);
            if (HasFatalFailure()) return;
            ++positions;
            const MoveList legal = legal_move_list(b);
            if (legal.empty()) break;
            // The module's plain moves and passes give the same boards but for the key.
            Board plain = test::unkeyed(b);
            if (ply % 10 == 5 && b.checkers.empty()) {
                null_move_keeping_key(b);
                null_move(plain);
            } else {
                const Move m = legal[rng() % legal.size()];
                play_keeping_key(b, m);
                play_unchecked(plain, m);
            }
            ASSERT_TRUE(test::unkeyed(b) == plain) << to_fen(plain, true);
        }
    }
    EXPECT_GT(positions, 5000);
}

}  // namespace
