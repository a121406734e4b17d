#include "board.h"

#include <array>

#include "sliders.h"

namespace chess {

std::uint64_t compute_hash(const Board& board) {
    std::uint64_t h = 0;
    for (unsigned c = 0; c < 2; ++c)
        for (unsigned p = 0; p < PIECE_KINDS; ++p)
            for (const Square s : board.colored_pieces(Color(c), Piece(p)))
                h ^= keys::piece(Color(c), Piece(p), s);
    for (unsigned c = 0; c < 2; ++c) {
        const CastleRights& r = board.castle_rights[c];
        if (r.short_) h ^= keys::castle(Color(c), *r.short_);
        if (r.long_) h ^= keys::castle(Color(c), *r.long_);
    }
    if (board.en_passant) h ^= keys::en_passant(*board.en_passant);
    if (board.side_to_move == Color::Black) h ^= keys::black_to_move();
    return h;
}

// ---------------------------------------------------------------------------------------------
// Checkers and pins.

CheckersAndPins slider_checkers_and_pins(const Board& board, Color c) {
    const Square k = board.king(c);
    const Color e = ~c;
    const BitBoard queens = board.colored_pieces(e, Piece::Queen);
    const BitBoard candidates =
        (bishop_rays(k) & (board.colored_pieces(e, Piece::Bishop) | queens)) |
        (rook_rays(k) & (board.colored_pieces(e, Piece::Rook) | queens));
    const BitBoard occ = board.occupied();
    CheckersAndPins out;
    for (const Square s : candidates) {
        const BitBoard blockers = occ & between(k, s);
        if (blockers.empty())
            out.checkers |= BitBoard::from(s);
        else if (!blockers.more_than_one())
            out.pinned |= blockers;
    }
    return out;
}

CheckersAndPins calculate_checkers_and_pins(const Board& board, Color c) {
    CheckersAndPins out = slider_checkers_and_pins(board, c);
    const Square k = board.king(c);
    out.checkers |= knight_attacks(k) & board.colored_pieces(~c, Piece::Knight);
    out.checkers |= pawn_attacks(c, k) & board.colored_pieces(~c, Piece::Pawn);
    return out;
}

// ---------------------------------------------------------------------------------------------
// FEN reading.

namespace {

// Hands out the fields of a FEN text: every single space separates two fields, so doubled
// and trailing spaces give empty fields.
class Fields {
  public:
    explicit Fields(std::string_view text) : rest_(text) {}
    std::optional<std::string_view> next() {
        if (done_) return std::nullopt;
        const std::size_t space = rest_.find(' ');
        if (space == std::string_view::npos) {
            done_ = true;
            return rest_;
        }
        const std::string_view field = rest_.substr(0, space);
        rest_.remove_prefix(space + 1);
        return field;
    }

