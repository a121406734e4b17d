#include "walk.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "annotations.h"
#include "chess/fen.h"
#include "chess/fen_writer.h"
#include "chess/movegen.h"
#include "chess/play.h"
#include "chess/uci.h"
#include "operation.h"
#include "san.h"
#include "see/see.h"
#include "text.h"

namespace pgn {

namespace {

using chess::Board;

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

const Board START =
    chess::read_fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1").value();

// Standard chess and Chess960 as PGN writers name them in the Variant tag, compared with
// white space, hyphens and underscores left out and letters in lower case.
constexpr std::string_view CHESS_VARIANTS[] = {
    "",        "standard", "chess", "normal",       "classical",     "fromposition",
    "frompos", "chess960", "960",   "fischerandom", "fischerrandom", "freestyle",
};

bool is_chess(std::string_view variant) {
    std::string plain;
    for (std::size_t at = 0; at < variant.size();) {
        bool complete;
        const Char c = char_at(variant.data() + at, variant.data() + variant.size(), complete);
        at += c.size;
        if ((c.valid && is_space(c.code)) || c.code == '-' || c.code == '_') continue;
        // No other character lower-cases into the ASCII letters of the names.
        if (c.code >= 0x80 || !c.valid) return false;
        plain += char(c.code >= 'A' && c.code <= 'Z' ? c.code - 'A' + 'a' : c.code);
    }
    return std::find(std::begin(CHESS_VARIANTS), std::end(CHESS_VARIANTS), plain) !=
           std::end(CHESS_VARIANTS);
}

std::string unescape(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        // A backslash before any character but a line end stands for that character.
        if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] != '\n') ++i;
        out += raw[i];
    }
    return out;
}

bool is_movetext(TokenKind kind) {
    switch (kind) {
        case TokenKind::Comment:
        case TokenKind::OpenComment:
        case TokenKind::LineComment:
        case TokenKind::Escape:
        case TokenKind::Nag:
        case TokenKind::Dots:
        case TokenKind::Tag: return false;
        default: return true;
    }
}

struct Range {
    std::size_t begin, end;
};

struct PlyNotes {
    std::uint32_t ply;
    Annotations notes;
};

struct Fault {
    std::uint32_t ply;
    std::string text, message;
    Reason reason;
};

// What is read of one game before it is walked.
struct GameText {
    std::size_t start = 0;  // its first token
    std::vector<TagText> tags;
    std::vector<Range> moves;
    std::vector<PlyNotes> notes;  // by rising ply, the last comment with any for each
    std::optional<Fault> fault;   // the first thing read that keeps it from being walked
    std::string_view result;      // the result that ends its movetext, if one does
    bool open_comment = false;
    bool decided = false;  // whether the tags have been put to the filter
    bool kept = true;
    bool cut = false;  // longer than the longest game: reported, not walked

    void clear() {
        start = 0;
        tags.clear();
        moves.clear();
        notes.clear();
        fault.reset();
        result = {};
        open_comment = decided = cut = false;
        kept = true;
    }
    std::string_view last_move(std::string_view data) const {
        return moves.empty() ? std::string_view()
                             : slice(data, moves.back().begin, moves.back().end);
    }
};

class Walker {
  public:
    Walker(std::string_view data, std::uint64_t first_game, const WalkOptions& options,
           WalkedChunk& out)
        : data_(data), number_(first_game), options_(options), out_(out) {
        out_.tags.resize(options_.tags.size());
    }

    void walk();

  private:
    void collect(GameText& game, const Token& token, Effect effect, const GameState& state);
    void decide(GameText& game);
    void finish(std::size_t end);
    bool skip(GameState& state);
    void read_cut(GameText& game);
    void report(std::uint32_t ply, std::string text, std::string message, Reason reason);
    std::optional<Fault> walk_moves(const GameText& game, Board board);
    void write_game(const GameText& game, const GameTags& tags);

