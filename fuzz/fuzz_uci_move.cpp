// Standard UCI move text against a position. Input: a FEN line, then the move text (the rest
// of the input). A FEN that does not load picks one of a few fixed positions instead, so
// that the move text is always read against some board.
//
// Checked: the text is refused exactly when the move grammar refuses it; a read move keeps
// the text's squares and promotion, changing only a castling destination; is_legal agrees
// with generation; every legal move, the text's included, plays into a sound board, and into
// the same board with its key kept move by move; and the texts written for the legal moves
// are distinct and each reads back to its own move.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks.h"
#include "chess/keys.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"

namespace {

using chess::Board;
using chess::Move;
using chess::Piece;
using chess::Square;

constexpr std::string_view FALLBACKS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "1r2k1r1/8/8/8/8/8/8/1R2K1R1 b GBgb - 0 1",
    "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
};

Board load(std::string_view fen) {
    if (auto board = fuzz::load_as_module(fen)) return *board;
    return *fuzz::load_as_module(FALLBACKS[fen.size() % std::size(FALLBACKS)]);
}

struct Reading {
    Square from, to;
    std::optional<Piece> promotion;
};

// The move grammar on its own: two square texts, then a promotion decided by byte 4 alone.
std::optional<Reading> grammar(std::string_view text) {
    if (text.size() < 4) return std::nullopt;
    const auto from = chess::parse_square(text.substr(0, 2));
    const auto to = chess::parse_square(text.substr(2, 2));
    if (!from || !to) return std::nullopt;
    const bool lead_of_multibyte =
        text.size() > 5 && (static_cast<unsigned char>(text[5]) & 0xC0) == 0x80;
    if (text.size() == 4 || lead_of_multibyte) return Reading{*from, *to, std::nullopt};
    constexpr std::string_view LETTERS = "nbrq";
    if (const std::size_t at = LETTERS.find(text[4]); at != std::string_view::npos)
        return Reading{*from, *to, Piece(chess::index(Piece::Knight) + at)};
    if (text[4] == 'p' || text[4] == 'k') return Reading{*from, *to, std::nullopt};
    return std::nullopt;
}

void check_reading(const Board& board, std::string_view text, const std::string& shown) {
    const auto move = chess::parse_uci_move(board, text);
    const auto expected = grammar(text);
    fuzz::require(move.ok() == expected.has_value(), "parse_uci_move and the move grammar disagree",
                  shown);
    if (!move) return;
    const Move& m = move.value();
    fuzz::require(m.from == expected->from && m.promotion == expected->promotion,
                  "parse_uci_move changed the from square or the promotion", shown);
    if (m.to != expected->to) {
        const chess::Rank back = chess::back_rank(board.side_to_move);
        const auto& rights = board.castle_rights[chess::index(board.side_to_move)];
        const bool short_castle = chess::file_of(expected->to) == chess::File::G && rights.short_ &&
                                  m.to == chess::make_square(*rights.short_, back);
        const bool long_castle = chess::file_of(expected->to) == chess::File::C && rights.long_ &&
                                 m.to == chess::make_square(*rights.long_, back);
        fuzz::require(m.from == chess::make_square(chess::File::E, back) &&
                          board.king(board.side_to_move) == m.from &&
                          chess::rank_of(expected->to) == back && (short_castle || long_castle),
                      "parse_uci_move changed a destination that is no castling", shown);
    }
    const chess::MoveList legal = chess::legal_move_list(board);
    const bool listed = std::find(legal.begin(), legal.end(), m) != legal.end();
    fuzz::require(chess::is_legal(board, m) == listed, "is_legal disagrees with generation", shown);
}

void check_every_legal_move(const Board& board, const std::string& shown) {
    const chess::MoveList legal = chess::legal_move_list(board);
    fuzz::require(chess::count_moves(board) == legal.size(),
                  "count_moves disagrees with generation", shown);
    fuzz::require(chess::detail::count_moves_portable(board) == legal.size(),
                  "count_moves without the bit-count instruction disagrees with generation", shown);
    std::vector<std::string> texts;
    for (const Move& m : legal) {
        const std::string text = chess::uci_move_text(board, m);
        fuzz::require(chess::is_legal(board, m), "a generated move is not legal",
                      shown + " " + text);
        const auto again = chess::parse_uci_move(board, text);
        fuzz::require(again.ok() && again.value() == m,
                      "a legal move's text reads back differently", shown + " " + text);
        fuzz::require(std::find(texts.begin(), texts.end(), text) == texts.end(),
                      "two legal moves share one text", shown + " " + text);
        texts.push_back(text);
        Board next = board;
        chess::play_unchecked(next, m);
        fuzz::require_sound(next, "after " + text);
        // The key kept move by move equals the key of the board reached, which is the plain
        // move's board in every other field.
        Board keyed = board;
        keyed.hash = chess::compute_hash(board);
        chess::play_keeping_key(keyed, m);
        fuzz::require(keyed.hash == chess::compute_hash(keyed),
                      "the key kept by the move differs from a fresh one", shown + " " + text);
        keyed.hash = next.hash;
        fuzz::require(keyed == next, "keeping the key changes the move's board",
                      shown + " " + text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [fen, text] = fuzz::lines<2>(data, size);
    fuzz::guarded([&] {
        const Board board = load(fen);
        const std::string shown = chess::to_fen(board, true) + " | " + fuzz::escaped(text);
        check_reading(board, text, shown);
        check_every_legal_move(board, shown);
    });
    return 0;
}
