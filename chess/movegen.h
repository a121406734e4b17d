// Legal move generation in a fixed order, and single-move legality.
//
// Moves are generated legal from the start, from the stored checkers and pins, so no move is
// ever played and taken back to test it. The order is part of the module's contract:
// pawns (unpinned, then pinned, then en passant captures), knights, bishops, rooks, queens
// (unpinned before pinned), then the king with castling among its moves by the rook's square.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "board.h"
#include "geometry.h"
#include "sliders.h"
#include "types.h"

namespace chess {

// The moves of one piece: its kind, its square and the set of its destinations.
struct PieceMoves {
    Piece piece;
    Square from;
    BitBoard to;

    // Every pawn destination on the first or last rank stands for four promotions.
    constexpr std::size_t len() const {
        return std::size_t(to.count()) + (piece == Piece::Pawn ? 3 * std::size_t((to & BACK_RANKS).count()) : 0);
    }
};

// Expands a group into moves: destinations by increasing square, promotions N, B, R, Q.
class PieceMovesIter {
  public:
    explicit constexpr PieceMovesIter(const PieceMoves& group) : group_(group) {}

    constexpr std::optional<Move> next() {
        if (group_.to.empty()) return std::nullopt;
        const Square to = group_.to.lowest();
        if (group_.piece == Piece::Pawn && BACK_RANKS.has(to)) {
            const Piece promotion = Piece(index(Piece::Knight) + promotion_step_);
            if (++promotion_step_ == 4) {
                promotion_step_ = 0;
                group_.to = group_.to.without(to);
            }
            return Move{group_.from, to, promotion};
        }
        group_.to = group_.to.without(to);
        return Move{group_.from, to, std::nullopt};
    }

