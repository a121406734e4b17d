#include "play.h"

#include <algorithm>

#include "geometry.h"
#include "keys.h"

namespace chess {

namespace {

void clear_right(Board& b, Color c, std::optional<File>& right) {
    if (!right) return;
    b.hash ^= keys::castle(c, *right);
    right.reset();
}

void clear_rights(Board& b, Color c) {
    CastleRights& r = b.castle_rights[index(c)];
    clear_right(b, c, r.short_);
    clear_right(b, c, r.long_);
}

// Clears the right of `c` that castles with a rook standing on `s`, if any.
void clear_right_on(Board& b, Color c, Square s) {
    if (rank_of(s) != back_rank(c)) return;
    CastleRights& r = b.castle_rights[index(c)];
    if (r.short_ == file_of(s))
        clear_right(b, c, r.short_);
    else if (r.long_ == file_of(s))
        clear_right(b, c, r.long_);
}

void toggle(Board& b, Color c, Piece p, Square s) {
    b.pieces[index(p)] ^= s;
    b.colors[index(c)] ^= s;
    b.hash ^= keys::piece(c, p, s);
}

void castle(Board& b, Color us, const Castling& c) {
    // Exclusive-or at all four squares puts both pieces right even when a target is the
    // other piece's (or its own) starting square.
    toggle(b, us, Piece::King, c.king_from);
    toggle(b, us, Piece::King, c.king_to);
    toggle(b, us, Piece::Rook, c.rook_from);
    toggle(b, us, Piece::Rook, c.rook_to);
    clear_rights(b, us);
}

}  // namespace

void play_unchecked(Board& b, const Move& m) {
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
    if (us == Color::Black) b.fullmove_number = std::uint16_t(std::min(b.fullmove_number + 1, 65535));

    std::optional<File> new_en_passant;
    if (castles) {
        castle(b, us, castling(us, m.from, m.to));
    } else {
        if (capture) {
            toggle(b, them, *b.piece_on(m.to), m.to);
            clear_right_on(b, them, m.to);
        }
        toggle(b, us, *moving, m.from);
        toggle(b, us, *moving, m.to);
        switch (*moving) {
            case Piece::Pawn:
                if (m.promotion) {
                    b.pieces[index(Piece::Pawn)] ^= m.to;
                    b.pieces[index(*m.promotion)] ^= m.to;
                    b.hash ^= keys::piece(us, Piece::Pawn, m.to) ^ keys::piece(us, *m.promotion, m.to);
                    if (*m.promotion == Piece::Knight) b.checkers = knight_attacks(their_king) & BitBoard::from(m.to);
                    break;
                }
                if (int(index(m.to)) - int(index(m.from)) == (us == Color::White ? 16 : -16)) {  // double push
                    new_en_passant = file_of(m.to);
                } else if (const auto ep = b.en_passant_squares(); ep && m.to == ep->target) {
                    toggle(b, them, Piece::Pawn, ep->victim);
                }
                b.checkers = pawn_attacks(them, their_king) & BitBoard::from(m.to);
                break;
            case Piece::Knight: b.checkers = knight_attacks(their_king) & BitBoard::from(m.to); break;
            case Piece::Rook: clear_right_on(b, us, m.from); break;
            case Piece::King: clear_rights(b, us); break;
            default: break;
        }
    }

    if (b.en_passant) b.hash ^= keys::en_passant(*b.en_passant);
    b.en_passant = new_en_passant;
    if (b.en_passant) b.hash ^= keys::en_passant(*b.en_passant);

    const CheckersAndPins sliders = slider_checkers_and_pins(b, them);
    b.checkers |= sliders.checkers;
    b.pinned = sliders.pinned;
    b.side_to_move = them;
    b.hash ^= keys::black_to_move();
}

void null_move(Board& b) {
    const Color passing = b.side_to_move;
    b.side_to_move = ~passing;
    b.hash ^= keys::black_to_move();
    if (b.en_passant) b.hash ^= keys::en_passant(*b.en_passant);
    b.en_passant.reset();
    b.halfmove_clock = std::uint8_t(std::min(b.halfmove_clock + 1, 100));
    if (passing == Color::Black) b.fullmove_number = std::uint16_t(std::min(b.fullmove_number + 1, 65535));
    b.checkers = EMPTY;
    b.pinned = slider_checkers_and_pins(b, b.side_to_move).pinned;
}

}  // namespace chess
