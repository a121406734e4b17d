// Fixed geometric tables over squares, generated at compile time from the board's geometry.
#pragma once

#include <array>

#include "types.h"

namespace chess {

namespace detail {

// Walks from `s` in steps of (df, dr) until the edge; with `stop` set, the walk also ends on
// (and includes) the first square of `stop`.
constexpr BitBoard ray(Square s, int df, int dr, BitBoard stop = EMPTY) {
    BitBoard out;
    int f = int(index(file_of(s))) + df, r = int(index(rank_of(s))) + dr;
    while (f >= 0 && f < 8 && r >= 0 && r < 8) {
        const Square t = make_square(File(f), Rank(r));
        out |= BitBoard::from(t);
        if (stop.has(t)) break;
        f += df;
        r += dr;
    }
    return out;
}

constexpr BitBoard steps(Square s, const int (*deltas)[2], int n) {
    BitBoard out;
    for (int i = 0; i < n; ++i) {
        const int f = int(index(file_of(s))) + deltas[i][0];
        const int r = int(index(rank_of(s))) + deltas[i][1];
        if (f >= 0 && f < 8 && r >= 0 && r < 8)
            out |= BitBoard::from(make_square(File(f), Rank(r)));
    }
    return out;
}

constexpr int BISHOP_DIRS[4][2] = {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
constexpr int ROOK_DIRS[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
constexpr int KNIGHT_JUMPS[8][2] = {{1, 2},   {2, 1},   {2, -1}, {1, -2},
                                    {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
constexpr int KING_STEPS[8][2] = {{1, 0},  {1, 1},   {0, 1},  {-1, 1},
                                  {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};

// The slow, loop-based slider attacks: the reference the lookup tables are built and checked from.
constexpr BitBoard slow_slider_attacks(Square s, BitBoard occupied, const int (*dirs)[2]) {
    BitBoard out;
    for (int i = 0; i < 4; ++i) out |= ray(s, dirs[i][0], dirs[i][1], occupied);
    return out;
}
constexpr BitBoard slow_bishop_attacks(Square s, BitBoard occ) {
    return slow_slider_attacks(s, occ, BISHOP_DIRS);
}
constexpr BitBoard slow_rook_attacks(Square s, BitBoard occ) {
    return slow_slider_attacks(s, occ, ROOK_DIRS);
}

struct Geometry {
    std::array<std::array<BitBoard, 64>, 2> pawn_attacks{};
    std::array<BitBoard, 64> knight_attacks{};
    std::array<BitBoard, 64> king_attacks{};
    std::array<BitBoard, 64> bishop_rays{};
    std::array<BitBoard, 64> rook_rays{};
    std::array<std::array<BitBoard, 64>, 64> between{};
    std::array<std::array<BitBoard, 64>, 64> line{};
};

constexpr Geometry make_geometry() {
    Geometry g;
    constexpr int white_pawn[2][2] = {{-1, 1}, {1, 1}};
    constexpr int black_pawn[2][2] = {{-1, -1}, {1, -1}};
    for (unsigned i = 0; i < 64; ++i) {
        const Square s = Square(i);
        g.pawn_attacks[0][i] = steps(s, white_pawn, 2);
        g.pawn_attacks[1][i] = steps(s, black_pawn, 2);
        g.knight_attacks[i] = steps(s, KNIGHT_JUMPS, 8);
        g.king_attacks[i] = steps(s, KING_STEPS, 8);
        g.bishop_rays[i] = slow_bishop_attacks(s, EMPTY);
        g.rook_rays[i] = slow_rook_attacks(s, EMPTY);
    }
    for (unsigned a = 0; a < 64; ++a) {
        for (int d = 0; d < 8; ++d) {
            const int* dir = d < 4 ? BISHOP_DIRS[d] : ROOK_DIRS[d - 4];
            const BitBoard forward = ray(Square(a), dir[0], dir[1]);
            const BitBoard full =
                forward | ray(Square(a), -dir[0], -dir[1]) | BitBoard::from(Square(a));
            for (const Square b : forward) {
                g.between[a][index(b)] =
                    ray(Square(a), dir[0], dir[1], BitBoard::from(b)).without(b);
                g.line[a][index(b)] = full;
            }
        }
    }
    return g;
}

inline constexpr Geometry GEOMETRY = make_geometry();

}  // namespace detail

constexpr BitBoard pawn_attacks(Color c, Square s) {
    return detail::GEOMETRY.pawn_attacks[index(c)][index(s)];
}
constexpr BitBoard knight_attacks(Square s) { return detail::GEOMETRY.knight_attacks[index(s)]; }
constexpr BitBoard king_attacks(Square s) { return detail::GEOMETRY.king_attacks[index(s)]; }
constexpr BitBoard bishop_rays(Square s) { return detail::GEOMETRY.bishop_rays[index(s)]; }
constexpr BitBoard rook_rays(Square s) { return detail::GEOMETRY.rook_rays[index(s)]; }
constexpr BitBoard between(Square a, Square b) {
    return detail::GEOMETRY.between[index(a)][index(b)];
}
constexpr BitBoard line(Square a, Square b) { return detail::GEOMETRY.line[index(a)][index(b)]; }

static_assert(between(Square::E1, Square::E8) ==
              (file_set(File::E) & ~rank_set(Rank::First) & ~rank_set(Rank::Eighth)));
static_assert(between(Square::E1, Square::H4) == (BitBoard::from(Square::F2) | Square::G3));
static_assert(between(Square::E1, Square::E2).empty() && between(Square::E1, Square::F3).empty());
static_assert(line(Square::A1, Square::B2) == BitBoard{0x8040201008040201});
static_assert(line(Square::E4, Square::E5) == file_set(File::E));
static_assert(line(Square::E4, Square::E4).empty() && line(Square::A1, Square::B3).empty());
static_assert(pawn_attacks(Color::White, Square::A2) == BitBoard::from(Square::B3));
static_assert(pawn_attacks(Color::White, Square::H8).empty());
static_assert(pawn_attacks(Color::Black, Square::E8) == (BitBoard::from(Square::D7) | Square::F7));
static_assert(pawn_attacks(Color::White, Square::E1) == (BitBoard::from(Square::D2) | Square::F2));

}  // namespace chess
