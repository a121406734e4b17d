// Every operation body of the module on one fuzzed position. Input lines: FEN, move text,
// SAN text, square text, colour text (a missing line is empty; the last one takes the rest).
//
// Checked: refusals carry their exact message with the caller's text; the three operations
// that read a move accept the same texts; every FEN the module writes reads back as the very
// position it was written from; listings are in rising square order and match the board; and SAN
// written for a move reads back to that move's listed text, which plays into the same position,
// and any SAN text reads as the move the writer writes so;
// exchange values stay between what the move takes and that minus the moving piece.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "checks.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "operation.h"
#include "san.h"
#include "see/see.h"

namespace {

using chess::Board;
using morvek::Answer;
using morvek::Refusal;

template <class T>
const Refusal* refusal(const Answer<T>& answer) {
    return std::get_if<Refusal>(&answer);
}

template <class T>
const T& value(const Answer<T>& answer) {
    return std::get<0>(answer);
}

// Result texts as plain strings, whether a body returns them as std::string or in a buffer
// of its own with a view() of the text.
std::string text(const std::string& s) { return s; }
template <class T>
    requires requires(const T& t) { t.view(); }
std::string text(const T& t) {
    return std::string(t.view());
}
std::string text(const morvek::UciMove& move) { return text(morvek::uci_text(move.standard_form)); }
std::vector<std::string> texts(const morvek::UciMoves& listed) {
    std::vector<std::string> out;
    for (const chess::Move& m : listed.moves) out.push_back(text(morvek::uci_text(m)));
    return out;
}
std::vector<std::string> texts(const morvek::SquareNames& names) {
    std::vector<std::string> out;
    for (const chess::Square s : names.squares) out.push_back(text(morvek::square_text(s)));
    return out;
}

void require_message(const Refusal* refused, const std::string& message, const std::string& shown) {
    fuzz::require(
        refused->message == message, "wrong refusal message",
        shown + ": " + fuzz::escaped(refused->message) + " instead of " + fuzz::escaped(message));
}

bool is_square_text(std::string_view text) {
    return text.size() == 2 && text[0] >= 'a' && text[0] <= 'h' && text[1] >= '1' && text[1] <= '8';
}

// The standard UCI texts of the board's legal moves, in order.
std::vector<std::string> legal_texts(const Board& board) {
    std::vector<std::string> out;
    for (const chess::Move& m : chess::legal_move_list(board))
        out.push_back(chess::uci_move_text(board, m));
    return out;
}

void check_position_answers(const Board& board, const std::string& shown) {
    fuzz::require(morvek::side_to_move(board) == board.side_to_move, "side_to_move", shown);
    fuzz::require(morvek::is_check(board) == board.checkers.any(), "is_check", shown);

    const auto passed = morvek::null_move_fen(board);
    if (board.checkers.any()) {
        fuzz::require(refusal(passed) != nullptr, "null move accepted in check", shown);
        require_message(refusal(passed), "null move illegal (in check)", shown);
    } else {
        fuzz::require(refusal(passed) == nullptr, "null move refused out of check", shown);
        const std::string fen = text(value(passed));
        Board expected = board;
        chess::null_move(expected);
        const auto after = fuzz::load_as_module(fen);
        fuzz::require(after && *after == expected,
                      "null_move_fen wrote a FEN that does not read back as the null move's board",
                      shown + " -> " + fen);
    }

    const morvek::Placement pieces = morvek::piece_list(board);
    fuzz::require(int(pieces.size) == board.occupied().count(), "piece_list misses pieces", shown);
    std::size_t i = 0;
    for (const chess::Square s : board.occupied()) {
        const morvek::SquareTriple triple = morvek::placement_texts(pieces.pieces[i++]);
        const std::string square = text(triple[0]), letter = text(triple[1]),
                          colour = text(triple[2]);
        char text[2];
        chess::write_square(text, s);
        fuzz::require(square == std::string_view(text, 2), "piece_list out of square order", shown);
        fuzz::require(letter.size() == 1 && letter[0] == "PNBRQK"[chess::index(*board.piece_on(s))],
                      "piece_list letter", shown);
        fuzz::require(colour == (board.color_on(s) == chess::Color::White ? "white" : "black"),
                      "piece_list colour", shown);
    }
}

void check_attackers(const Board& board, std::string_view sq, std::string_view color,
                     const std::string& shown) {
    const auto answer = morvek::attackers(board, sq, color);
    const bool color_ok = color == "w" || color == "white" || color == "b" || color == "black";
    if (!is_square_text(sq)) {
        fuzz::require(refusal(answer) != nullptr, "attackers accepted a bad square", shown);
        return require_message(refusal(answer), "bad square: " + std::string(sq), shown);
    }
    if (!color_ok) {
        fuzz::require(refusal(answer) != nullptr, "attackers accepted a bad colour", shown);
        return require_message(refusal(answer),
                               "bad color: " + std::string(color) + " (use white|black)", shown);
    }
    fuzz::require(refusal(answer) == nullptr, "attackers refused a good square and colour", shown);
    const std::vector<std::string> squares = texts(value(answer));
    const chess::Color side = color[0] == 'w' ? chess::Color::White : chess::Color::Black;
    int previous = -1;
    for (const std::string& text : squares) {
        const auto s = chess::parse_square(text);
        fuzz::require(s.has_value() && int(chess::index(*s)) > previous,
                      "attackers out of rising order", shown);
        fuzz::require(board.color_on(*s) == side, "an attacker of the other colour or of none",
                      shown);
        fuzz::require(text != sq, "the piece on the square counted as its own attacker", shown);
        previous = int(chess::index(*s));
    }
}

// Whoever is to capture may stop instead, so the exchange never gives the mover more than the
// move takes, nor less than that minus the moving piece (given up at worst, never more).
void require_exchange_bounds(const Board& board, const chess::Move& move, int value,
                             const std::string& shown) {
    if (board.is_castling(move)) {
        fuzz::require(value == 0, "castling has an exchange value", shown);
        return;
    }
    int taken = 0;
    if (const auto victim = board.piece_on(move.to))
        taken = chess::exchange_value(*victim);
    else if (board.piece_on(move.from) == chess::Piece::Pawn && board.en_passant &&
             move.to == chess::en_passant_on(board.side_to_move, *board.en_passant).target)
        taken = chess::exchange_value(chess::Piece::Pawn);
    const int mover = chess::exchange_value(*board.piece_on(move.from));
    fuzz::require(value <= taken, "see_move gives more than the move takes",
                  shown + " " + std::to_string(value) + " > " + std::to_string(taken));
    fuzz::require(value >= taken - mover, "see_move loses more than the moving piece",
                  shown + " " + std::to_string(value) + " < " + std::to_string(taken - mover));
}

// apply_uci, uci_to_san and see_move on one move text: the same texts are read, the same
// moves are legal, and each refusal has its own message.
void check_move_text(const Board& board, std::string_view uci,
                     const std::vector<std::string>& legal, const std::string& shown) {
    const std::string given(uci);
    const bool reads = chess::parse_uci_move(board, uci).ok();
    const bool legal_move =
        reads && chess::is_legal(board, chess::parse_uci_move(board, uci).value());

    const auto applied = morvek::apply_uci(board, uci);
    const auto san = morvek::uci_to_san(board, uci);
    const auto see = morvek::see_move(board, uci);
    if (!reads) {
        for (const Refusal* r : {refusal(applied), refusal(san), refusal(see)}) {
            fuzz::require(r != nullptr, "an unreadable move text was accepted", shown);
            require_message(r, "bad move " + given + ": MoveParseError", shown);
        }
        return;
    }
    if (!legal_move) {
        fuzz::require(refusal(applied) && refusal(san) && refusal(see),
                      "an illegal move was accepted", shown);
        require_message(refusal(applied), "illegal move " + given + ": IllegalMoveError", shown);
        require_message(refusal(san), "illegal move: " + given, shown);
        require_message(refusal(see), "illegal move: " + given, shown);
        return;
    }
    fuzz::require(!refusal(applied) && !refusal(san) && !refusal(see), "a legal move was refused",
                  shown);
    const std::string fen = text(value(applied));
    Board played = board;
    chess::play_unchecked(played, chess::parse_uci_move(board, uci).value());
    const auto loaded = fuzz::load_as_module(fen);
    fuzz::require(loaded && *loaded == played,
                  "apply_uci wrote a FEN that does not read back as the position played",
                  shown + " -> " + fen);
    fuzz::require(value(see) % 100 == 0, "see_move not in whole pawns", shown);
    require_exchange_bounds(board, chess::parse_uci_move(board, uci).value(), value(see), shown);

    // The SAN, read back, names a listed move that plays into the same position.
    const std::string written = text(value(san));
    const std::string body = written.substr(0, written.find_first_of("+#"));
    fuzz::require(morvek::normalize_san(body) == body, "written SAN is changed by the clean-up",
                  shown + " " + written);
    const auto back = morvek::san_to_uci(board, written);
    fuzz::require(!refusal(back), "written SAN is not read back", shown + " " + written);
    const std::string read = text(value(back));
    const std::string listed =
        chess::uci_move_text(board, chess::parse_uci_move(board, uci).value());
    fuzz::require(std::find(legal.begin(), legal.end(), read) != legal.end(),
                  "SAN read as an unlisted move", shown + " " + written + " -> " + read);
    fuzz::require(read == listed, "SAN read back as another move than the one written",
                  shown + " " + written + " -> " + read);
    const auto replayed = morvek::apply_uci(board, read);
    fuzz::require(!refusal(replayed) && text(value(replayed)) == fen,
                  "SAN read back plays into a different position",
                  shown + " " + written + " -> " + read);
}

void check_san_text(const Board& board, std::string_view san, const std::vector<std::string>& legal,
                    const std::string& shown) {
    // The reading is the writer's: the first legal move whose SAN body is the cleaned text.
    const std::string clean = morvek::normalize_san(san);
    std::optional<chess::Move> written_so;
    for (const chess::Move& m : chess::legal_move_list(board)) {
        if (morvek::san_body(board, m) == clean) {
            written_so = m;
            break;
        }
    }
    fuzz::require(morvek::read_san(board, san) == written_so,
                  "SAN read otherwise than the writer writes it", shown);
    const auto answer = morvek::san_to_uci(board, san);
    if (const Refusal* r = refusal(answer))
        return require_message(r, "no legal move matches SAN '" + std::string(san) + "'", shown);
    const std::string uci = text(value(answer));
    fuzz::require(std::find(legal.begin(), legal.end(), uci) != legal.end(),
                  "san_to_uci answered an unlisted move", shown + " -> " + uci);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [fen, uci, san, sq, color] = fuzz::lines<5>(data, size);
    fuzz::guarded([&] {
        const auto board = fuzz::load_as_module(fen);
        if (!board) return;
        const std::string shown = fuzz::escaped(fen) + " | " + fuzz::escaped(uci) + " | " +
                                  fuzz::escaped(san) + " | " + fuzz::escaped(sq) + " | " +
                                  fuzz::escaped(color);
        check_position_answers(*board, shown);
        check_attackers(*board, sq, color, shown);

        const std::vector<std::string> legal = legal_texts(*board);
        fuzz::require(texts(morvek::legal_moves(*board)) == legal,
                      "legal_moves differs from generation", shown);
        check_move_text(*board, uci, legal, shown);
        check_san_text(*board, san, legal, shown);
        for (const std::string& move : legal)
            check_move_text(*board, move, legal, shown + " [" + move + "]");
    });
    return 0;
}
