#include "san.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "chess/attacks.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "move_argument.h"
#include "operation.h"

namespace morvek {

namespace {

using chess::Board;
using chess::Move;
using chess::Piece;

// The other squares from which a piece of the mover's kind may legally go where the move goes:
// the legal moves of the same kind onto the same square are exactly those pieces' moves there
// that `is_legal` accepts (pieces other than pawns never promote, and the one king has no
// rival), so the rivals need no full move list.
chess::BitBoard legal_rivals(const Board& b, Piece mover, const Move& m) {
    chess::BitBoard rivals;
    for (const chess::Square s : b.colored_pieces(b.side_to_move, mover).without(m.from))
        if (chess::is_legal(b, Move{s, m.to, std::nullopt})) rivals |= chess::BitBoard::from(s);
    return rivals;
}

// The longest body: a piece, its file and rank, the capture sign and a square ("Qa1xb2"), or a
// pawn's capture with its promotion ("exd8=Q").
constexpr std::size_t LONGEST_SAN_BODY = 6;

// The body of a legal move's SAN, given the rivals of its mover (legal_rivals); returns the end.
// File first, then rank, then both: the least that tells the mover from its rivals.
inline char* write_san_body(char* out, const Board& b, const Move& m, Piece mover,
                            chess::BitBoard rivals) {
    if (b.is_castling(m)) {
        const std::string_view text =
            chess::castling_san(chess::castling(b.side_to_move, m.from, m.to));
        return std::copy(text.begin(), text.end(), out);
    }
    const bool capture = b.occupied().has(m.to);
    const chess::File file = chess::file_of(m.from);
    if (mover == Piece::Pawn) {
        // En passant lands on an empty square, so a change of file is what marks it.
        if (capture || file != chess::file_of(m.to)) {
            *out++ = chess::file_char(file);
            *out++ = 'x';
        }
        out = chess::write_square(out, m.to);
        if (m.promotion) {
            *out++ = '=';
            *out++ = chess::piece_letter(*m.promotion);
        }
        return out;
    }
    *out++ = chess::piece_letter(mover);
    if (rivals.any()) {
        const bool same_file = (rivals & chess::file_set(file)).any();
        const bool same_rank = (rivals & chess::rank_set(chess::rank_of(m.from))).any();
        if (!same_file || same_rank) *out++ = chess::file_char(file);
        if (same_file) *out++ = chess::rank_char(chess::rank_of(m.from));
    }
    if (capture) *out++ = 'x';
    return chess::write_square(out, m.to);
}

}  // namespace

std::string san_body(const Board& b, const Move& m) {
    const std::optional<Piece> mover = b.piece_on(m.from);
    if (!mover) chess::invariant_failure("legal move has a mover");
    const chess::BitBoard rivals =
        *mover == Piece::Pawn || b.is_castling(m) ? chess::EMPTY : legal_rivals(b, *mover, m);
    char text[LONGEST_SAN_BODY];
    return std::string(text, write_san_body(text, b, m, *mover, rivals));
}

namespace {

// The characters with the Unicode White_Space property, as code points.
bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Decodes the character starting at `i` of well-formed UTF-8; returns it and its length.
std::pair<char32_t, std::size_t> decode_at(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return char32_t(static_cast<unsigned char>(s[k])); };
    const char32_t b0 = byte(i);
    if (b0 < 0x80) return {b0, 1};
    if (b0 < 0xE0 && i + 1 < s.size()) return {((b0 & 0x1F) << 6) | (byte(i + 1) & 0x3F), 2};
    if (b0 < 0xF0 && i + 2 < s.size())
        return {((b0 & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F), 3};
    if (i + 3 < s.size())
        return {((b0 & 0x07) << 18) | ((byte(i + 1) & 0x3F) << 12) | ((byte(i + 2) & 0x3F) << 6) |
                    (byte(i + 3) & 0x3F),
                4};
    return {0xFFFD, 1};  // a truncated sequence is no white space
}

std::string_view trim(std::string_view s) {
    while (!s.empty()) {
        const auto [c, n] = decode_at(s, 0);
        if (!is_white_space(c)) break;
        s.remove_prefix(n);
    }
    while (!s.empty()) {
        std::size_t start = s.size() - 1;  // back up to the first byte of the last character
        while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
        if (!is_white_space(decode_at(s, start).first)) break;
        s.remove_suffix(s.size() - start);
    }
    return s;
}

}  // namespace

namespace {

// Letters, digits other than 0, and the capture, promotion and castling signs: a text of
// these alone is what the writer produces, and no step of the clean-up changes it.
constexpr std::array<bool, 256> PLAIN_SAN_BYTES = [] {
    std::array<bool, 256> t{};
    for (const char c : std::string_view("abcdefgh12345678x=-KQRBNO")) t[std::uint8_t(c)] = true;
    return t;
}();

constexpr bool is_sign(char c) { return c == '+' || c == '#' || c == '!' || c == '?'; }

bool plain_san(std::string_view text) {
    for (const char c : text)
        if (!PLAIN_SAN_BYTES[std::uint8_t(c)]) return false;
    return true;
}

}  // namespace

std::string_view normalized_san(std::string_view text, std::string& buffer) {
    // The writer's texts, with or without their check or mate sign: the signs at the end are
    // all the clean-up takes away.
    std::size_t body = 0;
    while (body < text.size() && PLAIN_SAN_BYTES[std::uint8_t(text[body])]) ++body;
    std::size_t end = body;
    while (end < text.size() && is_sign(text[end])) ++end;
    if (end == text.size()) return std::string_view(text.data(), body);
    normalize_san_into(text, buffer);
    return buffer;
}

void normalize_san_into(std::string_view text, std::string& out) {
    if (plain_san(text)) {
        out.assign(text);
        return;
    }
    std::string_view s = trim(text);
    while (!s.empty() && is_sign(s.back())) s.remove_suffix(1);
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        if (s.compare(i, 4, "e.p.") == 0) {
            i += 4;
            continue;
        }
        out += s[i] == '0' ? 'O' : s[i];
        ++i;
    }
    // Zeros become letters before the marks are removed, and neither step can make or break
    // an "e.p.", so one pass does both.
    const std::string_view trimmed = trim(out);
    if (trimmed.size() != out.size()) out = std::string(trimmed);
}

