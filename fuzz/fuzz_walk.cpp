// The game walk on any bytes: tokens, the splitter and the walk together. The first four
// bytes choose the chunk size in moves, the longest a game may be (small, so that cut games
// come up), the chunk size in bytes and the block sizes the input is fed in; the rest is the
// PGN.
//
// Checked: walking the splitter's chunks one after another gives the rows, problems and counts
// of walking the whole input; the chunks hold each input byte at most once (a cut game's lead
// byte and the byte-order mark aside); the CSV is well formed, a record of 14 fields (13
// columns and a tag) for each row.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "checks.h"
#include "filter.h"
#include "splitter.h"
#include "walk.h"

namespace {

struct Walked {
    std::string csv;
    std::vector<pgn::Problem> problems;
    std::size_t games = 0, rows = 0, filtered = 0;
};

void walk_into(Walked& out, std::string_view data, std::uint64_t first,
               const pgn::WalkOptions& options) {
    pgn::WalkedChunk chunk;
    pgn::walk_games(data, first, options, chunk);
    pgn::write_csv(chunk, options.columns, "in.pgn", out.csv);
    out.problems.insert(out.problems.end(), chunk.problems.begin(), chunk.problems.end());
    out.games += chunk.games();
    out.rows += chunk.rows();
    out.filtered += chunk.games_filtered;
}

std::string shown(const std::vector<pgn::Problem>& problems) {
    std::string out;
    for (const pgn::Problem& p : problems)
        out += std::to_string(p.game) + ":" + std::to_string(p.ply) + " " + p.text + " | " +
               p.message + "\n";
    return out;
}

// The records of CSV text as the csv module reads them: fields apart at commas outside quotes,
// records at line feeds outside quotes, a quote inside quotes doubled.
std::vector<std::size_t> field_counts(std::string_view csv) {
    std::vector<std::size_t> counts;
    std::size_t fields = 1;
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            ++fields;
        } else if (c == '\n') {
            counts.push_back(fields);
            fields = 1;
        }
    }
    fuzz::require(!quoted && fields == 1, "the CSV ends inside a record");
    return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 4) return 0;
    const std::uint64_t chunk_moves = 1 + bytes[0] % 32;
    pgn::WalkOptions options;
    options.longest_game = bytes[1] < 200 ? 16 + std::size_t(bytes[1]) * 4 : pgn::LONGEST_GAME;
    options.tags = {"White"};
    const std::size_t chunk_bytes = std::size_t(32) << (bytes[2] % 12);
    std::uint32_t blocks = bytes[3] * 2654435761u;
    const std::string_view data(reinterpret_cast<const char*>(bytes) + 4, size - 4);

    fuzz::guarded([&] {
        Walked whole;
        walk_into(whole, data, 1, options);

        pgn::Splitter splitter(chunk_moves, chunk_bytes, options.longest_game);
        std::vector<pgn::Chunk> chunks;
        for (std::size_t at = 0; at < data.size();) {
            blocks = blocks * 1103515245u + 12345u;
            const std::size_t block = 1 + (blocks >> 16) % 97;
            splitter.feed(data.substr(at, block), chunks);
            at += block;
        }
        splitter.finish(chunks);
        Walked split;
        std::size_t held = 0;
        std::uint64_t next = 1;
        // A filter by tags, walked with the places where the chunk's games begin (each game
        // turned down left unread there) and without them (each one read through).
        std::string why;
        const std::vector<pgn::Condition> where = {*pgn::read_condition("White~a", why)};
        pgn::WalkOptions filtered = options;
        filtered.keep = pgn::meets_conditions;
        filtered.keep_context = const_cast<std::vector<pgn::Condition>*>(&where);
        for (const pgn::Chunk& chunk : chunks) {
            fuzz::require(chunk.first_game >= next, "chunks out of order");
            next = chunk.first_game;
            held += chunk.bytes.size();
            walk_into(split, chunk.bytes, chunk.first_game, options);
            if (chunk.verbatim)
                fuzz::require(data.substr(chunk.begin, chunk.end - chunk.begin) == chunk.bytes,
                              "a verbatim chunk's place holds other bytes", fuzz::escaped(data));
            Walked read, left;
            walk_into(read, chunk.bytes, chunk.first_game, filtered);
            pgn::WalkOptions jumping = filtered;
            jumping.game_starts = chunk.game_starts;
            walk_into(left, chunk.bytes, chunk.first_game, jumping);
            fuzz::require(left.csv == read.csv && shown(left.problems) == shown(read.problems) &&
                              left.filtered == read.filtered,
                          "games left at their next game's start walk otherwise",
                          fuzz::escaped(chunk.bytes));
        }
        fuzz::require(held <= data.size() + 3 * chunks.size() + 3, "the chunks repeat bytes",
                      std::to_string(held) + " of " + std::to_string(data.size()));

        const std::string detail = fuzz::escaped(data);
        fuzz::require(split.csv == whole.csv, "split rows differ from whole",
                      detail + "\nwhole:\n" + fuzz::escaped(whole.csv) + "\nsplit:\n" +
                          fuzz::escaped(split.csv));
        fuzz::require(
            shown(split.problems) == shown(whole.problems), "split problems differ from whole",
            detail + "\nwhole:\n" + shown(whole.problems) + "split:\n" + shown(split.problems));
        fuzz::require(split.games == whole.games && split.rows == whole.rows,
                      "split counts differ from whole", detail);

        const std::vector<std::size_t> records = field_counts(whole.csv);
        fuzz::require(records.size() == whole.rows, "a CSV record a row", detail);
        for (const std::size_t fields : records)
            fuzz::require(fields == pgn::COLUMN_COUNT + 1, "a CSV record of 14 fields", detail);
    });
    return 0;
}
