#include "columns.h"

#include <charconv>
#include <cstring>

#include "chess/fen.h"

#include "annotations.h"
#include "text.h"

namespace pgn {

void Bits::truncate(std::size_t size) {
    if (size >= size_) return;
    size_ = size;
    bytes_.resize((size + 7) / 8);
    if (size % 8) bytes_.back() &= std::uint8_t((1u << (size % 8)) - 1);
}

void WalkedChunk::truncate_rows(std::size_t rows) {
    ply.truncate(rows);
    fen.truncate(rows);
    uci.truncate(rows);
    san.truncate(rows);
    check.truncate(rows);
    see.truncate(rows);
    legal_moves.truncate(rows);
    clock.truncate(rows);
    eval.truncate(rows);
    mate.truncate(rows);
}

void WalkedChunk::clear() {
    truncate_rows(0);
    game.clear();
    row_ends.clear();
    result.clear();
    for (Texts& tag : tags) tag.clear();
    problems.clear();
    games_filtered = 0;
}

namespace {

// A field as the csv module writes it with its default dialect and minimal quoting.
void append_field(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

template <class Int>
void append_int(std::string& out, Int value) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

template <class Int>
char* write_int(char* out, Int value) {
    return std::to_chars(out, out + 24, value).ptr;
}

char* write_text(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The longest a row's cells of the move can be, clock aside: ply, FEN, UCI, SAN with its sign,
// check, exchange value, legal moves, evaluation, mate, and the commas between all cells.
constexpr std::size_t MOVE_CELLS = 11 + chess::MAX_FEN_LENGTH + 8 + 16 + 1 + 11 + 11 + 20 + 20 + 16;

}  // namespace

// Each row is written into a buffer of its own, its cells placed with a cursor, and appended
// to the output whole: per cell a copy, not a call that checks the output's room.
void write_csv(const WalkedChunk& chunk, ColumnSet columns, std::string_view source,
               std::string& out) {
    std::string source_cell, game_cell, result_cell, tag_cells, clock_cell;
    std::vector<char> line;
    append_field(source_cell, printable(source));
    const auto has = [&](Column c) { return columns.has(c); };
    const std::size_t fields = std::size_t(chess::popcount(columns.bits)) + chunk.tags.size();
    out.reserve(out.size() + chunk.rows() * (source_cell.size() + 120));
    std::size_t row = 0;
    for (std::size_t g = 0; g < chunk.games(); ++g) {
        // What every row of the game repeats, made once.
        game_cell.clear();
        append_int(game_cell, chunk.game.values[g]);
        result_cell.clear();
        append_field(result_cell, chunk.result[g]);
        tag_cells.clear();
        for (const Texts& tag : chunk.tags) {
            tag_cells += ',';
            append_field(tag_cells, tag[g]);
        }
        for (const std::size_t end = std::size_t(chunk.row_ends[g]); row < end; ++row) {
            clock_cell.clear();
            if (has(Column::Clock) && chunk.clock.present(row))
                append_seconds(clock_cell, chunk.clock.values[row]);
            const std::size_t longest = source_cell.size() + game_cell.size() + result_cell.size() +
                                        clock_cell.size() + tag_cells.size() + MOVE_CELLS + 4;
            if (line.size() < longest) line.resize(longest);
            char* const start = line.data();
            char* p = start;
            // Each cell asked for, a comma before all but the first.
            bool first = true;
            const auto next = [&](Column c) {
                if (!has(c)) return false;
                if (!first) *p++ = ',';
                first = false;
                return true;
            };
            if (next(Column::Source)) p = write_text(p, source_cell);
            if (next(Column::Game)) p = write_text(p, game_cell);
            if (next(Column::Ply)) p = write_int(p, chunk.ply.values[row]);
            if (next(Column::Fen)) p = write_text(p, chunk.fen[row]);
            if (next(Column::Uci)) p = write_text(p, chunk.uci[row]);
            if (next(Column::San)) p = write_text(p, chunk.san[row]);
            if (next(Column::Check)) *p++ = chunk.check[row] ? '1' : '0';
            if (next(Column::See) && chunk.see.present(row))
                p = write_int(p, chunk.see.values[row]);
            if (next(Column::LegalMoves)) p = write_int(p, chunk.legal_moves.values[row]);
            if (next(Column::Result)) p = write_text(p, result_cell);
            if (next(Column::Clock)) p = write_text(p, clock_cell);
            if (next(Column::Eval) && chunk.eval.present(row))
                p = write_int(p, chunk.eval.values[row]);
            if (next(Column::Mate) && chunk.mate.present(row))
                p = write_int(p, chunk.mate.values[row]);
            // The tags' cells come with their commas; after no other cell, the first goes.
            const std::size_t skip = first && !tag_cells.empty() ? 1 : 0;
            p = write_text(p, slice(tag_cells, skip, tag_cells.size()));
            // A line of one empty field would read back as no field at all.
            if (fields == 1 && p == start) p = write_text(p, "\"\"");
            *p++ = '\n';
            out.append(start, p);
        }
    }
}

std::string_view reason_text(Reason reason) {
    switch (reason) {
        case Reason::MoveNotLegal: return "move not legal";
        case Reason::NullMoveInCheck: return "null move in check";
        case Reason::FenTagRefused: return "FEN tag refused";
        case Reason::NotChess: return "not chess";
        case Reason::NotUtf8: return "not UTF-8";
        case Reason::NotPgn: return "not PGN";
        case Reason::CutOff: return "cut off";
    }
    return "";
}

}  // namespace pgn
