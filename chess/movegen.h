// Legal move generation in a fixed order, and single-move legality.
//
// Moves are generated legal from the start, from the stored checkers and pins, so no move is
// ever played and taken back to test it. The order is part of the module's contract:
// pawns (unpinned, then pinned, then en passant captures), knights, bishops, rooks, queens
// (unpinned before pinned), then the king with castling among its moves by the rook's square.
#pragma once

#include <concepts>
#include <cstddef>
#include <new>
#include <type_traits>
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

// Calls `f` with each move of a group in PieceMovesIter's order; groups without promotions
// (all but pawns reaching the last rank) skip the iterator's per-move promotion test.
template <class F>
inline void for_each_move(const PieceMoves& group, F&& f) {
    if (group.piece != Piece::Pawn || (group.to & BACK_RANKS).empty()) {
        for (const Square to : group.to) f(Move{group.from, to, std::nullopt});
        return;
    }
    PieceMovesIter it(group);
    while (const std::optional<Move> m = it.next()) f(*m);
}

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

template <Piece P>
inline BitBoard slider_attacks(Square s, BitBoard occ) {
    if constexpr (P == Piece::Bishop) return bishop_attacks(s, occ);
    else if constexpr (P == Piece::Rook) return rook_attacks(s, occ);
    else return queen_attacks(s, occ);
}

// Unpinned pieces of the kind first, then pinned ones along their pin line.
template <Piece P, class Sink>
inline void slider_moves(const Board& b, Square k, BitBoard own, BitBoard occ, Sink& sink) {
    const BitBoard pieces = b.colored_pieces(b.side_to_move, P);
    for (const Square s : pieces.without(b.pinned)) emit(sink, P, s, slider_attacks<P>(s, occ).without(own));
    for (const Square s : pieces & b.pinned)
        emit(sink, P, s, slider_attacks<P>(s, occ).without(own) & line(k, s));
}

constexpr BitBoard forward(Color c, BitBoard b) {
    return c == Color::White ? BitBoard{b.bits << 8} : BitBoard{b.bits >> 8};
}

// A sink that only counts moves may take all unpinned pawns at once: their pushes and
// captures, shifted as whole sets, give the same total as the per-pawn groups.
template <class Sink>
concept BulkCounter = requires(Sink& s) { s.add_count(std::uint64_t(0)); };

template <class Sink>
inline void unpinned_pawn_moves(const Board& b, BitBoard pawns, BitBoard mask, Sink& sink) {
    if constexpr (BulkCounter<Sink>) {
        const Color us = b.side_to_move;
        const BitBoard empty = ~b.occupied();
        const BitBoard single = forward(us, pawns) & empty;
        const BitBoard twice = forward(us, single & rank_set(relative_rank(us, Rank::Third))) & empty;
        const BitBoard ahead = forward(us, pawns);
        const BitBoard left{ahead.without(file_set(File::A)).bits >> 1};  // towards the a-file
        const BitBoard right{ahead.without(file_set(File::H)).bits << 1};
        const BitBoard targets = mask & b.them();
        const BitBoard last = rank_set(relative_rank(us, Rank::Eighth));
        const BitBoard pushes = (single | twice) & mask;  // single and double pushes never share a square
        const BitBoard l = left & targets, r = right & targets;
        std::uint64_t n = std::uint64_t(pushes.count() + l.count() + r.count());
        if (((pushes | l | r) & last).any())  // each promotion square stands for four moves
            n += 3 * std::uint64_t((pushes & last).count() + (l & last).count() + (r & last).count());
        sink.add_count(n);
    } else {
        for (const Square s : pawns) emit(sink, Piece::Pawn, s, pawn_targets(b, s) & mask);
    }
}

template <class Sink>
inline void king_moves(const Board& b, Square k, bool with_castling, Sink& sink);

}  // namespace detail

// The castling test for the side to move, which must not be in check and must hold the right
// with the rook on `rook_file`. The king goes to `king_target`, the rook to `rook_target`.
namespace detail {
// The same test with the king's square already known.
inline bool can_castle_from(const Board& b, Square k, File rook_file, File king_target, File rook_target) {
    const Color us = b.side_to_move;
    const Rank back = back_rank(us);
    const Square rook = make_square(rook_file, back);
    const Square kt = make_square(king_target, back);
    const Square rt = make_square(rook_target, back);
    const BitBoard path = between(k, rook) | between(k, kt) | kt | rt;
    if ((path & b.occupied()).without(k).without(rook).any()) return false;
    // A rook shielding its king along the back rank would, once moved, let the slider behind
    // it through; the attack test below cannot see that, as the rook stays in its occupancy.
    if (b.pinned.has(rook)) return false;
    // With the king taken out of the occupancy, a checking slider's ray runs through its old
    // square, so every square the king crosses is tested as it will stand.
    const BitBoard without_king = b.occupied().without(k);
    for (const Square s : between(k, kt) | kt)
        if (square_attacked(b, s, ~us, without_king | s)) return false;
    return true;
}
}  // namespace detail

inline bool can_castle(const Board& b, File rook_file, File king_target, File rook_target) {
    return detail::can_castle_from(b, b.king(b.side_to_move), rook_file, king_target, rook_target);
}

