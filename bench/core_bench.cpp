// Micro-benchmarks of the chess core: `make bench`, or build/benchmarks after
// `cmake --build build --target benchmarks`.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "chess/fen_paths.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/sliders.h"
#include "chess/uci.h"
#include "san.h"

using namespace chess;

namespace {

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* MIDDLEGAME =
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 3 8";
constexpr const char* KIWIPETE =
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";

Board load(const char* fen) { return from_fen(fen, false).value(); }

// ---------------------------------------------------------------------------------------------
// Distinct inputs: callers walk games and hand over a new position on every call, which the
// branch predictor and the caches cannot learn as they learn one position repeated. These are
// the positions of seeded random games, half from the standard start and half from Chess960
// starts, some of them with clocks that start near their caps; each benchmark below cycles
// through all of them, one per call.

constexpr std::size_t DISTINCT = 4096;  // a power of two: the cycling index is masked

// A Chess960 start: bishops on opposite colours, then queen and knights at random, then rook,
// king, rook in the three squares left. Castling is written in rook-file letters.
std::string chess960_start(std::mt19937_64& rng) {
    char rank[9] = "........";
    const auto place = [&](char piece, unsigned nth) {  // on the nth empty square
        for (unsigned f = 0;; ++f)
            if (rank[f] == '.' && nth-- == 0) {
                rank[f] = piece;
                return f;
            }
    };
    rank[2 * (rng() % 4)] = 'B';
    rank[2 * (rng() % 4) + 1] = 'B';
    place('Q', unsigned(rng() % 6));
    place('N', unsigned(rng() % 5));
    place('N', unsigned(rng() % 4));
    const unsigned long_rook = place('R', 0), king = place('K', 0), short_rook = place('R', 0);
    (void)king;
    std::string black(rank);
    for (char& c : black) c = char(c - 'A' + 'a');
    const std::string rights = {char('A' + short_rook), char('A' + long_rook),
                                char('a' + short_rook), char('a' + long_rook)};
    return black + "/pppppppp/8/8/8/8/PPPPPPPP/" + rank + " w " + rights + " - 0 1";
}

struct Position {
    Board board;
    std::string fen;  // in rook-file letters where the rooks stand off the a- and h-files
    bool file_letters;
};

// Plies drawn at random, with a lean towards pawn moves and captures so that the games reach
// en passant, promotions and thin endgames.
const std::vector<Position>& distinct_positions() {
    static const std::vector<Position> positions = [] {
        std::vector<Position> out;
        std::mt19937_64 rng(20261216);
        for (unsigned game = 0; out.size() < DISTINCT; ++game) {
            const bool chess960 = game % 2 == 1;
            std::string start = chess960 ? chess960_start(rng) : std::string(START);
            if (rng() % 4 == 0)
                start.replace(start.size() - 3, 3, "99 65530");  // clocks near their caps
            Board b = read_fen(start).value();
            for (unsigned ply = 0; ply < 120 && out.size() < DISTINCT; ++ply) {
                out.push_back({b, to_fen(b, chess960), chess960});
                const MoveList moves = legal_move_list(b);
                if (moves.empty()) break;
                Move pick = moves[rng() % moves.size()];
                if (rng() % 2 == 0)
                    for (const Move& m : moves)
                        if (b.occupied().has(m.to) || b.pieces_of(Piece::Pawn).has(m.from)) {
                            if (rng() % 3 == 0) {
                                pick = m;
                                break;
                            }
                        }
                play_unchecked(b, pick);
            }
        }
        return out;
    }();
    return positions;
}

void FromFen(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(from_fen(MIDDLEGAME, false));
}
BENCHMARK(FromFen);

void FromFenDistinct(benchmark::State& state) {
    const std::vector<Position>& positions = distinct_positions();
    std::size_t i = 0;
    for (auto _ : state) {
        const Position& p = positions[i];
        benchmark::DoNotOptimize(from_fen(p.fen, p.file_letters));
        i = (i + 1) % DISTINCT;
    }
}
BENCHMARK(FromFenDistinct);

// The module's reading: standard letters first, rook-file letters when those are refused.
void ReadFenDistinct(benchmark::State& state) {
    const std::vector<Position>& positions = distinct_positions();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(read_fen(positions[i].fen));
        i = (i + 1) % DISTINCT;
    }
}
BENCHMARK(ReadFenDistinct);

// The same reading by each way this machine has (chess/fen_paths.h), the reference first.
void ReadFenDistinctByPath(benchmark::State& state) {
    const std::vector<Position>& positions = distinct_positions();
    const std::span<const FenPath> paths = fen_paths();
    if (std::size_t(state.range(0)) >= paths.size()) {
        state.SkipWithError("no such path on this processor");
        return;
    }
    const FenPath path = paths[std::size_t(state.range(0))];
    state.SetLabel(std::string(path_name(path)));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(read_fen_on(path, positions[i].fen, CastlingLetters::Either));
        i = (i + 1) % DISTINCT;
    }
}
BENCHMARK(ReadFenDistinctByPath)->DenseRange(0, 2);

void ToFen(benchmark::State& state) {
    const Board b = load(MIDDLEGAME);
    char buffer[MAX_FEN_LENGTH];
    for (auto _ : state) {
        benchmark::DoNotOptimize(write_fen(buffer, b));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ToFen);

void ToFenDistinct(benchmark::State& state) {
    const std::vector<Position>& positions = distinct_positions();
    char buffer[MAX_FEN_LENGTH];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(write_fen(buffer, positions[i].board));
        benchmark::ClobberMemory();
        i = (i + 1) % DISTINCT;
    }
}
BENCHMARK(ToFenDistinct);

void LegalMovesVec(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    for (auto _ : state) benchmark::DoNotOptimize(legal_move_list(b));
}
BENCHMARK(LegalMovesVec);

void LegalMovesVecDistinct(benchmark::State& state) {
    const std::vector<Position>& positions = distinct_positions();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(legal_move_list(positions[i].board));
        i = (i + 1) % DISTINCT;
    }
}
BENCHMARK(LegalMovesVecDistinct);

// SAN of one legal move per position, chosen at random beforehand; Kiwipete's Nxf7 repeated.
void SanBody(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    const Move m = parse_uci_move(b, "e5f7").value();
    for (auto _ : state) benchmark::DoNotOptimize(morvek::san_body(b, m));
}
BENCHMARK(SanBody);

void SanBodyDistinct(benchmark::State& state) {
    const std::vector<Position>& positions = distinct_positions();
    std::vector<Move> moves;
    std::mt19937_64 rng(16);
    for (const Position& p : positions) {
        const MoveList legal = legal_move_list(p.board);
        moves.push_back(legal.empty() ? Move{} : legal[rng() % legal.size()]);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        if (moves[i].from != moves[i].to)
            benchmark::DoNotOptimize(morvek::san_body(positions[i].board, moves[i]));
        i = (i + 1) % DISTINCT;
    }
}
BENCHMARK(SanBodyDistinct);

void CountMoves(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    for (auto _ : state) benchmark::DoNotOptimize(count_moves(b));
}
BENCHMARK(CountMoves);

// Every generated move of Kiwipete, one call each, plus as many random non-moves.
void IsLegal(benchmark::State& state) {
    const Board b = load(KIWIPETE);
    const MoveList legal = legal_move_list(b);
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
    const MoveList legal = legal_move_list(b);
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
