// Micro-benchmarks of the chess core: `make bench`, or build/benchmarks after
// `cmake --build build --target benchmarks`.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/sliders.h"
#include "chess/uci.h"

using namespace chess;

namespace {

constexpr const char* MIDDLEGAME = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 3 8";
constexpr const char* KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";

Board load(const char* fen) { return from_fen(fen, false).value(); }

void FromFen(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(from_fen(MIDDLEGAME, false));
}
BENCHMARK(FromFen);

void ToFen(benchmark::State& state) {
    const Board b = load(MIDDLEGAME);
    char buffer[MAX_FEN_LENGTH];
    for (auto _ : state) {
        benchmark::DoNotOptimize(write_fen(buffer, b));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ToFen);

void LegalMovesVec(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    for (auto _ : state) benchmark::DoNotOptimize(legal_moves_vec(b));
}
BENCHMARK(LegalMovesVec);

void CountMoves(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    for (auto _ : state) benchmark::DoNotOptimize(count_moves(b));
}
BENCHMARK(CountMoves);

// Every generated move of Kiwipete, one call each, plus as many random non-moves.
void IsLegal(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    const MoveList legal = legal_moves_vec(b);
    std::vector<Move> probes(legal.begin(), legal.end());
    std::mt19937 rng(7);
    for (std::size_t i = 0, n = probes.size(); i < n; ++i)
        probes.push_back(Move{Square(rng() % 64), Square(rng() % 64), std::nullopt});
    for (auto _ : state)
        for (const Move& m : probes) benchmark::DoNotOptimize(is_legal(b, m));
    state.SetItemsProcessed(std::int64_t(state.iterations() * probes.size()));
}
BENCHMARK(IsLegal);

void PlayUnchecked(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    const MoveList legal = legal_moves_vec(b);
    const std::vector<Move> moves(legal.begin(), legal.end());
    for (auto _ : state)
        for (const Move& m : moves) {
            Board next = b;
            play_unchecked(next, m);
            benchmark::DoNotOptimize(next);
        }
    state.SetItemsProcessed(std::int64_t(state.iterations() * moves.size()));
}
BENCHMARK(PlayUnchecked);

void ParseUciMove(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    for (auto _ : state) benchmark::DoNotOptimize(parse_uci_move(b, "e1g1"));
}
BENCHMARK(ParseUciMove);

// Random squares and occupancies, so that the lookups miss the cache as they would in play.
void SlidingLookups(benchmark::State& state) {
    std::mt19937_64 rng(11);
    std::vector<std::pair<Square, BitBoard>> queries(4096);
    for (auto& q : queries) q = {Square(rng() % 64), BitBoard{rng() & rng()}};
    for (auto _ : state)
        for (const auto& [s, occ] : queries) {
            benchmark::DoNotOptimize(rook_attacks(s, occ));
            benchmark::DoNotOptimize(bishop_attacks(s, occ));
        }
    state.SetItemsProcessed(std::int64_t(state.iterations() * queries.size() * 2));
}
BENCHMARK(SlidingLookups);

void Perft4Kiwipete(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    for (auto _ : state) benchmark::DoNotOptimize(perft(b, 4));
    state.SetItemsProcessed(std::int64_t(state.iterations() * 4085603));
}
BENCHMARK(Perft4Kiwipete)->Unit(benchmark::kMillisecond);

}  // namespace