namespace detail {

// A sink may say which kinds of piece it wants groups of; the others are then not computed,
// and those it gets come in the same order as ever.
template <class Sink>
concept KindFilter = requires(const Sink& s) { { s.wants(Piece::Pawn) } -> std::convertible_to<bool>; };

template <class Sink>
constexpr bool wants(const Sink& sink, Piece p) {
    if constexpr (KindFilter<Sink>)
        return sink.wants(p);
    else
        return true;
}

}  // namespace detail

// Hands each non-empty group of legal moves to `sink`, in generation order.
template <class Sink>
inline void generate_moves_for(const Board& b, Sink&& sink) {
    using detail::emit;
    using detail::wants;
    const Color us = b.side_to_move;
    const Square k = b.king(us);
    const BitBoard own = b.us();
    const BitBoard occ = b.occupied();
    const BitBoard pawns = b.colored_pieces(us, Piece::Pawn);

    if (b.checkers.more_than_one()) {
        if (wants(sink, Piece::King)) detail::king_moves(b, k, false, sink);
        return;
    }
    if (b.checkers.empty()) {
        if (wants(sink, Piece::Pawn)) {
            detail::unpinned_pawn_moves(b, pawns.without(b.pinned), ~own, sink);
            for (const Square s : pawns & b.pinned)
                emit(sink, Piece::Pawn, s, detail::pawn_targets(b, s) & line(k, s));
            detail::en_passant_moves(b, k, sink);
        }
        if (wants(sink, Piece::Knight))
            for (const Square s : b.colored_pieces(us, Piece::Knight).without(b.pinned))
                emit(sink, Piece::Knight, s, knight_attacks(s).without(own));
        if (wants(sink, Piece::Bishop)) detail::slider_moves<Piece::Bishop>(b, k, own, occ, sink);
        if (wants(sink, Piece::Rook)) detail::slider_moves<Piece::Rook>(b, k, own, occ, sink);
        if (wants(sink, Piece::Queen)) detail::slider_moves<Piece::Queen>(b, k, own, occ, sink);
        if (wants(sink, Piece::King)) detail::king_moves(b, k, true, sink);
        return;
    }
    const Square checker = b.checkers.lowest();
    const BitBoard mask = (between(checker, k) | checker).without(own);
    if (wants(sink, Piece::Pawn)) {
        detail::unpinned_pawn_moves(b, pawns.without(b.pinned), mask, sink);
        detail::en_passant_moves(b, k, sink);
    }
    for (const Piece p : {Piece::Knight, Piece::Bishop, Piece::Rook, Piece::Queen})
        if (wants(sink, p))
            for (const Square s : b.colored_pieces(us, p).without(b.pinned))
                emit(sink, p, s, detail::piece_attacks(p, s, occ) & mask);
    if (wants(sink, Piece::King)) detail::king_moves(b, k, false, sink);
}

template <class Sink>
inline void detail::king_moves(const Board& b, Square k, bool with_castling, Sink& sink) {
    BitBoard to;
    for (const Square t : king_attacks(k).without(b.us()))
        if (king_target_safe(b, k, t)) to |= BitBoard::from(t);
    if (with_castling) {
        const CastleRights& rights = b.castle_rights[index(b.side_to_move)];
        const Rank back = back_rank(b.side_to_move);
        if (rights.short_ && can_castle_from(b, k, *rights.short_, File::G, File::F))
            to |= BitBoard::from(make_square(*rights.short_, back));
        if (rights.long_ && can_castle_from(b, k, *rights.long_, File::C, File::D))
            to |= BitBoard::from(make_square(*rights.long_, back));
    }
    emit(sink, Piece::King, k, to);
}

// The legal moves of one position. No position has more than 218, so they are kept inside
// the list itself: collecting them allocates nothing.
class MoveList {
  public:
    static constexpr std::size_t CAPACITY = 256;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Move* begin() const { return data(); }
    const Move* end() const { return data() + size_; }
    const Move& operator[](std::size_t i) const { return data()[i]; }
    operator std::vector<Move>() const { return std::vector<Move>(begin(), end()); }

    // Room for one more group of at most 32 moves (a queen has 27, a pawn 12), or the
    // invariant that no position has more moves than fit is broken.
    Move* reserve_group() {
        if (size_ > CAPACITY - 32) invariant_failure("more legal moves than any position has");
        return data() + size_;
    }
    void commit_group(const Move* end) { size_ = std::size_t(end - data()); }

  private:
    Move* data() { return std::launder(reinterpret_cast<Move*>(storage_)); }
    const Move* data() const { return std::launder(reinterpret_cast<const Move*>(storage_)); }

    std::size_t size_ = 0;
    alignas(Move) unsigned char storage_[CAPACITY * sizeof(Move)];
};
static_assert(std::is_trivially_copyable_v<Move> && std::is_trivially_destructible_v<Move>);

// All legal moves in generation order, castling as the king's move onto its rook.
MoveList legal_moves_vec(const Board& board);

// Whether `move` is one of the moves generation would produce, without generating the others.
bool is_legal(const Board& board, const Move& move);

// The number of legal moves: the sum of the groups' expansions, counted without expanding.
std::uint64_t count_moves(const Board& board);

// Number of leaf positions `depth` plies below `board`; the last ply is counted from the
// groups' sizes without playing its moves.
std::uint64_t perft(const Board& board, unsigned depth);

}  // namespace chess
