#include "movegen.h"

#include "play.h"

namespace chess {

using detail::forward;
using detail::king_target_safe;
using detail::pawn_targets;
using detail::target_mask;

namespace {

// Whether taking en passant with the pawn on `pawn` keeps the king out of the sliders' reach,
// once both pawns have left their squares and the capturing one stands on the target.
bool en_passant_safe(const Board& b, Square k, Square pawn, const EnPassant& ep) {
    const BitBoard after = b.occupied().without(pawn).without(ep.victim) | ep.target;
    const Attackers sliders{b, k, b.them(), after};
    return sliders.diagonal().empty() && sliders.straight().empty();
}

// The unpinned pawns' moves counted as whole sets: their pushes and captures, shifted at once,
// give the same total as the per-pawn groups.
template <class Count>
std::uint64_t count_unpinned_pawn_moves(const Board& b, BitBoard mask, Count&& count) {
    const Color us = b.side_to_move;
    const BitBoard pawns = b.colored_pieces(us, Piece::Pawn).without(b.pinned);
    const BitBoard empty = ~b.occupied();
    const BitBoard single = forward(us, pawns) & empty;
    const BitBoard twice = forward(us, single & rank_set(relative_rank(us, Rank::Third))) & empty;
    const BitBoard ahead = forward(us, pawns);
    const BitBoard left{ahead.without(file_set(File::A)).bits >> 1};  // towards the a-file
    const BitBoard right{ahead.without(file_set(File::H)).bits << 1};
    const BitBoard targets = mask & b.them();
    const BitBoard last = rank_set(relative_rank(us, Rank::Eighth));
    // Single and double pushes never share a square.
    const BitBoard pushes = (single | twice) & mask;
    const BitBoard l = left & targets, r = right & targets;
    std::uint64_t n = std::uint64_t(count(pushes) + count(l) + count(r));
    if (((pushes | l | r) & last).any())  // each promotion square stands for four moves
        n += 3 * std::uint64_t(count(pushes & last) + count(l & last) + count(r & last));
    return n;
}

// The groups' sizes summed, each set's squares counted by `count`.
template <class Count>
inline std::uint64_t count_moves_by(const Board& board, Count&& count) {
    std::uint64_t n = 0;
    if (!board.checkers.more_than_one())
        n = count_unpinned_pawn_moves(board, target_mask(board, board.king(board.side_to_move)),
                                      count);
    generate_moves_for(
        board, [&](const PieceMoves& group) { n += group.len(count); },
        Steps{}.without(Step::UnpinnedPawns));
    return n;
}

std::uint64_t count_portably(const Board& board) {
    return count_moves_by(board, [](BitBoard b) { return b.count(); });
}

// Plain x86-64 has no population-count instruction, so types.h counts bits with arithmetic;
// nearly every processor running the module has the instruction, and counting moves (the
// legal-move counts, the mate test, perft's last ply) is mostly counting bits. The form with
// the instruction is chosen once, when the module is loaded; before that (an initialiser of
// another file calling in), the portable form answers.
#if defined(__x86_64__) && !defined(__POPCNT__)
__attribute__((target("popcnt"))) std::uint64_t count_by_instruction(const Board& board) {
    return count_moves_by(board, [](BitBoard b) { return __builtin_popcountll(b.bits); });
}

const bool COUNT_BY_INSTRUCTION = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") != 0;
}();
#endif

}  // namespace

namespace detail {

BitBoard en_passant_capturers(const Board& b, Square k) {
    const auto ep = b.en_passant_squares();
    if (!ep) return EMPTY;
    const Color us = b.side_to_move;
    BitBoard out;
    for (const Square pawn : pawn_attacks(~us, ep->target) & b.colored_pieces(us, Piece::Pawn))
        if (en_passant_safe(b, k, pawn, *ep)) out |= BitBoard::from(pawn);
    return out;
}

}  // namespace detail

MoveList legal_move_list(const Board& board) {
    MoveList moves;
    generate_moves_for(board, [&moves](const PieceMoves& group) {
        for_each_move(group, [&moves](const Move& m) { moves.push_back(m); });
    });
    return moves;
}

namespace {

bool king_move_legal(const Board& b, Square k, const Move& m) {
    if (m.promotion) return false;
    if (b.checkers.empty() && b.is_castling(m)) return detail::castling_targets(b, k).has(m.to);
    return king_attacks(k).without(b.us()).has(m.to) && king_target_safe(b, k, m.to);
}

bool pawn_move_legal(const Board& b, Square k, const Move& m, BitBoard mask) {
    const bool last_rank = rank_of(m.to) == relative_rank(b.side_to_move, Rank::Eighth);
    if (last_rank != m.promotion.has_value()) return false;
    if (m.promotion && (*m.promotion == Piece::Pawn || *m.promotion == Piece::King)) return false;

    if (const auto ep = b.en_passant_squares(); ep && m.to == ep->target)
        return pawn_attacks(b.side_to_move, m.from).has(ep->target) &&
               en_passant_safe(b, k, m.from, *ep);
    // Generation gives pinned pawns nothing in check, and only their pin line otherwise.
    if (b.pinned.has(m.from)) {
        if (b.checkers.any()) return false;
        mask &= line(k, m.from);
    }
    return (pawn_targets(b, m.from) & mask).has(m.to);
}

}  // namespace

bool is_legal(const Board& b, const Move& m) {
    if (!b.us().has(m.from)) return false;
    const Square k = b.king(b.side_to_move);
    if (m.from == k) return king_move_legal(b, k, m);

    if (b.pinned.has(m.from) && !line(k, m.from).has(m.to)) return false;
    if (b.checkers.more_than_one()) return false;
    const BitBoard mask = target_mask(b, k);

    const Piece p = *b.piece_on(m.from);
    if (p == Piece::Pawn) return pawn_move_legal(b, k, m, mask);
    if (m.promotion || !mask.has(m.to)) return false;
    // In check, pinned pieces have no moves at all.
    if (b.checkers.any() && b.pinned.has(m.from)) return false;
    switch (p) {
        case Piece::Knight: return knight_attacks(m.from).has(m.to);
        case Piece::Bishop:
            if (!bishop_rays(m.from).has(m.to)) return false;
            break;
        case Piece::Rook:
            if (!rook_rays(m.from).has(m.to)) return false;
            break;
        default:
            if (!(bishop_rays(m.from) | rook_rays(m.from)).has(m.to)) return false;
            break;
    }
    return (between(m.from, m.to) & b.occupied()).empty();
}

std::uint64_t count_moves(const Board& board) {
#if defined(__x86_64__) && !defined(__POPCNT__)
    if (COUNT_BY_INSTRUCTION) return count_by_instruction(board);
#endif
    return count_portably(board);
}

std::uint64_t detail::count_moves_portable(const Board& board) { return count_portably(board); }

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
