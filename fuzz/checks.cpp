#include "checks.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "chess/geometry.h"
#include "operation.h"

namespace fuzz {

using chess::BitBoard;
using chess::Board;
using chess::Color;
using chess::File;
using chess::Piece;
using chess::Rank;
using chess::Square;

void fail(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "\nPROPERTY FAILED: %.*s\n", int(what.size()), what.data());
    if (!detail.empty()) std::fprintf(stderr, "  %.*s\n", int(detail.size()), detail.data());
    std::fflush(stderr);
    std::abort();
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        }
    }
    return out;
}

namespace {

constexpr Color COLORS[] = {Color::White, Color::Black};

void require_sets_consistent(const Board& b, const std::string& fen) {
    BitBoard seen;
    for (const BitBoard set : b.pieces) {
        require((seen & set).empty(), "two piece kinds share a square", fen);
        seen |= set;
    }
    require((b.colors[0] & b.colors[1]).empty(), "the colours share a square", fen);
    require(seen == b.occupied(), "piece sets and colour sets cover different squares", fen);
}

void require_army(const Board& b, Color c, const std::string& fen) {
    const BitBoard own = b.colors[chess::index(c)];
    require(own.count() <= 16, "more than 16 pieces of one colour", fen);
    require(b.colored_pieces(c, Piece::King).count() == 1, "not exactly one king", fen);
    const BitBoard pawns = b.colored_pieces(c, Piece::Pawn);
    require(pawns.count() <= 8, "more than 8 pawns", fen);
    require((pawns & chess::BACK_RANKS).empty(), "a pawn on the first or last rank", fen);
}

void require_castling_backed(const Board& b, Color c, const std::string& fen) {
    const chess::CastleRights& rights = b.castle_rights[chess::index(c)];
    if (!rights.any()) return;
    const Rank back = chess::back_rank(c);
    const Square king = b.king(c);
    require(chess::rank_of(king) == back, "castling right with the king off its back rank", fen);
    const BitBoard rooks = b.colored_pieces(c, Piece::Rook);
    const unsigned king_file = chess::index(chess::file_of(king));
    if (rights.short_) {
        require(rooks.has(chess::make_square(*rights.short_, back)), "short right without its rook",
                fen);
        require(chess::index(*rights.short_) > king_file, "short right on the long side", fen);
    }
    if (rights.long_) {
        require(rooks.has(chess::make_square(*rights.long_, back)), "long right without its rook",
                fen);
        require(chess::index(*rights.long_) < king_file, "long right on the short side", fen);
    }
}

void require_en_passant_consistent(const Board& b, const std::string& fen) {
    if (!b.en_passant) return;
    const Color us = b.side_to_move;
    const File f = *b.en_passant;
    const Square start = chess::make_square(f, chess::relative_rank(us, Rank::Seventh));
    const Square target = chess::make_square(f, chess::relative_rank(us, Rank::Sixth));
    const Square pushed = chess::make_square(f, chess::relative_rank(us, Rank::Fifth));
    const BitBoard occupied = b.occupied();
    require(!occupied.has(start) && !occupied.has(target), "en passant squares not empty", fen);
    require(b.colored_pieces(~us, Piece::Pawn).has(pushed),
            "en passant file without the pushed pawn", fen);
    const Square king = b.king(us);
    for (const Square checker : b.checkers)
        require(checker == pushed || chess::between(checker, king).has(start),
                "en passant with a check the double push cannot have given", fen);
}

// Equal to a fresh reading of the text the board writes of itself: the file-letter form read
// with file letters, and the form the module returns read as the module reads every FEN.
void require_fen_round_trip(const Board& b, const std::string& fen) {
    const auto again = chess::from_fen(fen, true);
    require(again.ok(), "the board's own file-letter FEN does not load", fen);
    require(again.value() == b, "the board's own file-letter FEN loads to a different board", fen);

    // Exactly the promised size, so that AddressSanitizer sees any byte written past it.
    const auto buffer = std::make_unique<char[]>(chess::MAX_FEN_LENGTH);
    const char* end = chess::write_fen(buffer.get(), b, chess::CastlingLetters::RookFiles);
    require(std::string_view(buffer.get(), std::size_t(end - buffer.get())) == fen,
            "write_fen and to_fen disagree", fen);

    const std::string returned(morvek::returned_fen(b).view());
    const auto returned_again = chess::read_fen(returned);
    require(returned_again.ok() && returned_again.value() == b,
            "the FEN the module would return does not read back as the same board", returned);
}

}  // namespace

void require_sound(const Board& b, std::string_view how) {
    const std::string fen = std::string(how) + ": " + chess::to_fen(b, true);
    require_sets_consistent(b, fen);
    for (const Color c : COLORS) require_army(b, c, fen);
    require(
        !(chess::king_attacks(b.king(Color::White)) & b.colored_pieces(Color::Black, Piece::King))
             .any(),
        "kings on neighbouring squares", fen);

    const Color us = b.side_to_move;
    require(chess::calculate_checkers_and_pins(b, ~us).checkers.empty(),
            "the side not to move is in check", fen);
    const chess::CheckersAndPins fresh = chess::calculate_checkers_and_pins(b, us);
    require(b.checkers == fresh.checkers, "stored checkers differ from a fresh computation", fen);
    require(b.pinned == fresh.pinned, "stored pins differ from a fresh computation", fen);
    require(b.checkers.count() <= 2, "more than two checkers", fen);

    for (const Color c : COLORS) require_castling_backed(b, c, fen);
    require_en_passant_consistent(b, fen);
    require(b.halfmove_clock <= 100, "halfmove clock above 100", fen);
    require(b.fullmove_number >= 1, "fullmove number 0", fen);
    require_fen_round_trip(b, chess::to_fen(b, true));
}

std::optional<Board> load_as_module(std::string_view fen) {
    auto expected = chess::from_fen(fen, false);
    if (!expected && expected.error() == chess::FenParseError::InvalidCastlingRights)
        expected = chess::from_fen(fen, true);

    const auto loaded = morvek::parse_board(fen);
    if (const auto* refusal = std::get_if<morvek::Refusal>(&loaded)) {
        require(!expected, "parse_board refuses a FEN that from_fen reads", escaped(fen));
        const std::string message = "bad FEN: " + std::string(chess::error_name(expected.error()));
        require(refusal->message == message, "parse_board's refusal differs from from_fen's error",
                escaped(fen) + " -> " + refusal->message + " (expected " + message + ")");
        return std::nullopt;
    }
    const Board& board = std::get<Board>(loaded);
    require(expected.ok(), "parse_board loads a FEN that from_fen refuses", escaped(fen));
    require(board == expected.value(), "parse_board and from_fen load different boards",
            escaped(fen));
    return board;
}

}  // namespace fuzz