std::string normalize_san(std::string_view text) {
    std::string out;
    normalize_san_into(text, out);
    return out;
}

Answer<std::string> uci_to_san(const Board& board, std::string_view uci) {
    auto move = read_legal_move(
        board, uci, [](std::string_view text) { return message({"illegal move: ", text}); });
    return and_then(std::move(move), [&](const Move& m) {
        std::string san = san_body(board, m);
        Board after = board;
        chess::play_unchecked(after, m);
        // Only whether a reply exists matters, so counting the replies is enough.
        if (after.checkers.any()) san += chess::count_moves(after) == 0 ? '#' : '+';
        return san;
    });
}

namespace {

// What a move's SAN must start and end with to equal `target`, read off the target itself:
// castling starts with O, a piece move with its letter, a pawn move with a file letter; every
// text but castling ends with the destination, followed for a promotion by "=" and a letter.
// A move that cannot fit is not written at all; the first one whose text matches is the same
// as when every move is written in turn.
struct SanShape {
    bool castling = false;
    std::optional<Piece> mover;
    std::optional<chess::Square> to;
};

std::optional<SanShape> shape_of(std::string_view target) {
    if (target.empty()) return std::nullopt;
    SanShape shape;
    const char first = target.front();
    if (chess::castling_san_shape(target)) {
        shape.castling = true;
        return shape;
    }
    if (first >= 'a' && first <= 'h') {
        shape.mover = Piece::Pawn;
        if (target.size() >= 4 && target[target.size() - 2] == '=') target.remove_suffix(2);
    } else {
        for (unsigned k = chess::index(Piece::Knight); k < unsigned(chess::PIECE_KINDS); ++k)
            if (first == chess::piece_letter(Piece(k))) shape.mover = Piece(k);
        if (!shape.mover) return std::nullopt;
    }
    if (target.size() < 2) return std::nullopt;
    shape.to = chess::parse_square(target.substr(target.size() - 2));
    if (!shape.to) return std::nullopt;
    return shape;
}

// The squares from which a pawn or the king of the side to move could reach `to` by its own
// geometry: is_legal then decides each.
chess::BitBoard possible_movers(const Board& b, Piece mover, chess::Square to) {
    const chess::Color us = b.side_to_move;
    if (mover == Piece::King) return chess::king_attacks(to) & b.colored_pieces(us, mover);
    // Captures come from where a pawn of the other side on the square would attack; pushes
    // from one or two squares behind it.
    const chess::BitBoard square = chess::BitBoard::from(to);
    const chess::BitBoard behind = us == chess::Color::White ? chess::BitBoard{square.bits >> 8}
                                                             : chess::BitBoard{square.bits << 8};
    const chess::BitBoard further = us == chess::Color::White ? chess::BitBoard{behind.bits >> 8}
                                                              : chess::BitBoard{behind.bits << 8};
    return (chess::pawn_attacks(~us, to) | behind | further) & b.colored_pieces(us, mover);
}

}  // namespace

