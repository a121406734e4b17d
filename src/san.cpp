#include <algorithm>
#include "san.h"

#include <optional>

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

void append_square(std::string& out, chess::Square s) {
    char text[2];
    chess::write_square(text, s);
    out.append(text, 2);
}

// File first, then rank, then both: the least that tells the mover from its legal rivals.
// The legal moves of the same kind onto the same square from elsewhere are exactly those
// pieces' moves there that `is_legal` accepts (pieces other than pawns never promote, and the
// one king has no rival), so the rivals need no full move list.
void append_disambiguation(std::string& out, const Board& b, Piece mover, const Move& m) {
    bool rival = false, same_file = false, same_rank = false;
    for (const chess::Square s : b.colored_pieces(b.side_to_move, mover).without(m.from)) {
        if (!chess::is_legal(b, Move{s, m.to, std::nullopt})) continue;
        rival = true;
        same_file |= chess::file_of(s) == chess::file_of(m.from);
        same_rank |= chess::rank_of(s) == chess::rank_of(m.from);
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

}  // namespace

std::string san_body(const Board& b, const Move& m) {
    const std::optional<Piece> mover = b.piece_on(m.from);
    if (!mover) chess::invariant_failure("legal move has a mover");
    if (b.is_castling(m))
        return std::string(chess::castling_san(chess::castling(b.side_to_move, m.from, m.to)));

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
            out += chess::piece_letter(*m.promotion);
        }
        return out;
    }
    out += chess::piece_letter(*mover);
    append_disambiguation(out, b, *mover, m);
    if (capture) out += 'x';
    append_square(out, m.to);
    return out;
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
constexpr bool plain_san_byte(char c) {
    return (c >= 'a' && c <= 'h') || (c >= '1' && c <= '8') || c == 'x' || c == '=' || c == '-' ||
           c == 'K' || c == 'Q' || c == 'R' || c == 'B' || c == 'N' || c == 'O';
}

}  // namespace

std::string normalize_san(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), plain_san_byte)) return std::string(text);
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
// A move that cannot fit is not written at all.
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

// The promotion a pawn move's text names ("=Q"), if any. Any other letter after the "=" is read
// as a king, which is_legal refuses as every promotion to one.
std::optional<Piece> named_promotion(std::string_view target) {
    if (target.size() < 4 || target[target.size() - 2] != '=') return std::nullopt;
    for (unsigned k = chess::index(Piece::Knight); k < chess::index(Piece::King); ++k)
        if (target.back() == chess::piece_letter(Piece(k))) return Piece(k);
    return Piece::King;
}

// The move whose SAN is `target`, among the moves of the kind and onto the square its shape
// names: castling with each right held, or a move from each square from which a piece of the
// kind could reach the square (more squares than can: is_legal has the last word, the writer's
// text the final one). Every legal move's SAN is its own, so at most one matches, in any order.
std::optional<Move> matching_move(const Board& b, const SanShape& shape, std::string_view target) {
    const chess::Color us = b.side_to_move;
    std::optional<Move> found;
    const auto consider = [&](const Move& m) {
        if (!found && chess::is_legal(b, m) && san_body(b, m) == target) found = m;
    };
    if (shape.castling) {
        const chess::Square k = b.king(us);
        chess::for_each_right(b.castle_rights[chess::index(us)], [&](chess::File rook) {
            consider(Move{k, chess::make_square(rook, chess::back_rank(us)), std::nullopt});
        });
        return found;
    }
    const chess::Square to = *shape.to;
    const chess::BitBoard at = chess::BitBoard::from(to);
    chess::BitBoard from;
    std::optional<Piece> promotion;
    switch (*shape.mover) {
        case Piece::Pawn: {
            // A push from one or two squares behind, or a capture (en passant too).
            const chess::BitBoard behind = us == chess::Color::White
                                               ? chess::BitBoard{at.bits >> 8 | at.bits >> 16}
                                               : chess::BitBoard{at.bits << 8 | at.bits << 16};
            from = behind | chess::pawn_attacks(~us, to);
            promotion = named_promotion(target);
            break;
        }
        case Piece::Knight: from = chess::knight_attacks(to); break;
        case Piece::Bishop: from = chess::bishop_rays(to); break;
        case Piece::Rook: from = chess::rook_rays(to); break;
        case Piece::Queen: from = chess::bishop_rays(to) | chess::rook_rays(to); break;
        case Piece::King: from = chess::king_attacks(to); break;
    }
    for (const chess::Square s : from& b.colored_pieces(us, *shape.mover))
        consider(Move{s, to, promotion});
    return found;
}

}  // namespace

Answer<UciMove> san_to_uci(const Board& board, std::string_view san) {
    const std::string target = normalize_san(san);
    const std::optional<SanShape> shape = shape_of(target);
    // The writer's texts need no normalising: they hold no white space, signs, zeros or marks.
    const std::optional<Move> found = shape ? matching_move(board, *shape, target) : std::nullopt;
    if (!found) return Refusal(message({"no legal move matches SAN '", san, "'"}));
    return UciMove{chess::display_uci_move(board, *found)};
}

}  // namespace morvek
