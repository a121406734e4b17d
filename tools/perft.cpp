// perft [--divide] <depth> [<fen>]
//
// Counts the leaf positions of the legal move tree. The FEN is read as the module reads it:
// standard castling letters first, rook-file letters only when those are refused.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"

using namespace chess;

namespace {

constexpr const char* START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

int usage() {
    std::fprintf(stderr, "usage: perft [--divide] <depth> [<fen>]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool divide = false;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--divide") == 0) {
        divide = true;
        ++arg;
    }
    if (arg >= argc) return usage();
    char* end = nullptr;
    const unsigned long depth = std::strtoul(argv[arg], &end, 10);
    if (*argv[arg] == '\0' || *end != '\0' || depth > 20) return usage();
    ++arg;
    const std::string fen = arg < argc ? argv[arg++] : START;
    if (arg != argc) return usage();

    const auto loaded = read_fen(fen);
    if (!loaded) {
        std::fprintf(stderr, "bad FEN: %.*s\n", int(error_name(loaded.error()).size()),
                     error_name(loaded.error()).data());
        return 1;
    }
    const Board& board = loaded.value();

    const auto started = std::chrono::steady_clock::now();
    std::uint64_t nodes = 0;
    if (divide && depth > 0) {
        for (const Move& m : legal_move_list(board)) {
            Board next = board;
            play_unchecked(next, m);
            const std::uint64_t n = perft(next, unsigned(depth - 1));
            std::printf("%s: %llu\n", uci_move_text(board, m).c_str(), (unsigned long long)n);
            nodes += n;
        }
        std::printf("\n");
    } else {
        nodes = perft(board, unsigned(depth));
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    const unsigned long long nps =
        us > 0 ? (unsigned long long)(double(nodes) * 1e6 / double(us)) : 0;
    std::printf("nodes %llu time %lld ms nps %llu\n", (unsigned long long)nodes,
                (long long)(us / 1000), nps);
    return 0;
}
