// Legal move generation in a fixed order, and single-move legality.
//
// Moves are generated legal from the start, from the stored checkers and pins, so no move is
// ever played and taken back to test it. The order is part of the module's contract:
// pawns (unpinned, then pinned, then en passant captures), knights, bishops, rooks, queens
// (unpinned before pinned), then the king with castling among its moves by the rook's square.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <type_traits>

#include "attacks.h"
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

    // Every pawn destination on the first or last rank stands for four promotions. `count`:
    // the population count to use.
    template <class Count>
    constexpr std::size_t len(Count&& count) const {
        return std::size_t(count(to)) +
               (piece == Piece::Pawn ? 3 * std::size_t(count(to & BACK_RANKS)) : 0);
    }
    constexpr std::size_t len() const {
        return len([](BitBoard b) { return b.count(); });
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

// The steps of generation, in generation order. A caller may ask for some of them only; the
// groups it gets come in the same order as ever.
enum class Step : std::uint8_t {
    UnpinnedPawns,
    PinnedPawns,
    EnPassant,
    Knights,
    Bishops,
    Rooks,
    Queens,
    King
};

struct Steps {
    std::uint8_t bits = 0xFF;

    constexpr bool has(Step s) const { return (bits >> unsigned(s)) & 1; }
    constexpr Steps without(Step s) const { return {std::uint8_t(bits & ~(1u << unsigned(s)))}; }
    // The steps that move pieces of kind `p`.
    static constexpr Steps of(Piece p) {
        if (p == Piece::Pawn) return {0b111};
        return {std::uint8_t(1u << (unsigned(Step::Knights) + index(p) - index(Piece::Knight)))};
    }
};

namespace detail {

constexpr BitBoard forward(Color c, BitBoard b) {
    return c == Color::White ? BitBoard{b.bits << 8} : BitBoard{b.bits >> 8};
}

constexpr BitBoard pawn_targets(const Board& b, Square from) {
    const Color us = b.side_to_move;
    const BitBoard empty = ~b.occupied();
    const BitBoard one = forward(us, BitBoard::from(from)) & empty;
    BitBoard pushes = one;
    if (one.any() && rank_of(from) == relative_rank(us, Rank::Second))
        pushes |= forward(us, one) & empty;
    return pushes | (pawn_attacks(us, from) & b.them());
}

// With the king taken out of the occupancy, a checking slider's ray runs through its old
// square, so the king cannot step back along the line of check.
inline bool king_target_safe(const Board& b, Square k, Square t) {
    return !square_attacked(b, t, ~b.side_to_move, b.occupied().without(k) | t);
}

// What a move other than the king's must land on: anything but an own piece, and in check the
// checker or a square between it and the king. Only meaningful outside double check.
inline BitBoard target_mask(const Board& b, Square k) {
    if (b.checkers.empty()) return ~b.us();
    const Square checker = b.checkers.lowest();
    return (between(checker, k) | checker).without(b.us());
}

// The pawns of the side to move that may take en passant: rare enough to stay out of line.
BitBoard en_passant_capturers(const Board& b, Square k);

// The rook squares of the castlings the king of the side to move, on `k`, may make.
inline BitBoard castling_targets(const Board& b, Square k) {
    const Color us = b.side_to_move;
    return chess::castling_targets(
        b.castle_rights[index(us)], us, k, b.occupied(), b.pinned,
        [&](Square s, BitBoard occupancy) { return square_attacked(b, s, ~us, occupancy); });
}

template <Piece P>
inline BitBoard attacks_of(Square s, BitBoard occ) {
    if constexpr (P == Piece::Knight)
        return knight_attacks(s);
    else if constexpr (P == Piece::Bishop)
        return bishop_attacks(s, occ);
    else if constexpr (P == Piece::Rook)
        return rook_attacks(s, occ);
    else
        return queen_attacks(s, occ);
}

template <class Sink>
inline void emit(Sink& sink, Piece p, Square from, BitBoard to) {
    if (to.any()) sink(PieceMoves{p, from, to});
}

// Unpinned pieces of the kind first, then (outside check, where `mask` is all but the own
// pieces) pinned ones along their pin line. A pinned knight never keeps to its line.
template <Piece P, class Sink>
inline void piece_moves(const Board& b, Square k, BitBoard mask, bool with_pinned, Sink& sink) {
    const BitBoard pieces = b.colored_pieces(b.side_to_move, P);
    const BitBoard occ = b.occupied();
    for (const Square s : pieces.without(b.pinned)) emit(sink, P, s, attacks_of<P>(s, occ) & mask);
    if (P == Piece::Knight || !with_pinned) return;
    for (const Square s : (pieces & b.pinned))
        emit(sink, P, s, attacks_of<P>(s, occ) & mask & line(k, s));
}

}  // namespace detail

// Hands each non-empty group of legal moves to `sink`, in generation order; only the groups of
// `steps`. Inline, so that each sink's handling of a group is compiled into the generation.
template <class Sink>
inline void generate_moves_for(const Board& b, Sink&& sink, Steps steps = {}) {
    using namespace detail;
    const Color us = b.side_to_move;
    const Square k = b.king(us);
    const bool in_check = b.checkers.any();
    if (!b.checkers.more_than_one()) {
        const BitBoard mask = target_mask(b, k);
        const BitBoard pawns = b.colored_pieces(us, Piece::Pawn);
        if (steps.has(Step::UnpinnedPawns))
            for (const Square s : pawns.without(b.pinned))
                emit(sink, Piece::Pawn, s, pawn_targets(b, s) & mask);
        // In check a pinned piece can neither take the checker nor block.
        if (steps.has(Step::PinnedPawns) && !in_check)
            for (const Square s : (pawns & b.pinned))
                emit(sink, Piece::Pawn, s, pawn_targets(b, s) & line(k, s));
        // No check mask here: the capture takes the checking pawn, or the test refuses it.
        if (steps.has(Step::EnPassant) && b.en_passant) {
            const BitBoard target = BitBoard::from(b.en_passant_squares()->target);
            for (const Square s : en_passant_capturers(b, k))
                sink(PieceMoves{Piece::Pawn, s, target});
        }
        if (steps.has(Step::Knights)) piece_moves<Piece::Knight>(b, k, mask, !in_check, sink);
        if (steps.has(Step::Bishops)) piece_moves<Piece::Bishop>(b, k, mask, !in_check, sink);
        if (steps.has(Step::Rooks)) piece_moves<Piece::Rook>(b, k, mask, !in_check, sink);
        if (steps.has(Step::Queens)) piece_moves<Piece::Queen>(b, k, mask, !in_check, sink);
    }
    if (!steps.has(Step::King)) return;
    BitBoard to;
    // The other side's pawns, knights and king rule out squares at once; its sliders are
    // asked square by square, through the king's own square.
    const BitBoard steps_ruled_out = step_attacks(b, ~us);
    const BitBoard no_king = b.occupied().without(k);
    for (const Square t : king_attacks(k).without(b.us()).without(steps_ruled_out)) {
        const Attackers sliders{b, t, b.them(), no_king | t};
        if (sliders.diagonal().empty() && sliders.straight().empty()) to |= BitBoard::from(t);
    }
    if (!in_check && b.castle_rights[index(us)].any()) to |= castling_targets(b, k);
    emit(sink, Piece::King, k, to);
}

// The knights, bishops, rooks or queens (`p`) of the side to move that may legally go to `to`:
// generation's rule for pieces asked backwards. A piece's attacks from `to` reach exactly the
// squares from which such a piece reaches `to`, under the same occupancy.
inline BitBoard movers_to(const Board& b, Piece p, Square to) {
    using namespace detail;
    if (b.checkers.more_than_one()) return EMPTY;
    const Square k = b.king(b.side_to_move);
    if (!target_mask(b, k).has(to)) return EMPTY;
    const BitBoard occ = b.occupied();
    BitBoard reach;
    switch (p) {
        case Piece::Knight: reach = attacks_of<Piece::Knight>(to, occ); break;
        case Piece::Bishop: reach = attacks_of<Piece::Bishop>(to, occ); break;
        case Piece::Rook: reach = attacks_of<Piece::Rook>(to, occ); break;
        case Piece::Queen: reach = attacks_of<Piece::Queen>(to, occ); break;
        default: invariant_failure("movers_to asks of pieces only");
    }
    const BitBoard pieces = reach & b.colored_pieces(b.side_to_move, p);
    BitBoard out = pieces.without(b.pinned);
    // Pinned pieces move only outside check, along their pin line; a pinned knight never does.
    if (p != Piece::Knight && b.checkers.empty())
        for (const Square s : (pieces & b.pinned))
            if (line(k, s).has(to)) out |= BitBoard::from(s);
    return out;
}

// The legal moves of one position, kept inside the list itself: collecting them allocates
// nothing. The room is for the most moves any loadable position can have (fifteen queens of
// 27 moves and a king with eight steps and two castlings), not only for those of real games.
class MoveList {
  public:
    static constexpr std::size_t CAPACITY = 15 * 27 + 10;

    MoveList() {}  // the moves are written before they are read: none is set up here

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Move* begin() const { return moves_; }
    const Move* end() const { return moves_ + size_; }
    const Move& operator[](std::size_t i) const { return moves_[i]; }
    void push_back(const Move& m) { ::new (moves_ + size_++) Move(m); }

  private:
    std::size_t size_ = 0;
    union {
        Move moves_[CAPACITY];
    };
};
static_assert(std::is_trivially_copyable_v<Move> && std::is_trivially_destructible_v<Move>);

// All legal moves in generation order, castling as the king's move onto its rook.
MoveList legal_move_list(const Board& board);

// Whether `move` is one of the moves generation would produce, without generating the others.
bool is_legal(const Board& board, const Move& move);

// The number of legal moves: the sum of the groups' expansions, counted without expanding.
std::uint64_t count_moves(const Board& board);

namespace detail {
// count_moves by the portable population count of types.h: the reference of the form that
// count_moves takes where the processor counts bits with an instruction the baseline lacks.
std::uint64_t count_moves_portable(const Board& board);
}  // namespace detail

// Number of leaf positions `depth` plies below `board`; the last ply is counted from the
// groups' sizes without playing its moves.
std::uint64_t perft(const Board& board, unsigned depth);

}  // namespace chess
