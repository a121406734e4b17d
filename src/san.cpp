#include "san.h"

#include <optional>

#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "operation.h"

namespace morvek {

namespace {

using chess::Board;
using chess::Move;
using chess::Piece;

constexpr char UPPER_LETTERS[] = "PNBRQK";

// A king moving onto a piece of its own side is castling, whatever the squares.
bool is_castling(const Board& b, Piece mover, const Move& m) {
    return mover == Piece::King && b.color_on(m.to) == b.color_on(m.from);
}

void append_square(std::string& out, chess::Square s) {
    char text[2];
    chess::write_square(text, s);
    out.append(text, 2);
}

// File first, then rank, then both: the least that tells the mover from its legal rivals.
void append_disambiguation(std::string& out, const Board& b, Piece mover, const Move& m,
                           const std::vector<Move>& legal) {
    bool rival = false, same_file = false, same_rank = false;
    for (const Move& other : legal) {
        if (other.to != m.to || other.from == m.from || b.piece_on(other.from) != mover) continue;
        if (is_castling(b, mover, other)) continue;
        rival = true;
        same_file |= chess::file_of(other.from) == chess::file_of(m.from);
        same_rank |= chess::rank_of(other.from) == chess::rank_of(m.from);
    }
    if (!rival) return;
    if (!same_file) {
        out += chess::file_char(chess::file_of(m.from));
    } else if (!same_rank) {
        out += chess::rank_char(chess::rank_of(m.from));
    } else {
        out += chess::file_char(chess::file_of(m.from));
        out += chess::rank_char(chess::rank_of(m.from));
    }
}

std::string san_with(const Board& b, const Move& m, const std::vector<Move>* legal) {
    const std::optional<Piece> mover = b.piece_on(m.from);
    if (!mover) chess::invariant_failure("legal move has a mover");
    if (is_castling(b, *mover, m))
        return chess::index(chess::file_of(m.to)) > chess::index(chess::file_of(m.from)) ? "O-O" : "O-O-O";

    const bool capture = b.piece_on(m.to).has_value();
    std::string out;
    if (*mover == Piece::Pawn) {
        // En passant lands on an empty square, so a change of file is what marks it.
        if (capture || chess::file_of(m.from) != chess::file_of(m.to)) {
            out += chess::file_char(chess::file_of(m.from));
            out += 'x';
        }
        append_square(out, m.to);
        if (m.promotion) {
            out += '=';
            out += UPPER_LETTERS[chess::index(*m.promotion)];
        }
        return out;
    }
    out += UPPER_LETTERS[chess::index(*mover)];
    if (legal) {
        append_disambiguation(out, b, *mover, m, *legal);
    } else {
        append_disambiguation(out, b, *mover, m, chess::legal_moves_vec(b));
    }
    if (capture) out += 'x';
    append_square(out, m.to);
    return out;
}

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

std::string san_body(const Board& board, const Move& move) { return san_with(board, move, nullptr); }

std::string san_body(const Board& board, const Move& move, const std::vector<Move>& legal) {
    return san_with(board, move, &legal);
}

std::string normalize_san(std::string_view text) {
    std::string_view s = trim(text);
    while (!s.empty() && (s.back() == '+' || s.back() == '#' || s.back() == '!' || s.back() == '?'))
        s.remove_suffix(1);
    std::string out;
    out.reserve(s.size());
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
    return std::string(trim(out));
}

Answer<std::string> uci_to_san(const Board& board, std::string_view uci) {
    const auto move = chess::parse_uci_move(board, uci);
    if (!move)
        return Refusal("bad move " + std::string(uci) + ": " + std::string(chess::debug_name(move.error())));
    if (!chess::is_legal(board, move.value())) return Refusal("illegal move: " + std::string(uci));
    std::string san = san_body(board, move.value());
    Board after = board;
    chess::play_unchecked(after, move.value());
    // Only whether a reply exists matters, so counting the replies is enough.
    if (after.checkers.any()) san += chess::count_moves(after) == 0 ? '#' : '+';
    return san;
}

Answer<std::string> san_to_uci(const Board& board, std::string_view san) {
    const std::string target = normalize_san(san);
    const std::vector<Move> legal = chess::legal_moves_vec(board);
    // The writer's texts need no normalising: they hold no white space, signs, zeros or marks.
    for (const Move& m : legal) {
        if (san_body(board, m, legal) != target) continue;
        char text[8];
        return std::string(text, chess::write_uci_move(text, board, m));
    }
    return Refusal("no legal move matches SAN '" + std::string(san) + "'");
}

}  // namespace morvek
