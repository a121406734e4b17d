// The rules a FEN text must keep beyond its syntax, in one place for both readers (the
// reference and the vector paths), so that the two cannot come to judge a position apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

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

// The castling field as nearly every text writes it: "-", or K, Q, k, q in that order, each at
// most once, which name the rooks in the corners. Read as one word, found by a multiplicative
// hash that gives each of the sixteen its own slot; nothing for any other field or one the
// pieces do not back, which read_castling_field then reads (and refuses) in the one way.
struct UsualCastling {
    std::uint32_t text, length;
    BitBoard rooks;  // where the named rooks must stand
    unsigned ranks;  // bit 0: White's king must stand on its back rank; bit 1: Black's
    std::array<CastleRights, 2> rights;
};
constexpr unsigned usual_castling_slot(std::uint32_t word) {
    return std::uint32_t(word * 0x30794435u) >> 28;
}
constexpr std::array<UsualCastling, 16> USUAL_CASTLING = [] {
    std::array<UsualCastling, 16> t{};
    constexpr Square corners[] = {Square(7), Square(0), Square(63), Square(56)};
    for (unsigned m = 0; m < 16; ++m) {
        UsualCastling u{};
        unsigned n = 0;
        for (unsigned i = 0; i < 4; ++i) {
            if (!(m >> i & 1)) continue;
            u.text |= std::uint32_t(std::uint8_t("KQkq"[i])) << (8 * n++);
            u.rooks |= BitBoard::from(corners[i]);
            u.ranks |= 1u << (i / 2);
            CastleRights& r = u.rights[i / 2];
            (i % 2 ? r.long_ : r.short_) = i % 2 ? File::A : File::H;
        }
        if (!n) u.text = std::uint8_t('-'), n = 1;
        u.length = n;
        UsualCastling& slot = t[usual_castling_slot(u.text)];
        if (slot.length) throw "two fields share a slot";  // stops the build
        slot = u;
    }
    return t;
}();

// Four bytes from `p` must be readable.
[[gnu::always_inline]] inline std::optional<std::array<CastleRights, 2>> read_usual_castling(
    const char* p, const char* end, const Board& b) {
    const std::size_t length = std::size_t(end - p);
    if (length - 1 >= 4) return std::nullopt;
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    word &= ~std::uint32_t(0) >> (8 * (4 - length));
    const UsualCastling& u = USUAL_CASTLING[usual_castling_slot(word)];
    if (word != u.text || length != u.length) return std::nullopt;
    if (!u.ranks) return u.rights;
    const BitBoard home = (b.colors[0] & rank_set(Rank::First)) |
                          (b.colors[1] & rank_set(Rank::Eighth)),
                   kings = b.pieces_of(Piece::King) & home;
    const unsigned kings_home = unsigned((kings.bits & 0xFF) != 0) | unsigned(kings.bits >> 56 != 0)
                                                                         << 1;
    if ((u.rooks & ~(b.pieces_of(Piece::Rook) & home)).any() || (u.ranks & ~kings_home))
        return std::nullopt;
    return u.rights;
}
}  // namespace chess
