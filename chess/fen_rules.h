// The rules a FEN text must keep beyond its syntax, in one place for both readers (the
// reference and the vector paths), so that the two cannot come to judge a position apart.
#pragma once

#include <cstdint>

#include "attacks.h"
#include "board.h"

namespace chess {

// Every letter stands on a square of its own, so the sets cannot overlap; the counts are the
// side's pieces and pawns, however the reader counted them.
inline bool side_is_sound(const Board& b, Color c, std::uint64_t pieces, std::uint64_t pawns) {
    const BitBoard kings = b.colored_pieces(c, Piece::King);
    return pieces <= 16 && kings.any() && !kings.more_than_one() && pawns <= 8 &&
           (b.colored_pieces(c, Piece::Pawn) & BACK_RANKS).empty();
}

// The side not to move may not be in check, and its king may not stand beside the other one
// (the side to move could take it). Both fail the same way, so one attack test, which counts
// the enemy king among the attackers, decides both. Both kings must be on the board.
inline bool waiting_king_is_safe(const Board& b) {
    const Color waiting = ~b.side_to_move;
    return !square_attacked(b, b.king(waiting), b.side_to_move, b.occupied());
}

// The en passant validity rule: the square the pawn left and the one it passed are empty, the
// pawn stands beyond them, and every check on the side to move is one that this double push
// can have given.
inline bool en_passant_is_sound(const Board& b, File f) {
    const Color us = b.side_to_move;
    const EnPassant ep = en_passant_on(us, f);
    const BitBoard occ = b.occupied();
    if (occ.has(ep.origin) || occ.has(ep.target)) return false;
    if (!b.colored_pieces(~us, Piece::Pawn).has(ep.victim)) return false;
    const Square k = b.king(us);
    for (const Square checker : b.checkers)
        if (checker != ep.victim && !between(checker, k).has(ep.origin)) return false;
    return true;
}

// The en passant field [p, end): "-", or the square behind the pawn that has just moved two.
[[gnu::always_inline]] inline bool read_en_passant(Board& b, const char* p, const char* end) {
    if (end - p == 1 && *p == '-') return true;
    if (end - p != 2) return false;
    const unsigned file = unsigned(std::uint8_t(p[0])) - 'a';
    const char rank = rank_char(relative_rank(b.side_to_move, Rank::Sixth));
    if (file > 7 || p[1] != rank || !en_passant_is_sound(b, File(file))) return false;
    b.en_passant = File(file);
    return true;
}

}  // namespace chess