  private:
    PieceMoves group_;
    unsigned promotion_step_ = 0;
};

namespace detail {

constexpr BitBoard pawn_pushes(Color us, Square from, BitBoard occ) {
    const int step = us == Color::White ? 8 : -8;
    const int one_index = int(index(from)) + step;
    if (one_index < 0 || one_index > 63) return EMPTY;
    const Square one = Square(one_index);
    if (occ.has(one)) return EMPTY;
    BitBoard out = BitBoard::from(one);
    if (rank_of(from) == relative_rank(us, Rank::Second)) {
        const Square two = Square(one_index + step);
        if (!occ.has(two)) out |= BitBoard::from(two);
    }
    return out;
}

constexpr BitBoard pawn_targets(const Board& b, Square from) {
    const Color us = b.side_to_move;
    return pawn_pushes(us, from, b.occupied()) | (pawn_attacks(us, from) & b.them());
}

inline bool king_target_safe(const Board& b, Square k, Square t) {
    return !square_attacked(b, t, ~b.side_to_move, b.occupied().without(k) | t);
}

// Whether taking en passant with the pawn on `pawn` keeps the king out of the sliders' reach,
// once both pawns have left their squares and the capturing one stands on the target.
inline bool en_passant_safe(const Board& b, Square k, Square pawn, Square target, Square victim) {
    const Color them = ~b.side_to_move;
    const BitBoard after = b.occupied().without(pawn).without(victim) | target;
    const BitBoard queens = b.colored_pieces(them, Piece::Queen);
    const BitBoard diagonal = b.colored_pieces(them, Piece::Bishop) | queens;
    const BitBoard straight = b.colored_pieces(them, Piece::Rook) | queens;
    if ((bishop_rays(k) & diagonal).any() && (bishop_attacks(k, after) & diagonal).any()) return false;
    if ((rook_rays(k) & straight).any() && (rook_attacks(k, after) & straight).any()) return false;
    return true;
}

struct EnPassant {
    Square target;  // where the capturing pawn lands
    Square victim;  // the pawn that made the double push
};

constexpr std::optional<EnPassant> en_passant_of(const Board& b) {
    if (!b.en_passant) return std::nullopt;
    const Color us = b.side_to_move;
    return EnPassant{make_square(*b.en_passant, relative_rank(us, Rank::Sixth)),
                     make_square(*b.en_passant, relative_rank(us, Rank::Fifth))};
}

template <class Sink>
inline void en_passant_moves(const Board& b, Square k, Sink& sink) {
    const auto ep = en_passant_of(b);
    if (!ep) return;
    const Color us = b.side_to_move;
    const BitBoard capturers = pawn_attacks(~us, ep->target) & b.colored_pieces(us, Piece::Pawn);
    for (const Square pawn : capturers)
        if (en_passant_safe(b, k, pawn, ep->target, ep->victim))
            sink(PieceMoves{Piece::Pawn, pawn, BitBoard::from(ep->target)});
}

inline BitBoard piece_attacks(Piece p, Square s, BitBoard occ) {
    switch (p) {
        case Piece::Knight: return knight_attacks(s);
        case Piece::Bishop: return bishop_attacks(s, occ);
        case Piece::Rook: return rook_attacks(s, occ);
        default: return queen_attacks(s, occ);
    }
}

template <class Sink>
inline void emit(Sink& sink, Piece p, Square from, BitBoard to) {
    if (to.any()) sink(PieceMoves{p, from, to});
}

template <class Sink>
inline void king_moves(const Board& b, Square k, bool with_castling, Sink& sink);

}  // namespace detail

// The castling test for the side to move, which must not be in check and must hold the right
// with the rook on `rook_file`. The king goes to `king_target`, the rook to `rook_target`.
bool can_castle(const Board& board, File rook_file, File king_target, File rook_target);

// Hands each non-empty group of legal moves to `sink`, in generation order.
template <class Sink>
inline void generate_moves_for(const Board& b, Sink&& sink) {
    using detail::emit;
    const Color us = b.side_to_move;
    const Square k = b.king(us);
    const BitBoard own = b.us();
    const BitBoard occ = b.occupied();
    const BitBoard pawns = b.colored_pieces(us, Piece::Pawn);

    if (b.checkers.more_than_one()) {
        detail::king_moves(b, k, false, sink);
        return;
    }
    if (b.checkers.empty()) {
        for (const Square s : pawns.without(b.pinned)) emit(sink, Piece::Pawn, s, detail::pawn_targets(b, s));
        for (const Square s : pawns & b.pinned)
            emit(sink, Piece::Pawn, s, detail::pawn_targets(b, s) & line(k, s));
        detail::en_passant_moves(b, k, sink);
        for (const Square s : b.colored_pieces(us, Piece::Knight).without(b.pinned))
            emit(sink, Piece::Knight, s, knight_attacks(s).without(own));
        for (const Piece p : {Piece::Bishop, Piece::Rook, Piece::Queen}) {
            const BitBoard pieces = b.colored_pieces(us, p);
            for (const Square s : pieces.without(b.pinned))
                emit(sink, p, s, detail::piece_attacks(p, s, occ).without(own));
            for (const Square s : pieces & b.pinned)
                emit(sink, p, s, detail::piece_attacks(p, s, occ).without(own) & line(k, s));
        }
        detail::king_moves(b, k, true, sink);
        return;
    }
    const Square checker = b.checkers.lowest();
    const BitBoard mask = (between(checker, k) | checker).without(own);
    for (const Square s : pawns.without(b.pinned)) emit(sink, Piece::Pawn, s, detail::pawn_targets(b, s) & mask);
    detail::en_passant_moves(b, k, sink);
    for (const Piece p : {Piece::Knight, Piece::Bishop, Piece::Rook, Piece::Queen})
        for (const Square s : b.colored_pieces(us, p).without(b.pinned))
            emit(sink, p, s, detail::piece_attacks(p, s, occ) & mask);
    detail::king_moves(b, k, false, sink);
}

template <class Sink>
inline void detail::king_moves(const Board& b, Square k, bool with_castling, Sink& sink) {
    BitBoard to;
    for (const Square t : king_attacks(k).without(b.us()))
        if (king_target_safe(b, k, t)) to |= BitBoard::from(t);
    if (with_castling) {
        const CastleRights& rights = b.castle_rights[index(b.side_to_move)];
        const Rank back = back_rank(b.side_to_move);
        if (rights.short_ && can_castle(b, *rights.short_, File::G, File::F))
            to |= BitBoard::from(make_square(*rights.short_, back));
        if (rights.long_ && can_castle(b, *rights.long_, File::C, File::D))
            to |= BitBoard::from(make_square(*rights.long_, back));
    }
    emit(sink, Piece::King, k, to);
}

// All legal moves in generation order, castling as the king's move onto its rook.
std::vector<Move> legal_moves_vec(const Board& board);

// Whether `move` is one of the moves generation would produce, without generating the others.
bool is_legal(const Board& board, const Move& move);

// Number of leaf positions `depth` plies below `board`; the last ply is counted from the
// groups' sizes without playing its moves.
std::uint64_t perft(const Board& board, unsigned depth);

}  // namespace chess
