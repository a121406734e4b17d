// Castling, every rule of it in one place, for the standard start and Chess960 alike: what a
// right is, which side it castles to, where king and rook go, when castling is allowed, how
// it is written as UCI text, how the rights are read from and written to FEN, and which
// rights a move takes away. Move generation, play, UCI, FEN, SAN and the services ask here.
//
// The core holds castling as the king's move onto its own rook (e1h1), the one form that names
// every castling of either shape without ambiguity.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "geometry.h"
#include "types.h"

namespace chess {

// Each right names the file of the rook it castles with, on the colour's back rank.
struct CastleRights {
    // `short` and `long` are C++ keywords, hence the trailing underscore.
    std::optional<File> short_;  // towards the h-file
    std::optional<File> long_;   // towards the a-file

    constexpr bool any() const { return short_.has_value() || long_.has_value(); }
    constexpr bool operator==(const CastleRights&) const = default;
};

// Each right held, as its rook's file: the one loop over a side's rights.
template <class Visit>
constexpr void for_each_right(const CastleRights& rights, Visit&& visit) {
    if (rights.short_) visit(*rights.short_);
    if (rights.long_) visit(*rights.long_);
}

// A rook beyond the king towards the h-file castles short, one towards the a-file long.
constexpr bool castles_short(File king, File rook) { return index(rook) > index(king); }

// The slot of `rights` that a rook on `rook` would hold, for a king on `king`.
constexpr std::optional<File>& right_slot(CastleRights& rights, File king, File rook) {
    return castles_short(king, rook) ? rights.short_ : rights.long_;
}

// The squares of a castling move. King and rook end on the g- and f-files (short) or the c-
// and d-files (long) whatever files they start on, so either may already stand on its target,
// or on the other's.
struct Castling {
    Square king_from, king_to, rook_from, rook_to;
    bool short_side;  // towards the h-file
};

constexpr Castling castling(Color c, Square king, Square rook) {
    const bool short_side = castles_short(file_of(king), file_of(rook));
    const Rank back = back_rank(c);
    return {king, make_square(short_side ? File::G : File::C, back), rook,
            make_square(short_side ? File::F : File::D, back), short_side};
}

// The castling of `c` with the right on `rook_file`, the king on `king`.
constexpr Castling castling_with(Color c, Square king, File rook_file) {
    return castling(c, king, make_square(rook_file, back_rank(c)));
}

// A king moving onto a piece of its own side is castling, the only form the core knows.
constexpr bool is_castling_move(BitBoard kings, BitBoard own, const Move& m) {
    return kings.has(m.from) && own.has(m.from) && own.has(m.to);
}

// The test, beyond holding the right and not standing in check: (1) every square the king and
// rook cross or land on is empty but for the two of them, (2) the rook is not pinned to its
// king along the back rank, (3) no square the king crosses or lands on is attacked, each
// tested as it will stand, the king gone from its own. `attacked(square, occupancy)` asks
// whether the other side attacks the square under that occupancy.
template <class Attacked>
constexpr bool can_castle(const Castling& c, BitBoard occupied, BitBoard pinned,
                          Attacked&& attacked) {
    const BitBoard path =
        between(c.king_from, c.rook_from) | between(c.king_from, c.king_to) | c.king_to | c.rook_to;
    if ((path & occupied).without(c.king_from).without(c.rook_from).any()) return false;
    // A rook shielding its king along the back rank would, once moved, let the slider behind
    // it through; the attack test below cannot see that, as the rook stays in its occupancy.
    if (pinned.has(c.rook_from)) return false;
    const BitBoard without_king = occupied.without(c.king_from);
    for (const Square s : between(c.king_from, c.king_to) | c.king_to)
        if (attacked(s, without_king | s)) return false;
    return true;
}

// The rook squares of the castlings the king of `c` on `king` may make, out of check.
template <class Attacked>
constexpr BitBoard castling_targets(const CastleRights& rights, Color c, Square king,
                                    BitBoard occupied, BitBoard pinned, Attacked&& attacked) {
    BitBoard out;
    for_each_right(rights, [&](File rook) {
        const Castling castle = castling_with(c, king, rook);
        if (can_castle(castle, occupied, pinned, attacked)) out |= BitBoard::from(castle.rook_from);
    });
    return out;
}

// --- rights a move takes away ------------------------------------------------------------
// `lost(file)` hears of each right cleared, for the position key.

template <class Lost>
constexpr void clear_rights(CastleRights& rights, Lost&& lost) {
    for_each_right(rights, lost);
    rights = CastleRights{};
}

// The right of `c` that castles with a rook standing on `s`, if any: that rook has moved or
// been taken.
template <class Lost>
constexpr void clear_right_on(CastleRights& rights, Color c, Square s, Lost&& lost) {
    if (rank_of(s) != back_rank(c)) return;
    for (std::optional<File>* right : {&rights.short_, &rights.long_}) {
        if (*right == file_of(s)) {
            lost(**right);
            right->reset();
            return;
        }
    }
}

// --- standard UCI text ---------------------------------------------------------------------
// Castling by a king on its e-file square is written as the king's two-square move (e1g1,
// e1c1); any other castling as the king onto its rook, since elsewhere the king's step to the
// g- or c-file may be a legal move of its own.

constexpr bool king_at_home(Color c, Square king) {
    return king == make_square(File::E, back_rank(c));
}

// The square the core's move goes to for the text's destination `written`: the rook's, when
// the king is at home and `written` is the king's target of a castling it has the right to.
constexpr Square castling_destination_read(const CastleRights& rights, Color c, Square king,
                                           Square written) {
    if (!king_at_home(c, king)) return written;
    Square to = written;
    for_each_right(rights, [&](File rook) {
        const Castling castle = castling_with(c, king, rook);
        if (castle.king_to == written) to = castle.rook_from;
    });
    return to;
}

// The destination the text of the castling king `king` onto `rook` is written with.
constexpr Square castling_destination_written(Color c, Square king, Square rook) {
    return king_at_home(c, king) ? castling(c, king, rook).king_to : rook;
}

// --- SAN -----------------------------------------------------------------------------------

constexpr std::string_view castling_san(const Castling& c) {
    return c.short_side ? "O-O" : "O-O-O";
}

// Whether a cleaned SAN text can only be castling: it starts with the letter O.
constexpr bool castling_san_shape(std::string_view san) {
    return !san.empty() && san.front() == 'O';
}

// --- the FEN field -------------------------------------------------------------------------
// Read in the letters K, Q, k, q (the rooks on the h- and a-files) or in rook-file letters
// (HAha; upper case for White), and written back in whichever names the rooks: a FEN the
// module returns must read back as the same position.

enum class CastlingLetters : std::uint8_t {
    Standard,   // K, Q, k, q
    RookFiles,  // the rooks' files
    // Reading: the standard letters, and the rook files only when the field is refused in
    // those. Writing: the standard letters where they name the rooks held, else rook files.
    Either,
    // Reading only, as Chess960 programs write a start's rights: K, Q, k, q name the outermost
    // rook on that side of the king, wherever it stands; a letter with no rook on its side
    // stays as written (and is refused), and a field with a king off its back rank, no such
    // letter or only rooks in the corners is read as Either reads it.
    Outermost,
};

struct Board;

// The rights the field [p, end) names, or nothing when it cannot be read in `letters` or
// names a right that the board's pieces cannot back (the king off its back rank, no rook on
// the file, or the rook on the wrong side of the king). Only the pieces are read; Outermost
// needs the placement of all eight ranks (the reader falls back to Either without it).
std::optional<std::array<CastleRights, 2>> read_castling_field(const char* p, const char* end,
                                                               CastlingLetters letters,
                                                               const Board& placement);

// Whether K, Q, k, q name the rights held exactly as every reader takes them: each short
// right on the h-file and each long one on the a-file. Otherwise only rook-file letters say
// which rook castles, and a FEN meant to be read again must use them.
bool standard_letters_name_rights(const std::array<CastleRights, 2>& rights);
bool standard_letters_name_rights(const Board& board);

// Writes the field ("-" when no right is held); at most four bytes plus four of slack that
// the standard form may overwrite. Returns the end position.
char* write_castling_field(char* out, const std::array<CastleRights, 2>& rights,
                           CastlingLetters letters);

}  // namespace chess
