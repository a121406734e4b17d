#include "play.h"

#include <algorithm>

#include "geometry.h"
#include "keys.h"

namespace chess {

namespace {

// `Keyed`: whether the position key is kept up to date as well. Nothing the module answers
// reads it, so only the core's tests pay for it.
template <bool Keyed>
auto key_out(Board& b, Color c) {
    return [&b, c](File rook) {
        if constexpr (Keyed)
            b.hash ^= keys::castle(c, rook);
        else
            (void)b, (void)c, (void)rook;
    };
}

template <bool Keyed>
void toggle(Board& b, Color c, Piece p, Square s) {
    b.pieces[index(p)] ^= s;
    b.colors[index(c)] ^= s;
    if constexpr (Keyed) b.hash ^= keys::piece(c, p, s);
}

template <bool Keyed>
void castle(Board& b, Color us, const Castling& c) {
    // Exclusive-or at all four squares puts both pieces right even when a target is the
    // other piece's (or its own) starting square.
    toggle<Keyed>(b, us, Piece::King, c.king_from);
    toggle<Keyed>(b, us, Piece::King, c.king_to);
    toggle<Keyed>(b, us, Piece::Rook, c.rook_from);
    toggle<Keyed>(b, us, Piece::Rook, c.rook_to);
    clear_rights(b.castle_rights[index(us)], key_out<Keyed>(b, us));
}

template <bool Keyed>
void play(Board& b, const Move& m) {
    const Color us = b.side_to_move;
    const Color them = ~us;
    const Square their_king = b.king(them);
    b.checkers = EMPTY;
    b.pinned = EMPTY;

    const std::optional<Piece> moving = b.piece_on(m.from);
    if (!moving) invariant_failure("Missing piece on move's from square");
    const bool castles = b.is_castling(m);
    const bool capture = b.colors[index(them)].has(m.to);

    if (*moving == Piece::Pawn || capture)
        b.halfmove_clock = 0;
    else
        b.halfmove_clock = std::uint8_t(std::min(b.halfmove_clock + 1, 100));
    if (us == Color::Black)
        b.fullmove_number = std::uint16_t(std::min(b.fullmove_number + 1, 65535));

    std::optional<File> new_en_passant;
    if (castles) {
        castle<Keyed>(b, us, castling(us, m.from, m.to));
    } else {
        if (capture) {
            toggle<Keyed>(b, them, *b.piece_on(m.to), m.to);
            clear_right_on(b.castle_rights[index(them)], them, m.to, key_out<Keyed>(b, them));
        }
        toggle<Keyed>(b, us, *moving, m.from);
        toggle<Keyed>(b, us, *moving, m.to);
        switch (*moving) {
            case Piece::Pawn:
                if (m.promotion) {
                    b.pieces[index(Piece::Pawn)] ^= m.to;
                    b.pieces[index(*m.promotion)] ^= m.to;
                    if constexpr (Keyed)
                        b.hash ^= keys::piece(us, Piece::Pawn, m.to) ^
                                  keys::piece(us, *m.promotion, m.to);
                    if (*m.promotion == Piece::Knight)
                        b.checkers = knight_attacks(their_king) & BitBoard::from(m.to);
                    break;
                }
                // A double push.
                if (int(index(m.to)) - int(index(m.from)) == (us == Color::White ? 16 : -16)) {
                    new_en_passant = file_of(m.to);
                } else if (const auto ep = b.en_passant_squares(); ep && m.to == ep->target) {
                    toggle<Keyed>(b, them, Piece::Pawn, ep->victim);
                }
                b.checkers = pawn_attacks(them, their_king) & BitBoard::from(m.to);
                break;
            case Piece::Knight:
                b.checkers = knight_attacks(their_king) & BitBoard::from(m.to);
                break;
            case Piece::Rook:
                clear_right_on(b.castle_rights[index(us)], us, m.from, key_out<Keyed>(b, us));
                break;
            case Piece::King:
                clear_rights(b.castle_rights[index(us)], key_out<Keyed>(b, us));
                break;
            default: break;
        }
    }

    if constexpr (Keyed) {
        if (b.en_passant) b.hash ^= keys::en_passant(*b.en_passant);
        if (new_en_passant) b.hash ^= keys::en_passant(*new_en_passant);
        b.hash ^= keys::black_to_move();
    }
    b.en_passant = new_en_passant;

    const CheckersAndPins sliders = slider_checkers_and_pins(b, them);
    b.checkers |= sliders.checkers;
    b.pinned = sliders.pinned;
    b.side_to_move = them;
}

template <bool Keyed>
void pass(Board& b) {
    const Color passing = b.side_to_move;
    b.side_to_move = ~passing;
    if constexpr (Keyed) {
        b.hash ^= keys::black_to_move();
        if (b.en_passant) b.hash ^= keys::en_passant(*b.en_passant);
    }
    b.en_passant.reset();
    b.halfmove_clock = std::uint8_t(std::min(b.halfmove_clock + 1, 100));
    if (passing == Color::Black)
        b.fullmove_number = std::uint16_t(std::min(b.fullmove_number + 1, 65535));
    b.checkers = EMPTY;
    b.pinned = slider_checkers_and_pins(b, b.side_to_move).pinned;
}

}  // namespace

void play_unchecked(Board& board, const Move& move) { play<false>(board, move); }
void play_keeping_key(Board& board, const Move& move) { play<true>(board, move); }
void null_move(Board& board) { pass<false>(board); }
void null_move_keeping_key(Board& board) { pass<true>(board); }

}  // namespace chess
