// The position key: its words (one for each piece on each square, each castling right, each en
// passant file, and Black to move) and the key of a board computed from them alone, which the
// key kept up move by move must always equal.
#pragma once

#include <cstdint>

#include "board.h"
#include "types.h"

namespace chess {

// Hash keys: a fixed table of pseudo-random words from a splitmix64 stream with our own seed.
namespace keys {

struct KeyTable {
    std::uint64_t piece[2][PIECE_KINDS][64];
    std::uint64_t castle[2][8];
    std::uint64_t en_passant[8];
    std::uint64_t black;
};

constexpr KeyTable make_keys() {
    KeyTable k{};
    std::uint64_t state = 0x4d4f5256454b3031ULL;
    auto next = [&state] {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    for (auto& by_color : k.piece)
        for (auto& by_kind : by_color)
            for (auto& key : by_kind) key = next();
    for (auto& by_color : k.castle)
        for (auto& key : by_color) key = next();
    for (auto& key : k.en_passant) key = next();
    k.black = next();
    return k;
}

inline constexpr KeyTable KEYS = make_keys();

constexpr std::uint64_t piece(Color c, Piece p, Square s) {
    return KEYS.piece[index(c)][index(p)][index(s)];
}
constexpr std::uint64_t castle(Color c, File rook_file) {
    return KEYS.castle[index(c)][index(rook_file)];
}
constexpr std::uint64_t en_passant(File f) { return KEYS.en_passant[index(f)]; }
constexpr std::uint64_t black_to_move() { return KEYS.black; }

}  // namespace keys

inline std::uint64_t compute_hash(const Board& board) {
    std::uint64_t h = 0;
    for (unsigned c = 0; c < 2; ++c) {
        for_each_right(board.castle_rights[c],
                       [&](File rook) { h ^= keys::castle(Color(c), rook); });
        for (unsigned p = 0; p < PIECE_KINDS; ++p)
            for (const Square s : board.colored_pieces(Color(c), Piece(p)))
                h ^= keys::piece(Color(c), Piece(p), s);
    }
    if (board.en_passant) h ^= keys::en_passant(*board.en_passant);
    if (board.side_to_move == Color::Black) h ^= keys::black_to_move();
    return h;
}

}  // namespace chess
