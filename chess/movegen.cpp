#include "movegen.h"

#include "play.h"

namespace chess {

MoveList legal_moves_vec(const Board& board) {
    MoveList moves;
    generate_moves_for(board, [&moves](const PieceMoves& group) {
        Move* out = moves.reserve_group();
        for_each_move(group, [&out](const Move& m) { ::new (out++) Move(m); });
        moves.commit_group(out);
    });
    return moves;
}

namespace {

bool king_move_legal(const Board& b, Square k, const Move& m) {
    if (m.promotion) return false;
    if (b.checkers.empty()) {
        const CastleRights& rights = b.castle_rights[index(b.side_to_move)];
        const Rank back = back_rank(b.side_to_move);
        if (rights.short_ && m.to == make_square(*rights.short_, back) &&
            detail::can_castle_from(b, k, *rights.short_, File::G, File::F))
            return true;
        if (rights.long_ && m.to == make_square(*rights.long_, back) &&
            detail::can_castle_from(b, k, *rights.long_, File::C, File::D))
            return true;
    }
    return king_attacks(k).without(b.us()).has(m.to) && detail::king_target_safe(b, k, m.to);
}

bool pawn_move_legal(const Board& b, Square k, const Move& m, BitBoard target_mask) {
    const bool last_rank = rank_of(m.to) == relative_rank(b.side_to_move, Rank::Eighth);
    if (last_rank != m.promotion.has_value()) return false;
    if (m.promotion && (*m.promotion == Piece::Pawn || *m.promotion == Piece::King)) return false;

    if (const auto ep = detail::en_passant_of(b); ep && m.to == ep->target) {
        return pawn_attacks(b.side_to_move, m.from).has(ep->target) &&
               detail::en_passant_safe(b, k, m.from, ep->target, ep->victim);
    }
    // Generation gives pinned pawns nothing in check, and only their pin line otherwise.
    if (b.pinned.has(m.from)) {
        if (b.checkers.any()) return false;
        target_mask &= line(k, m.from);
    }
    return (detail::pawn_targets(b, m.from) & target_mask).has(m.to);
}

}  // namespace

bool is_legal(const Board& b, const Move& m) {
    const Color us = b.side_to_move;
    if (!b.us().has(m.from)) return false;
    const Square k = b.king(us);
    if (m.from == k) return king_move_legal(b, k, m);

    if (b.pinned.has(m.from) && !line(k, m.from).has(m.to)) return false;
    if (b.checkers.more_than_one()) return false;
    BitBoard target_mask = ~b.us();
    if (b.checkers.any()) {
        const Square checker = b.checkers.lowest();
        target_mask &= between(checker, k) | checker;
    }

    const Piece p = *b.piece_on(m.from);
    if (p == Piece::Pawn) return pawn_move_legal(b, k, m, target_mask);
    if (m.promotion || !target_mask.has(m.to)) return false;
    // In check, pinned pieces have no moves at all.
    if (b.checkers.any() && b.pinned.has(m.from)) return false;
    switch (p) {
        case Piece::Knight: return knight_attacks(m.from).has(m.to);
        case Piece::Bishop: if (!bishop_rays(m.from).has(m.to)) return false; break;
        case Piece::Rook: if (!rook_rays(m.from).has(m.to)) return false; break;
        default: if (!(bishop_rays(m.from) | rook_rays(m.from)).has(m.to)) return false; break;
    }
    return (between(m.from, m.to) & b.occupied()).empty();
}

namespace {

struct MoveCounter {
    std::uint64_t n = 0;
    void operator()(const PieceMoves& group) { n += group.len(); }
    void add_count(std::uint64_t k) { n += k; }
};

}  // namespace

std::uint64_t count_moves(const Board& board) {
    MoveCounter counter;
    generate_moves_for(board, counter);
    return counter.n;
}

std::uint64_t perft(const Board& board, unsigned depth) {
    if (depth == 0) return 1;
    if (depth == 1) return count_moves(board);
    std::uint64_t n = 0;
    const auto below = [&](const Move& m) {
        Board next = board;
        play_unchecked(next, m);
        n += perft(next, depth - 1);
    };
    generate_moves_for(board, [&](const PieceMoves& group) { for_each_move(group, below); });
    return n;
}

}  // namespace chess