    std::string_view data_;
    std::uint64_t number_;
    const WalkOptions& options_;
    WalkedChunk& out_;
    GameText game_;
    Tokenizer tokens_;
    std::string clean_;  // the SAN being read, cleaned up
    chess::FenWriter fens_;
    std::size_t next_start_ = 0;  // the first of options_.game_starts not yet passed
};

void Walker::walk() {
    std::size_t start = 0;
    if (head(data_, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK) start = BYTE_ORDER_MARK.size();
    tokens_ = Tokenizer(start, true);
    GameState state;
    Token token;
    while (tokens_.next(data_, true, token) == Tokenizer::Outcome::Token) {
        const bool was_started = state.started;
        const Effect effect = state.take(token, data_);
        if (effect == Effect::EndsBefore) {
            finish(token.begin);
            game_.start = token.begin;
        }
        const bool ends = effect == Effect::EndsAfter || effect == Effect::OpenEnd;
        if (!was_started && (state.started || ends)) game_.start = token.begin;
        // Past the longest a game may be, nothing more of it is kept.
        if ((state.started || ends) && token.end - game_.start > options_.longest_game)
            game_.cut = true;
        if (!game_.cut) {
            // What most tokens are, taken as collect() takes them: a move number adds nothing,
            // a word of UTF-8 text its move.
            const bool common =
                game_.decided &&
                (token.kind == TokenKind::Number ||
                 (token.kind == TokenKind::Word && token.stray == std::string_view::npos));
            if (!common)
                collect(game_, token, effect, state);
            else if (effect == Effect::Move && game_.kept)
                game_.moves.push_back({token.begin, token.end});
        }
        if (ends) {
            finish(token.end);
        } else if (game_.decided && !game_.kept && skip(state)) {
            continue;
        }
    }
    if (state.started) finish(data_.size());
}

// A game its tags turned down goes unread from here: the walk goes on at the next game's
// start, which the splitter found reading every token as the walk would.
bool Walker::skip(GameState& state) {
    const auto& starts = options_.game_starts;
    if (starts.empty()) return false;
    while (next_start_ < starts.size() && starts[next_start_] <= game_.start) ++next_start_;
    const std::size_t next = next_start_ < starts.size() ? starts[next_start_] : data_.size();
    ++out_.games_filtered;
    ++number_;
    game_.clear();
    state = GameState();
    tokens_ = Tokenizer(next, next == 0 || data_[next - 1] == '\n');
    return true;
}

// What the token adds to the game, as the Python reader took it: a word's bytes are looked at
// even inside a variation, a lone bracket or brace only in the main line.
void Walker::collect(GameText& game, const Token& token, Effect effect, const GameState& state) {
    if (!game.decided && is_movetext(token.kind)) decide(game);
    if (!game.kept) return;
    switch (token.kind) {
        case TokenKind::Tag:
            game.tags.push_back(
                {token.name_begin, token.name_end, token.value_begin, token.value_end});
            break;
        case TokenKind::Word:
            if (!game.fault && token.stray != std::string_view::npos) {
                char message[32];
                std::snprintf(message, sizeof message, "byte 0x%02x is not UTF-8",
                              unsigned(std::uint8_t(data_[token.stray])));
                game.fault = Fault{std::uint32_t(game.moves.size() + 1),
                                   printable(token.text(data_)), message, Reason::NotUtf8};
            }
            if (effect == Effect::Move) game.moves.push_back({token.begin, token.end});
            break;
        case TokenKind::Other:
            if (state.depth == 0 && !game.fault)
                game.fault =
                    Fault{std::uint32_t(game.moves.size() + 1), printable(token.text(data_)),
                          "not PGN movetext", Reason::NotPgn};
            break;
        case TokenKind::Comment: {
            const std::string_view text = token.text(data_);
            if (state.depth != 0 || game.moves.empty() || text.find("[%") == text.npos) break;
            const Annotations found = annotations_of(text);
            if (!found.any()) break;
            const std::uint32_t ply = std::uint32_t(game.moves.size());
            if (!game.notes.empty() && game.notes.back().ply == ply)
                game.notes.back().notes = found;
            else
                game.notes.push_back({ply, found});
            break;
        }
        case TokenKind::Result:
            if (effect == Effect::EndsAfter) game.result = token.text(data_);
            break;
        case TokenKind::OpenComment: game.open_comment = true; break;
        default: break;
    }
}

void Walker::decide(GameText& game) {
    game.decided = true;
    if (options_.keep) game.kept = options_.keep(GameTags(data_, game.tags), options_.keep_context);
}

void Walker::report(std::uint32_t ply, std::string text, std::string message, Reason reason) {
    out_.problems.push_back({number_, ply, std::move(text), std::move(message), reason});
}

// A game longer than the longest is reported from its tokens, read again, up to the first that
// ends past the longest + 1 bytes from its start or would end the game: all that a chunk of
// the splitter holds of it, so that its report is the same either way.
void Walker::read_cut(GameText& game) {
    const std::size_t start = game.start, bound = start + options_.longest_game + 1;
    Tokenizer tokens(start, tokens_.line_start(data_, start));
    GameState state;
    game.clear();
    game.start = start;
    Token token;
    while (tokens.next(data_, true, token) == Tokenizer::Outcome::Token && token.end <= bound) {
        const Effect effect = state.take(token, data_);
        if (effect == Effect::EndsAfter || effect == Effect::EndsBefore ||
            effect == Effect::OpenEnd)
            break;
        collect(game, token, effect, state);
    }
    if (!game.fault) {
        game.fault = Fault{std::uint32_t(game.moves.size()), std::string(game.last_move(data_)),
                           morvek::message({"truncated: game longer than ",
                                            std::to_string(options_.longest_game), " bytes"}),
                           Reason::CutOff};
    }
    game.open_comment = false;
    game.cut = true;
}

void Walker::finish(std::size_t end) {
    GameText& game = game_;
    if (end - game.start > options_.longest_game) read_cut(game);
    if (!game.decided) decide(game);
    const GameTags tags(data_, game.tags);
    if (!game.kept) {
        ++out_.games_filtered;
    } else if (game.fault) {
        report(game.fault->ply, std::move(game.fault->text), std::move(game.fault->message),
               game.fault->reason);
    } else if (game.open_comment) {
        report(std::uint32_t(game.moves.size()), std::string(game.last_move(data_)),
               "truncated: no result before the end of the file", Reason::CutOff);
    } else if (const std::string variant = tags.value("Variant").value_or(""); !is_chess(variant)) {
        report(0, morvek::message({"[Variant \"", printable(variant), "\"]"}),
               "not chess: only standard chess and Chess960 are walked", Reason::NotChess);
    } else {
        Board board = START;
        const std::optional<std::string> fen = tags.value("FEN");
        bool walkable = true;
        if (fen) {
            const auto read = chess::read_fen(*fen, chess::CastlingLetters::Outermost);
            if (read) {
                board = read.value();
            } else {
                walkable = false;
                report(0, printable(*fen),
                       morvek::message({"bad FEN: ", chess::error_name(read.error())}),
                       Reason::FenTagRefused);
            }
        }
        if (walkable) {
            const std::size_t first_row = out_.rows();
            if (std::optional<Fault> fault = walk_moves(game, board)) {
                out_.truncate_rows(first_row);
                report(fault->ply, std::move(fault->text), std::move(fault->message),
                       fault->reason);
            } else {
                write_game(game, tags);
            }
        }
    }
    ++number_;
    game.clear();
}

void Walker::write_game(const GameText& game, const GameTags& tags) {
    out_.game.push(std::int64_t(number_));
    out_.row_ends.push_back(std::int64_t(out_.rows()));
    // The result that ended the movetext, else the Result tag, else unknown.
    if (!game.result.empty())
        out_.result.push(game.result);
    else
        out_.result.push(printable(tags.value("Result").value_or("*")));
    for (std::size_t t = 0; t < options_.tags.size(); ++t)
        out_.tags[t].push(printable(tags.value(options_.tags[t]).value_or("")));
}

// The moves on one board, a row each; the first move that cannot be played is the game's
// fault, and its rows are dropped by the caller. Every column grows by the game's rows at once
// and its cells are then set in place.
std::optional<Fault> Walker::walk_moves(const GameText& game, Board board) {
    const ColumnSet columns = options_.columns;
    const bool want_see = columns.has(Column::See), want_count = columns.has(Column::LegalMoves);
    const std::size_t first = out_.rows(), rows = game.moves.size();
    out_.ply.grow(rows, true);
    out_.legal_moves.grow(rows, true);
    out_.see.grow(rows, want_see);
    out_.check.append(rows, false);
    out_.clock.grow(rows, false);
    out_.eval.grow(rows, false);
    out_.mate.grow(rows, false);
    std::optional<TextCells> fen, uci, san;
    const auto text_cells = [&](std::optional<TextCells>& cells, Column column, Texts& texts,
                                std::size_t most) {
        if (columns.has(column))
            cells.emplace(texts, rows, most);
        else
            texts.grow_empty(rows);
    };
    text_cells(fen, Column::Fen, out_.fen, chess::MAX_FEN_LENGTH);
    text_cells(uci, Column::Uci, out_.uci, 8);
    text_cells(san, Column::San, out_.san, 8);
    // The count of legal moves after one move is the next row's count, and tells the SAN of a
    // checking move whether it mates.
    std::uint64_t count = want_count ? chess::count_moves(board) : 0;
    auto notes = game.notes.begin();
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t row = first + i;
        const std::uint32_t ply = std::uint32_t(i + 1);
        const std::string_view written = slice(data_, game.moves[i].begin, game.moves[i].end);
        out_.ply.values[row] = std::int32_t(ply);
        if (fen) fen->close(fens_.write(fen->at(), board, chess::CastlingLetters::Either));
        out_.legal_moves.values[row] = std::int32_t(count);
        if (is_null_move(written)) {
            if (board.checkers.any())
                return Fault{ply, std::string(written), "null move illegal (in check)",
                             Reason::NullMoveInCheck};
            chess::null_move(board);
            if (want_count) count = chess::count_moves(board);
            if (uci) uci->close_empty();
            if (san) san->close_empty();
            if (want_see) out_.see.validity.set(row, false);
        } else {
            const std::string_view text = morvek::normalized_san(written, clean_);
            const std::optional<chess::Move> move = morvek::read_clean_san(board, text);
            if (!move)
                return Fault{ply, std::string(written),
                             morvek::message({"no legal move matches SAN '", written, "'"}),
                             Reason::MoveNotLegal};
            if (uci) uci->close(chess::write_uci_move(uci->at(), board, *move));
            if (want_see) out_.see.values[row] = chess::see_of_move(board, *move);
            chess::play_unchecked(board, *move);
            const bool check = board.checkers.any();
            if (want_count || (san && check)) count = chess::count_moves(board);
            // The SAN of the move is the text read, as the writer writes every legal move.
            if (san) {
                char* end = std::copy(text.begin(), text.end(), san->at());
                if (check) *end++ = count == 0 ? '#' : '+';
                san->close(end);
            }
        }
        if (board.checkers.any()) out_.check.set(row, true);
        while (notes != game.notes.end() && notes->ply < ply) ++notes;
        if (notes != game.notes.end() && notes->ply == ply) {
            const Annotations& found = notes->notes;
            if (found.clock) out_.clock.set(row, *found.clock);
            if (found.eval) out_.eval.set(row, *found.eval);
            if (found.mate) out_.mate.set(row, *found.mate);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> GameTags::value(std::string_view name) const {
    for (auto it = tags_.rbegin(); it != tags_.rend(); ++it)
        if (slice(data_, it->name_begin, it->name_end) == name)
            return unescape(slice(data_, it->value_begin, it->value_end));
    return std::nullopt;
}

void walk_games(std::string_view data, std::uint64_t first_game, const WalkOptions& options,
                WalkedChunk& out) {
    Walker(data, first_game, options, out).walk();
}

}  // namespace pgn
