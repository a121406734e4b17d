// The game walk without Python: the splitter's speed on plain and annotated PGN, the walk's
// positions a second on the sample collection (chunks as the splitter cuts them, each walked
// into CSV as a worker would), and the time hostile inputs take. `make bench`, or
// build/benchmarks --benchmark_filter=Walk|Split|Hostile.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "splitter.h"
#include "walk.h"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The sample collection, both files, as one input.
const std::string& sample() {
    static const std::string text = read_file(MORVEK_SOURCE_DIR "/examples/games/standard.pgn") +
                                    "\n" +
                                    read_file(MORVEK_SOURCE_DIR "/examples/games/chess960.pgn");
    return text;
}

// The sample as online databases write games: a clock and an evaluation after every move.
const std::string& annotated() {
    static const std::string text = [] {
        std::mt19937 rng(33);
        std::string out;
        const std::string& plain = sample();
        std::size_t at = 0;
        bool movetext = false;
        while (at < plain.size()) {
            const std::size_t end = std::min(plain.find_first_of(" \n", at), plain.size());
            const std::string_view word(plain.data() + at, end - at);
            out += word;
            if (word.size() > 1 && word.front() == '[') movetext = false;
            if (!word.empty() && word.front() == '1' && word.back() == '.') movetext = true;
            if (movetext && !word.empty() && word.back() != '.' && word.front() != '[') {
                const unsigned seconds = rng() % 180;
                out += " { [%eval " + std::to_string(int(rng() % 400) - 200) + "." +
                       std::to_string(rng() % 100) + "] [%clk 0:0" + std::to_string(seconds / 60) +
                       ":" + (seconds % 60 < 10 ? "0" : "") + std::to_string(seconds % 60) + "] }";
            }
            if (end < plain.size()) out += plain[end];
            at = end + 1;
        }
        return out;
    }();
    return text;
}

std::vector<pgn::Chunk> split(std::string_view data, std::uint64_t chunk_moves) {
    pgn::Splitter splitter(chunk_moves);
    std::vector<pgn::Chunk> chunks;
    constexpr std::size_t BLOCK = std::size_t(1) << 20;  // what the command reads at a time
    for (std::size_t at = 0; at < data.size(); at += BLOCK)
        splitter.feed(data.substr(at, BLOCK), chunks);
    splitter.finish(chunks);
    return chunks;
}

// Each chunk walked into its CSV text, as a worker's call does: into the buffers the chunk
// before left (the module keeps them for the next call).
std::size_t walk_chunks(const std::vector<pgn::Chunk>& chunks, bool csv) {
    static pgn::WalkedChunk walked;
    static std::string text;
    std::size_t positions = 0;
    const pgn::WalkOptions options;
    for (const pgn::Chunk& chunk : chunks) {
        walked.clear();
        text.clear();
        pgn::walk_games(chunk.bytes, chunk.first_game, options, walked);
        if (csv) {
            pgn::write_csv(walked, options.columns, "examples/games/standard.pgn", text);
            benchmark::DoNotOptimize(text.data());
        }
        positions += walked.rows();
    }
    return positions;
}

void WalkSample(benchmark::State& state, bool csv) {
    const std::vector<pgn::Chunk> chunks = split(sample(), 20000);
    std::size_t positions = 0;
    for (auto _ : state) positions += walk_chunks(chunks, csv);
    state.counters["positions/s"] =
        benchmark::Counter(double(positions), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(std::int64_t(state.iterations() * sample().size()));
}
BENCHMARK_CAPTURE(WalkSample, csv, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WalkSample, columns, false)->Unit(benchmark::kMillisecond);

// Ten copies, so that the input is larger than the caches, fed in 1 MiB blocks.
void Split(benchmark::State& state, const std::string& (*text)()) {
    std::string data;
    for (int copy = 0; copy < 10; ++copy) data += text();
    for (auto _ : state) benchmark::DoNotOptimize(split(data, 20000).size());
    state.SetBytesProcessed(std::int64_t(state.iterations() * data.size()));
}
BENCHMARK_CAPTURE(Split, plain, sample)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Split, annotated, annotated)->Unit(benchmark::kMillisecond);

// Hostile inputs of state.range(0) MB, split and walked: printable garbage in words and
// lines, random bytes, one line of letters without a space, a comment never closed, and games
// of 10,000 plies (knights going back and forth).
std::string hostile(const std::string& kind, std::size_t size) {
    std::mt19937_64 rng(7);
    std::string out;
    out.reserve(size + 100000);
    if (kind == "open_comment") out = "1. e4 {";
    while (kind == "long_games" && out.size() < size) {
        out += "[Event \"long\"]\n\n";
        for (int move = 1; move <= 5000; ++move)
            out += std::to_string(move) + (move % 2 ? ". Nf3 Nf6 " : ". Ng1 Ng8 ");
        out += "1/2-1/2\n\n";
    }
    while (out.size() < size) {
        const auto r = rng();
        if (kind == "garbage") {
            out += r % 64 < 8 ? ' ' : r % 64 == 8 ? '\n' : char('!' + (r >> 8) % 94);
        } else if (kind == "random") {
            out += char(r);
        } else {
            out += char('a' + r % 26);
        }
    }
    return out;
}

void Hostile(benchmark::State& state, const std::string& kind) {
    const std::string data = hostile(kind, std::size_t(state.range(0)) << 20);
    for (auto _ : state) benchmark::DoNotOptimize(walk_chunks(split(data, 20000), true));
    state.SetBytesProcessed(std::int64_t(state.iterations() * data.size()));
}
#define HOSTILE(kind)                                    \
    BENCHMARK_CAPTURE(Hostile, kind, std::string(#kind)) \
        ->Arg(5)                                         \
        ->Arg(10)                                        \
        ->Arg(20)                                        \
        ->Arg(50)                                        \
        ->Unit(benchmark::kMillisecond)
HOSTILE(garbage);
HOSTILE(random);
HOSTILE(one_line);
HOSTILE(open_comment);
HOSTILE(long_games);

}  // namespace