  private:
    std::string_view rest_;
    bool done_ = false;
};

std::optional<Piece> piece_from_letter(char lower) {
    switch (lower) {
        case 'p': return Piece::Pawn;
        case 'n': return Piece::Knight;
        case 'b': return Piece::Bishop;
        case 'r': return Piece::Rook;
        case 'q': return Piece::Queen;
        case 'k': return Piece::King;
        default: return std::nullopt;
    }
}

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool read_rank(Board& b, std::string_view group, Rank rank) {
    if (group.empty()) return false;
    unsigned file = 0;
    for (const char ch : group) {
        if (ch >= '0' && ch <= '9') {
            file += unsigned(ch - '0');
            if (file > 8) return false;  // can never come back down to exactly 8
            continue;
        }
        const std::optional<Piece> p = piece_from_letter(ascii_lower(ch));
        if (!p || file >= 8) return false;
        const Color c = ch >= 'a' ? Color::Black : Color::White;
        const Square s = make_square(File(file), rank);
        b.pieces[index(*p)] |= BitBoard::from(s);
        b.colors[index(c)] |= BitBoard::from(s);
        ++file;
    }
    return file == 8;
}

// The groups are read from the last (rank 1) upward; fewer than eight leave the top empty.
bool read_placement(Board& b, std::string_view field) {
    for (unsigned rank = 0;; ++rank) {
        const std::size_t slash = field.rfind('/');
        const std::string_view group = slash == std::string_view::npos ? field : field.substr(slash + 1);
        if (rank >= 8 || !read_rank(b, group, Rank(rank))) return false;
        if (slash == std::string_view::npos) return true;
        field = field.substr(0, slash);
    }
}

bool side_is_sound(const Board& b, Color c) {
    const BitBoard mine = b.colors[index(c)];
    const BitBoard pawns = mine & b.pieces_of(Piece::Pawn);
    return mine.count() <= 16 && (mine & b.pieces_of(Piece::King)).count() == 1 &&
           pawns.count() <= 8 && (pawns & BACK_RANKS).empty();
}

bool board_is_sound(const Board& b) {
    BitBoard seen;
    for (const BitBoard p : b.pieces) {
        if ((seen & p).any()) return false;
        seen |= p;
    }
    if ((b.colors[0] & b.colors[1]).any() || seen != b.occupied()) return false;
    if (!side_is_sound(b, Color::White) || !side_is_sound(b, Color::Black)) return false;
    if (calculate_checkers_and_pins(b, ~b.side_to_move).checkers.any()) return false;
    // Kings side by side would let the side to move take a king.
    return !king_attacks(b.king(Color::White)).has(b.king(Color::Black));
}

bool read_castling(Board& b, std::string_view field, bool file_letters) {
    if (field.empty() || field == "-") return true;
    for (const char raw : field) {
        const Color c = raw >= 'A' && raw <= 'Z' ? Color::White : Color::Black;
        const char ch = ascii_lower(raw);
        CastleRights& rights = b.castle_rights[index(c)];
        std::optional<File>* slot;
        File file;
        if (!file_letters) {
            if (ch == 'k') {
                slot = &rights.short_;
                file = File::H;
            } else if (ch == 'q') {
                slot = &rights.long_;
                file = File::A;
            } else {
                return false;
            }
        } else {
            if (ch < 'a' || ch > 'h') return false;
            file = File(ch - 'a');
            slot = index(file) > index(file_of(b.king(c))) ? &rights.short_ : &rights.long_;
        }
        if (slot->has_value()) return false;
        *slot = file;
    }
    for (const Color c : {Color::White, Color::Black}) {
        const CastleRights& rights = b.castle_rights[index(c)];
        if (!rights.any()) continue;
        const Square k = b.king(c);
        if (rank_of(k) != back_rank(c)) return false;
        const BitBoard rooks = b.colored_pieces(c, Piece::Rook);
        const auto rook_ok = [&](File f) { return rooks.has(make_square(f, back_rank(c))); };
        if (rights.long_ && !(rook_ok(*rights.long_) && index(*rights.long_) < index(file_of(k))))
            return false;
        if (rights.short_ && !(rook_ok(*rights.short_) && index(*rights.short_) > index(file_of(k))))
            return false;
    }
    return true;
}

bool read_en_passant(Board& b, std::string_view field) {
    if (field == "-") return true;
    const std::optional<Square> sq = parse_square(field);
    const Color us = b.side_to_move;
    if (!sq || rank_of(*sq) != relative_rank(us, Rank::Sixth)) return false;
    const File f = file_of(*sq);
    const Square start = make_square(f, relative_rank(us, Rank::Seventh));
    const Square pushed = make_square(f, relative_rank(us, Rank::Fifth));
    const BitBoard occ = b.occupied();
    if (occ.has(start) || occ.has(*sq)) return false;
    if (!b.colored_pieces(~us, Piece::Pawn).has(pushed)) return false;
    const Square k = b.king(us);
    for (const Square checker : b.checkers)
        if (checker != pushed && !between(checker, k).has(start)) return false;
    b.en_passant = f;
    return true;
}

// An optional "+" and one or more ASCII digits, no larger than `max`.
std::optional<unsigned> read_number(std::string_view field, unsigned max) {
    if (!field.empty() && field[0] == '+') field.remove_prefix(1);
    if (field.empty()) return std::nullopt;
    unsigned value = 0;
    for (const char ch : field) {
        if (ch < '0' || ch > '9') return std::nullopt;
        value = value * 10 + unsigned(ch - '0');
        if (value > max) return std::nullopt;
    }
    return value;
}

}  // namespace

Result<Board, FenParseError> from_fen(std::string_view text, bool file_letter_castling) {
    using E = FenParseError;
    Board b;
    Fields fields(text);

    const auto placement = fields.next();
    if (!placement) return E::MissingField;
    if (!read_placement(b, *placement)) return E::InvalidBoard;

    const auto side = fields.next();
    if (!side) return E::MissingField;
    if (*side == "w")
        b.side_to_move = Color::White;
    else if (*side == "b")
        b.side_to_move = Color::Black;
    else
        return E::InvalidSideToMove;

    if (!board_is_sound(b)) return E::InvalidBoard;
    const CheckersAndPins cp = calculate_checkers_and_pins(b, b.side_to_move);
    if (cp.checkers.count() > 2) return E::InvalidBoard;
    b.checkers = cp.checkers;
    b.pinned = cp.pinned;

    const auto castling = fields.next();
    if (!castling) return E::MissingField;
    if (!read_castling(b, *castling, file_letter_castling)) return E::InvalidCastlingRights;

    const auto ep = fields.next();
    if (!ep) return E::MissingField;
    if (!read_en_passant(b, *ep)) return E::InvalidEnPassant;

    const auto halfmove = fields.next();
    if (!halfmove) return E::MissingField;
    const auto hm = read_number(*halfmove, 255);
    if (!hm || *hm > 100) return E::InvalidHalfMoveClock;
    b.halfmove_clock = std::uint8_t(*hm);

    const auto fullmove = fields.next();
    if (!fullmove) return E::MissingField;
    const auto fm = read_number(*fullmove, 65535);
    if (!fm || *fm == 0) return E::InvalidFullmoveNumber;
    b.fullmove_number = std::uint16_t(*fm);

    if (fields.next()) return E::TooManyFields;
    b.hash = compute_hash(b);
    return b;
}

// ---------------------------------------------------------------------------------------------
// FEN writing.

char* write_fen(char* out, const Board& b, bool file_letter_castling) {
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (unsigned file = 0; file < 8; ++file) {
            const Square s = make_square(File(file), Rank(rank));
            const std::optional<Piece> p = b.piece_on(s);
            if (!p) {
                ++empty;
                continue;
            }
            if (empty) *out++ = char('0' + empty);
            empty = 0;
            const char letter = "PNBRQK"[index(*p)];
            *out++ = b.colors[0].has(s) ? letter : char(letter - 'A' + 'a');
        }
        if (empty) *out++ = char('0' + empty);
        if (rank) *out++ = '/';
    }
    *out++ = ' ';
    *out++ = color_char(b.side_to_move);
    *out++ = ' ';
    const char* before = out;
    for (const Color c : {Color::White, Color::Black}) {
        const CastleRights& r = b.castle_rights[index(c)];
        const char shift = c == Color::White ? 'A' - 'a' : 0;
        if (r.short_) *out++ = file_letter_castling ? char(file_char(*r.short_) + shift) : char('k' + shift);
        if (r.long_) *out++ = file_letter_castling ? char(file_char(*r.long_) + shift) : char('q' + shift);
    }
    if (out == before) *out++ = '-';
    *out++ = ' ';
    if (const auto ep = b.en_passant_square())
        out = write_square(out, *ep);
    else
        *out++ = '-';
    *out++ = ' ';
    const auto write_number = [&out](unsigned v) {
        char digits[5];
        int n = 0;
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        while (n) *out++ = digits[--n];
    };
    write_number(b.halfmove_clock);
    *out++ = ' ';
    write_number(b.fullmove_number);
    return out;
}

std::string to_fen(const Board& board, bool file_letter_castling) {
    char buffer[MAX_FEN_LENGTH];
    const char* end = write_fen(buffer, board, file_letter_castling);
    return std::string(static_cast<const char*>(buffer), end);
}

}  // namespace chess
