#include "board.h"

#include <array>

#include "attacks.h"

namespace chess {

namespace {

// Everything in the key but the pieces: castling rights, en passant file, side to move.
std::uint64_t compute_hash_of_state(const Board& board) {
    std::uint64_t h = 0;
    for (unsigned c = 0; c < 2; ++c) {
        const CastleRights& r = board.castle_rights[c];
        if (r.short_) h ^= keys::castle(Color(c), *r.short_);
        if (r.long_) h ^= keys::castle(Color(c), *r.long_);
    }
    if (board.en_passant) h ^= keys::en_passant(*board.en_passant);
    if (board.side_to_move == Color::Black) h ^= keys::black_to_move();
    return h;
}

}  // namespace

std::uint64_t compute_hash(const Board& board) {
    std::uint64_t h = compute_hash_of_state(board);
    for (unsigned c = 0; c < 2; ++c)
        for (unsigned p = 0; p < PIECE_KINDS; ++p)
            for (const Square s : board.colored_pieces(Color(c), Piece(p)))
                h ^= keys::piece(Color(c), Piece(p), s);
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
    explicit Fields(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}
    std::optional<std::string_view> next() {
        if (done_) return std::nullopt;
        const char* start = p_;
        while (p_ != end_ && *p_ != ' ') ++p_;  // fields after the first are a few bytes long
        const std::string_view field(start, std::size_t(p_ - start));
        if (p_ == end_)
            done_ = true;
        else
            ++p_;
        return field;
    }
    // The placement reader scans the first field itself and says where it stopped.
    void skip_to(const char* p) { p_ = p; }
    const char* position() const { return p_; }
    const char* end() const { return end_; }

  private:
    const char* p_;
    const char* end_;
    bool done_ = false;
};
// What one character of the placement field means, so that the common cases (a piece, a run
// of empty squares) cost one table read and one branch.
struct PlacementChar {
    std::uint8_t kind;   // 0: anything else, 1: digit, 2: piece
    std::uint8_t value;  // the digit's value, or colour * 6 + piece
};

constexpr std::array<PlacementChar, 256> make_placement_chars() {
    std::array<PlacementChar, 256> t{};
    for (char d = '0'; d <= '9'; ++d) t[std::uint8_t(d)] = {1, std::uint8_t(d - '0')};
    const char* letters = "pnbrqk";
    for (std::uint8_t p = 0; p < PIECE_KINDS; ++p) {
        t[std::uint8_t(letters[p] - 'a' + 'A')] = {2, p};
        t[std::uint8_t(letters[p])] = {2, std::uint8_t(PIECE_KINDS + p)};
    }
    return t;
}

constexpr std::array<PlacementChar, 256> PLACEMENT_CHARS = make_placement_chars();

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Reads the first field, up to the first space, in one pass from the left with the first
// group taken as rank 8; fewer than eight groups fill the ranks from rank 1 upward, so the
// pieces then move down by the missing ranks. Every failure in this field is the same error,
// so the order in which they are found does not matter. Returns where it stopped (the space
// or the end), or null on failure. The pieces' hash keys are gathered on the way.
const char* read_placement(Board& b, const char* p, const char* end) {
    std::uint64_t sets[2 * PIECE_KINDS] = {}, hash = 0;
    unsigned group = 0, base = 56;
    std::uint64_t file = 0;  // wide, so that no run of digits can wrap it round to 8
    const char* group_start = p;
    for (; p != end; ++p) {
        const PlacementChar c = PLACEMENT_CHARS[std::uint8_t(*p)];
        if (c.kind == 2) {
            // A file past h only ever grows within its group, so the group's end finds it;
            // until then the square is kept on the board.
            const unsigned sq = unsigned(base + file) & 63;
            sets[c.value] |= std::uint64_t(1) << sq;
            hash ^= (&keys::KEYS.piece[0][0][0])[c.value * 64 + sq];  // [colour][piece][square]
            ++file;
        } else if (c.kind == 1) {
            file += c.value;
        } else if (*p == '/') {
            if (p == group_start || file != 8 || group == 7) return nullptr;  // the ninth group
            ++group;
            base -= 8;
            file = 0;
            group_start = p + 1;
        } else if (*p == ' ') {
            break;
        } else {
            return nullptr;
        }
    }
    if (p == group_start || file != 8) return nullptr;
    const unsigned shift = (7 - group) * 8;
    std::uint64_t white = 0, black = 0;
    for (unsigned k = 0; k < PIECE_KINDS; ++k) {
        const std::uint64_t w = sets[k] >> shift, x = sets[PIECE_KINDS + k] >> shift;
        b.pieces[k] = BitBoard{w | x};
        white |= w;
        black |= x;
    }
    b.colors = {BitBoard{white}, BitBoard{black}};
    // The keys gathered belong to the squares higher up when ranks were missing.
    b.hash = shift ? compute_hash(b) : hash;
    return p;
}

bool side_is_sound(const Board& b, Color c) {
    const BitBoard mine = b.colors[index(c)];
    const BitBoard pawns = mine & b.pieces_of(Piece::Pawn);
    const BitBoard kings = mine & b.pieces_of(Piece::King);
    return mine.count() <= 16 && kings.any() && !kings.more_than_one() && pawns.count() <= 8 &&
           (pawns & BACK_RANKS).empty();
}

bool board_is_sound(const Board& b) {
    BitBoard seen;
    for (const BitBoard p : b.pieces) {
        if ((seen & p).any()) return false;
        seen |= p;
    }
    if ((b.colors[0] & b.colors[1]).any() || seen != b.occupied()) return false;
    if (!side_is_sound(b, Color::White) || !side_is_sound(b, Color::Black)) return false;
    // The side not to move may not be in check, and its king may not stand beside the other
    // one (the side to move could take it). Both fail the same way, so one attack test,
    // which counts the enemy king among the attackers, decides both.
    const Color waiting = ~b.side_to_move;
    return !square_attacked(b, b.king(waiting), b.side_to_move, b.occupied());
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
    const EnPassant ep = en_passant_on(us, file_of(*sq));
    const BitBoard occ = b.occupied();
    if (occ.has(ep.origin) || occ.has(ep.target)) return false;
    if (!b.colored_pieces(~us, Piece::Pawn).has(ep.victim)) return false;
    const Square k = b.king(us);
    for (const Square checker : b.checkers)
        if (checker != ep.victim && !between(checker, k).has(ep.origin)) return false;
    b.en_passant = file_of(*sq);
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

namespace {

// Steps 1 to 4: placement, side to move, the board checks, checkers and pins. They do not
// depend on how the castling field is read.
std::optional<FenParseError> read_head(Board& b, Fields& fields) {
    using E = FenParseError;
    const char* placed = read_placement(b, fields.position(), fields.end());
    if (!placed) return E::InvalidBoard;
    fields.skip_to(placed);
    (void)fields.next();  // the rest of the first field is empty: it ends at this space

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
    return std::nullopt;
}

// Steps 5 to 9: castling rights, en passant, the clocks, nothing more.
std::optional<FenParseError> read_tail(Board& b, Fields& fields, bool file_letter_castling) {
    using E = FenParseError;
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
    // The pieces' keys came with the placement; White to move with no rights or en passant
    // was all the rest of the key then held.
    b.hash ^= compute_hash_of_state(b);
    return std::nullopt;
}

}  // namespace

Result<Board, FenParseError> from_fen(std::string_view text, bool file_letter_castling) {
    Board b;
    Fields fields(text);
    if (const auto error = read_head(b, fields)) return *error;
    if (const auto error = read_tail(b, fields, file_letter_castling)) return *error;
    return b;
}

Result<Board, FenParseError> read_fen(std::string_view text) {
    Board b;
    Fields fields(text);
    if (const auto error = read_head(b, fields)) return *error;
    // A second reading with rook-file letters would repeat the first four steps exactly, so
    // it starts again from their result.
    const Board head = b;
    const Fields rest = fields;
    const auto error = read_tail(b, fields, false);
    if (!error) return b;
    if (*error != FenParseError::InvalidCastlingRights) return *error;
    b = head;
    fields = rest;
    if (const auto again = read_tail(b, fields, true)) return *again;
    return b;
}

// ---------------------------------------------------------------------------------------------
// FEN writing.

char* write_fen(char* out, const Board& b, bool file_letter_castling) {
    // Letters by square first, then each rank walked by its occupied squares, so that the
    // work follows the pieces rather than the 64 squares.
    char letters[64];
    for (unsigned c = 0; c < 2; ++c)
        for (unsigned p = 0; p < PIECE_KINDS; ++p)
            for (const Square s : b.colored_pieces(Color(c), Piece(p)))
                letters[index(s)] = (c == 0 ? "PNBRQK" : "pnbrqk")[p];
    const std::uint64_t occ = b.occupied().bits;
    for (int rank = 7; rank >= 0; --rank) {
        unsigned row = unsigned(occ >> (8 * rank)) & 0xFF, file = 0;
        while (row) {
            const unsigned f = unsigned(std::countr_zero(row));
            if (f > file) *out++ = char('0' + (f - file));
            *out++ = letters[8 * rank + f];
            file = f + 1;
            row &= row - 1;
        }
        if (file < 8) *out++ = char('0' + (8 - file));
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
    if (const auto ep = b.en_passant_squares())
        out = write_square(out, ep->target);
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
