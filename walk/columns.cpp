#include "columns.h"

#include <array>
#include <charconv>
#include <cstring>

#include "chess/fen.h"

#include "annotations.h"
#include "text.h"

namespace pgn {

void Bits::append(std::size_t count, bool bit) {
    if (count == 0) return;
    // The last byte's unused bits are always 0, so a run of 1s fills them first.
    if (bit && size_ % 8) bytes_.back() |= std::uint8_t(0xFF << (size_ % 8));
    size_ += count;
    bytes_.resize((size_ + 7) / 8, bit ? 0xFF : 0);
    if (size_ % 8) bytes_.back() &= std::uint8_t((1u << (size_ % 8)) - 1);
}

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

// "00" to "99".
constexpr std::array<char, 200> DIGIT_PAIRS = [] {
    std::array<char, 200> t{};
    for (unsigned v = 0; v < 100; ++v) {
        t[2 * v] = char('0' + v / 10);
        t[2 * v + 1] = char('0' + v % 10);
    }
    return t;
}();

// An integer in decimal, as to_chars writes it; the cells' usual values, below 1,000 either
// way, without its general loop.
template <class Int>
inline char* write_int(char* out, Int value) {
    if (value <= -1000 || value >= 1000) return std::to_chars(out, out + 24, value).ptr;
    if (value < 0) *out++ = '-';
    unsigned v = unsigned(value < 0 ? -value : value);
    if (v >= 100) {
        *out++ = char('0' + v / 100);
        v %= 100;
        std::memcpy(out, &DIGIT_PAIRS[2 * v], 2);
        return out + 2;
    }
    if (v >= 10) {
        std::memcpy(out, &DIGIT_PAIRS[2 * v], 2);
        return out + 2;
    }
    *out = char('0' + v);
    return out + 1;
}

// Copies a cell's text. Short ones (moves, numbers, results) go in overlapping fixed-size
// copies instead of a call.
inline char* write_text(char* out, std::string_view text) {
    const std::size_t n = text.size();
    const char* from = text.data();
    if (n > 16) {
        std::memcpy(out, from, n);
    } else if (n >= 8) {
        std::memcpy(out, from, 8);
        std::memcpy(out + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + n - 4, from + n - 4, 4);
    } else if (n > 0) {
        out[0] = from[0];
        out[n / 2] = from[n / 2];
        out[n - 1] = from[n - 1];
    }
    return out + n;
}

// The longest a row's cells of the move can be, clock aside: ply, FEN, UCI, SAN with its sign,
// check, exchange value, legal moves, evaluation, mate, and the commas between all cells.
constexpr std::size_t MOVE_CELLS = 11 + chess::MAX_FEN_LENGTH + 8 + 16 + 1 + 11 + 11 + 20 + 20 + 16;

}  // namespace

// Each row is written into a buffer of its own, its cells placed with a cursor, and appended
// to the output whole: per cell a copy, not a call that checks the output's room.
void write_csv(const WalkedChunk& chunk, ColumnSet columns, std::string_view source,
               std::string& out) {
    std::string source_cell, lead_cells, result_cell, tag_cells, clock_cell;
    std::vector<char> line;
    append_field(source_cell, printable(source));
    const struct {
        bool source, game, ply, fen, uci, san, check, see, legal_moves, result, clock, eval, mate;
    } has{columns.has(Column::Source), columns.has(Column::Game),  columns.has(Column::Ply),
          columns.has(Column::Fen),    columns.has(Column::Uci),   columns.has(Column::San),
          columns.has(Column::Check),  columns.has(Column::See),   columns.has(Column::LegalMoves),
          columns.has(Column::Result), columns.has(Column::Clock), columns.has(Column::Eval),
          columns.has(Column::Mate)};
    const std::size_t fields = std::size_t(chess::popcount(columns.bits)) + chunk.tags.size();
    out.reserve(out.size() + chunk.rows() * (source_cell.size() + 120));
    std::size_t row = 0;
    for (std::size_t g = 0; g < chunk.games(); ++g) {
        // What every row of the game repeats, made once: the cells before the move's, with
        // their commas, the result and the tags.
        lead_cells.clear();
        if (has.source) lead_cells.append(source_cell).append(1, ',');
        if (has.game) append_int(lead_cells, chunk.game.values[g]), lead_cells += ',';
        result_cell.clear();
        append_field(result_cell, chunk.result[g]);
        tag_cells.clear();
        for (const Texts& tag : chunk.tags) {
            append_field(tag_cells, tag[g]);
            tag_cells += ',';
        }
        const std::size_t game_longest =
            lead_cells.size() + result_cell.size() + tag_cells.size() + MOVE_CELLS + 4;
        for (const std::size_t end = std::size_t(chunk.row_ends[g]); row < end; ++row) {
            clock_cell.clear();
            if (has.clock && chunk.clock.present(row))
                append_seconds(clock_cell, chunk.clock.values[row]);
            const std::size_t longest = game_longest + clock_cell.size();
            if (line.size() < longest) line.resize(longest);
            char* const start = line.data();
            char* p = start;
            // Each cell asked for, followed by a comma; the last comma ends the line instead.
            const auto text = [&p](std::string_view cell) {
                p = write_text(p, cell);
                *p++ = ',';
            };
            const auto number = [&p](const auto& column, std::size_t i) {
                if (column.present(i)) p = write_int(p, column.values[i]);
                *p++ = ',';
            };
            p = write_text(p, lead_cells);
            if (has.ply) number(chunk.ply, row);
            if (has.fen) text(chunk.fen[row]);
            if (has.uci) text(chunk.uci[row]);
            if (has.san) text(chunk.san[row]);
            if (has.check) *p++ = chunk.check[row] ? '1' : '0', *p++ = ',';
            if (has.see) number(chunk.see, row);
            if (has.legal_moves) number(chunk.legal_moves, row);
            if (has.result) text(result_cell);
            if (has.clock) text(clock_cell);
            if (has.eval) number(chunk.eval, row);
            if (has.mate) number(chunk.mate, row);
            p = write_text(p, tag_cells);
            // A line of one empty field would read back as no field at all.
            if (fields == 1 && p == start + 1) p = write_text(start, "\"\",");
            if (p == start) ++p;
            p[-1] = '\n';
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