// The writer disambiguates every text against the legal moves that could share it, so at most
// one legal move has a given text: the reader tries only the moves that could be written so,
// and the first it finds is the one in the legal list.
std::optional<Move> read_clean_san(const Board& board, std::string_view clean) {
    const std::optional<SanShape> shape = shape_of(clean);
    if (!shape) return std::nullopt;
    if (shape->castling) {
        // Castling is the king onto its own rook, which no other king move lands on.
        std::optional<Move> found;
        const auto try_move = [&](const Move& m) {
            if (!found && san_body(board, m) == clean) found = m;
        };
        chess::generate_moves_for(
            board,
            [&](const chess::PieceMoves& group) {
                chess::for_each_move(
                    chess::PieceMoves{group.piece, group.from, group.to & board.us()}, try_move);
            },
            chess::Steps::of(Piece::King));
        return found;
    }
    const chess::Square to = *shape->to;
    // A move onto an own piece is castling, which the shape has ruled out.
    if (board.us().has(to)) return std::nullopt;
    const Piece mover = *shape->mover;
    const auto matches = [&](const Move& m, chess::BitBoard rivals) {
        char text[LONGEST_SAN_BODY];
        const char* end = write_san_body(text, board, m, mover, rivals);
        if (std::size_t(end - text) != clean.size()) return false;
        for (std::size_t i = 0; i < clean.size(); ++i)
            if (text[i] != clean[i]) return false;
        return true;
    };
    // The legal movers are each other's rivals: each is written against the others.
    if (mover != Piece::Pawn && mover != Piece::King) {
        const chess::BitBoard legal = chess::movers_to(board, mover, to);
        for (const chess::Square from : legal) {
            const Move m{from, to, std::nullopt};
            if (matches(m, legal.without(from))) return m;
        }
        return std::nullopt;
    }
    chess::BitBoard candidates = possible_movers(board, mover, to);
    // A pawn's text starts with the file it leaves, a capture's as a push's.
    if (mover == Piece::Pawn) candidates &= chess::file_set(chess::File(clean.front() - 'a'));
    chess::BitBoard legal;
    const bool promotes = mover == Piece::Pawn && chess::BACK_RANKS.has(to);
    for (const chess::Square from : candidates) {
        if (!promotes) {
            if (chess::is_legal(board, Move{from, to, std::nullopt}))
                legal |= chess::BitBoard::from(from);
            continue;
        }
        for (const Piece p : {Piece::Knight, Piece::Bishop, Piece::Rook, Piece::Queen}) {
            const Move m{from, to, p};
            if (chess::is_legal(board, m) && matches(m, chess::EMPTY)) return m;
        }
    }
    for (const chess::Square from : legal)
        if (matches(Move{from, to, std::nullopt}, chess::EMPTY))
            return Move{from, to, std::nullopt};
    return std::nullopt;
}

std::optional<Move> read_san(const Board& board, std::string_view text) {
    return read_clean_san(board, normalize_san(text));
}

Answer<UciMove> san_to_uci(const Board& board, std::string_view san) {
    const std::optional<Move> found = read_san(board, san);
    if (!found) return Refusal(message({"no legal move matches SAN '", san, "'"}));
    return UciMove{chess::display_uci_move(board, *found)};
}

}  // namespace morvek
