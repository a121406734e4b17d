#include "movegen.h"

#include "play.h"

namespace chess {

bool can_castle(const Board& b, File rook_file, File king_target, File rook_target) {
    const Color us = b.side_to_move;
    const Rank back = back_rank(us);
    const Square k = b.king(us);
    const Square rook = make_square(rook_file, back);
    const Square kt = make_square(king_target, back);
    const Square rt = make_square(rook_target, back);
    // A rook shielding its king along the back rank would, once moved, let the slider behind
    // it through; the attack test below cannot see that, as the rook stays in its occupancy.
    if (b.pinned.has(rook)) return false;
    const BitBoard path = between(k, rook) | between(k, kt) | kt | rt;
    if ((path & b.occupied()).without(k).without(rook).any()) return false;
    // With the king taken out of the occupancy, a checking slider's ray runs through its old
    // square, so every square the king crosses is tested as it will stand.
    const BitBoard without_king = b.occupied().without(k);
    for (const Square s : between(k, kt) | kt)
        if (square_attacked(b, s, ~us, without_king | s)) return false;
    return true;
}

std::vector<Move> legal_moves_vec(const Board& board) {
    std::vector<Move> moves;
    moves.reserve(64);
    generate_moves_for(board, [&moves](const PieceMoves& group) {
        PieceMovesIter it(group);
        while (const std::optional<Move> m = it.next()) moves.push_back(*m);
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
            can_castle(b, *rights.short_, File::G, File::F))
            return true;
        if (rights.long_ && m.to == make_square(*rights.long_, back) &&
            can_castle(b, *rights.long_, File::C, File::D))
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

std::uint64_t count_leaves(const Board& b) {
    std::uint64_t n = 0;
    generate_moves_for(b, [&n](const PieceMoves& group) { n += group.len(); });
    return n;
}

}  // namespace

std::uint64_t perft(const Board& board, unsigned depth) {
    if (depth == 0) return 1;
    if (depth == 1) return count_leaves(board);
    std::uint64_t n = 0;
    generate_moves_for(board, [&](const PieceMoves& group) {
        PieceMovesIter it(group);
        while (const std::optional<Move> m = it.next()) {
            Board next = board;
            play_unchecked(next, *m);
            n += perft(next, depth - 1);
        }
    });
    return n;
}

}  // namespace chess
