#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "annotations.h"
#include "splitter.h"
#include "tokens.h"
#include "walk.h"

namespace {

// A row without its source, game and FEN: ply, UCI, SAN, check, exchange value, legal moves,
// result, clock, evaluation, mate, separated by spaces ("." for an empty cell).
std::vector<std::string> rows_of(const pgn::WalkedChunk& c) {
    std::vector<std::string> out;
    std::size_t row = 0;
    for (std::size_t g = 0; g < c.games(); ++g)
        for (; row < std::size_t(c.row_ends[g]); ++row) {
            const auto cell = [](std::string_view text) {
                return text.empty() ? std::string(".") : std::string(text);
            };
            std::string clock;
            if (c.clock.present(row)) pgn::append_seconds(clock, c.clock.values[row]);
            out.push_back(std::to_string(c.game.values[g]) + ":" +
                          std::to_string(c.ply.values[row]) + " " + cell(c.uci[row]) + " " +
                          cell(c.san[row]) + " " + (c.check[row] ? "1" : "0") + " " +
                          (c.see.present(row) ? std::to_string(c.see.values[row]) : ".") + " " +
                          std::to_string(c.legal_moves.values[row]) + " " + cell(c.result[g]) +
                          " " + cell(clock) + " " +
                          (c.eval.present(row) ? std::to_string(c.eval.values[row]) : ".") + " " +
                          (c.mate.present(row) ? std::to_string(c.mate.values[row]) : "."));
        }
    return out;
}

std::vector<std::string> problems_of(const pgn::WalkedChunk& c) {
    std::vector<std::string> out;
    for (const pgn::Problem& p : c.problems)
        out.push_back(std::to_string(p.game) + ":" + std::to_string(p.ply) + " " + p.text + " | " +
                      p.message);
    return out;
}

struct WalkCase {
    const char* name;
    std::string pgn;
    std::vector<std::string> rows;
    std::vector<std::string> problems;
};

class WalkTable : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkTable, RowsAndProblems) {
    pgn::WalkedChunk walked;
    pgn::walk_games(GetParam().pgn, 1, pgn::WalkOptions{}, walked);
    EXPECT_EQ(rows_of(walked), GetParam().rows);
    EXPECT_EQ(problems_of(walked), GetParam().problems);
}

// Splitting at every block size, with a chunk a game, gives the same rows and problems.
TEST_P(WalkTable, SplittingChangesNothing) {
    const std::string& text = GetParam().pgn;
    for (std::size_t block = 1; block <= text.size(); block += block < 16 ? 1 : 7) {
        pgn::Splitter splitter(1);
        std::vector<pgn::Chunk> chunks;
        for (std::size_t at = 0; at < text.size(); at += block)
            splitter.feed(std::string_view(text).substr(at, block), chunks);
        splitter.finish(chunks);
        pgn::WalkedChunk walked;
        for (const pgn::Chunk& chunk : chunks)
            pgn::walk_games(chunk.bytes, chunk.first_game, pgn::WalkOptions{}, walked);
        ASSERT_EQ(rows_of(walked), GetParam().rows) << "block " << block;
        ASSERT_EQ(problems_of(walked), GetParam().problems) << "block " << block;
    }
}

const std::string MATE = "1. f3 e5 2. g4 Qh4# 0-1";
const std::string CHESS960 =
    "[Variant \"Chess 960\"]\n[FEN \"nbbrknrq/pppppppp/8/8/8/8/PPPPPPPP/NBBRKNRQ w KQkq - 0 "
    "1\"]\n\n";

INSTANTIATE_TEST_SUITE_P(
    Snippets, WalkTable,
    ::testing::Values(
        WalkCase{"mate_and_counts",
                 MATE,
                 {"1:1 f2f3 f3 0 0 20 0-1 . . .", "1:2 e7e5 e5 0 0 20 0-1 . . .",
                  "1:3 g2g4 g4 0 0 19 0-1 . . .", "1:4 d8h4 Qh4# 1 0 30 0-1 . . ."},
                 {}},
        // Numbers glued to moves, black's numbers, annotations, NAGs, variations, comments of
        // every kind, CRLF and a byte-order mark change nothing.
        WalkCase{"decorations",
                 "\xEF\xBB\xBF%escape 0-1\r\n1.f3! $1 (1. e4 e5 (1... c5 2. Nf3) 2. Nf3) 1... e5 "
                 "{ 1-0 ( } ; 0-1 ) \r\n2.g4 ?? +- N e.p. \xC2\xB1 2...Qh4# 0-1",
                 {"1:1 f2f3 f3 0 0 20 0-1 . . .", "1:2 e7e5 e5 0 0 20 0-1 . . .",
                  "1:3 g2g4 g4 0 0 19 0-1 . . .", "1:4 d8h4 Qh4# 1 0 30 0-1 . . ."},
                 {}},
        // Unicode white space separates tokens; digits of any script make move numbers.
        WalkCase{"unicode_space_and_digits",
                 "1.\xC2\xA0"
                 "e4\xE3\x80\x80\xD9\xA1...\xE2\x80\x83"
                 "e5\xC2\xA0*",
                 {"1:1 e2e4 e4 0 0 20 * . . .", "1:2 e7e5 e5 0 0 20 * . . ."},
                 {}},
        WalkCase{"annotations",
                 "1. e4 { [%eval 0.17] [%clk 0:03:00] } e5 { [%clk 0:02:59.5] [%eval -1.45,22] } "
                 "2. Nf3 { [%eval #-3] } { [%eval 0.125] } Nc6 { [%clk 1:00:00] } { [%eval #4] } "
                 "3. Bb5 { [%clk 0:00:00.00001] [%eval 0.375] } { no tags } *",
                 {"1:1 e2e4 e4 0 0 20 * 180.0 17 .", "1:2 e7e5 e5 0 0 20 * 179.5 -145 .",
                  "1:3 g1f3 Nf3 0 0 29 * . 12 .", "1:4 b8c6 Nc6 0 0 29 * . . 4",
                  "1:5 f1b5 Bb5 0 0 27 * 1e-05 38 ."},
                 {}},
        WalkCase{
            "null_moves",
            "1. e4 -- 2. d4 Z0 3. Nf3 0000 4. Bb5 @@@@ *",
            {"1:1 e2e4 e4 0 0 20 * . . .", "1:2 . . 0 . 20 * . . .", "1:3 d2d4 d4 0 0 30 * . . .",
             "1:4 . . 0 . 20 * . . .", "1:5 g1f3 Nf3 0 0 38 * . . .", "1:6 . . 0 . 20 * . . .",
             "1:7 f1b5 Bb5 0 0 36 * . . .", "1:8 . . 0 . 17 * . . ."},
            {}},
        WalkCase{"exchange_and_en_passant",
                 "1. e4 d5 2. exd5 Qxd5 3. Nc3 Qe5+ 4. Qe2 Qxe2+ 5. Bxe2 e5 6. d4 e4 7. f4 "
                 "exf3 e.p. 1/2-1/2",
                 {"1:1 e2e4 e4 0 0 20 1/2-1/2 . . .", "1:2 d7d5 d5 0 0 20 1/2-1/2 . . .",
                  "1:3 e4d5 exd5 0 0 31 1/2-1/2 . . .", "1:4 d8d5 Qxd5 0 100 28 1/2-1/2 . . .",
                  "1:5 b1c3 Nc3 0 0 29 1/2-1/2 . . .", "1:6 d5e5 Qe5+ 1 0 47 1/2-1/2 . . .",
                  "1:7 d1e2 Qe2 0 0 5 1/2-1/2 . . .", "1:8 e5e2 Qxe2+ 1 0 43 1/2-1/2 . . .",
                  "1:9 f1e2 Bxe2 0 900 4 1/2-1/2 . . .", "1:10 e7e5 e5 0 0 26 1/2-1/2 . . .",
                  "1:11 d2d4 d4 0 -100 32 1/2-1/2 . . .", "1:12 e5e4 e4 0 -100 33 1/2-1/2 . . .",
                  "1:13 f2f4 f4 0 0 37 1/2-1/2 . . .", "1:14 e4f3 exf3 0 0 33 1/2-1/2 . . ."},
                 {}},
        // Without a result the game is walked, its result from the Result tag or unknown; the
        // next game's tags end it as the end of the input does.
        WalkCase{"no_result",
                 "[Result \"0-1\"]\n1. e4\n[Event \"b\"]\n1. d4",
                 {"1:1 e2e4 e4 0 0 20 0-1 . . .", "2:1 d2d4 d4 0 0 20 * . . ."},
                 {}},
        WalkCase{"chess960_fen_tag",
                 CHESS960 + "1. g3 g6 2. Ne3 Ne6 3. O-O O-O 1-0",
                 {"1:1 g2g3 g3 0 0 19 1-0 . . .", "1:2 g7g6 g6 0 0 19 1-0 . . .",
                  "1:3 f1e3 Ne3 0 0 24 1-0 . . .", "1:4 f8e6 Ne6 0 0 24 1-0 . . .",
                  "1:5 e1g1 O-O 0 0 30 1-0 . . .", "1:6 e8g8 O-O 0 0 30 1-0 . . ."},
                 {}},
        // Each kind of fault, reported where the Python reader reported it; the games around
        // keep their numbers.
        WalkCase{"faults",
                 "1. e4 *\n1. e4 e5 2. Nf9 *\n1. e4 N\xFF"
                 "c6 2. Nf9 *\n1. e4 ] *\n"
                 "[Variant \"Crazyhouse\"]\n1. e4 *\n[FEN \"8/8/8/8/8/8/8/8 w - - 0 1\"]\n1. e4 *\n"
                 "[FEN \"1r2k1r1/8/8/8/8/8/8/4K3 w Qk - 0 1\"]\n1. Kd1 *\n1. e4 f6 2. Qh5+ -- *\n"
                 "1. d4 { open",
                 {"1:1 e2e4 e4 0 0 20 * . . ."},
                 {"2:3 Nf9 | no legal move matches SAN 'Nf9'",
                  "3:2 N\\xffc6 | byte 0xff is not UTF-8", "4:2 ] | not PGN movetext",
                  "5:0 [Variant \"Crazyhouse\"] | not chess: only standard chess and Chess960 are "
                  "walked",
                  "6:0 8/8/8/8/8/8/8/8 w - - 0 1 | bad FEN: InvalidBoard",
                  "7:0 1r2k1r1/8/8/8/8/8/8/4K3 w Qk - 0 1 | bad FEN: InvalidCastlingRights",
                  "8:4 -- | null move illegal (in check)",
                  "9:1 d4 | truncated: no result before the end of the file"}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

// A game longer than the longest is reported cut, the same whole or split, and the games
// after it are walked; held in memory it is not, as the chunks show. What is reported of it
// comes from its tokens within the bound: a tag or wide white space across the bound, read
// as if the text ended there, would show a result inside the tag, or a stray byte.
TEST(WalkLongGames, AreCutAtTheBoundAlike) {
    constexpr std::size_t LONGEST = 64;
    pgn::WalkOptions options;
    options.longest_game = LONGEST;
    const std::string wide_space = "\xE3\x80\x80";
    std::string spaces;
    for (int i = 0; i < 30; ++i) spaces += wide_space;
    const std::string text = "1. e4 *\n1. d4 { " + std::string(200, 'x') + " } d5 2. c4 *\n" +
                             "1. e4 " + std::string(300, ' ') + "e5 *\n[A \"" +
                             std::string(50, 'a') + " * " + std::string(30, 'b') +
                             "\"]\n1. e4 *\n1. d4" + spaces + "d5 *\n[Event \"last\"]\n1. c4 *";
    pgn::WalkedChunk whole;
    pgn::walk_games(text, 1, options, whole);
    const std::vector<std::string> cut = {"2:1 d4 | truncated: game longer than 64 bytes",
                                          "3:1 e4 | truncated: game longer than 64 bytes",
                                          "4:0  | truncated: game longer than 64 bytes",
                                          "5:1 d4 | truncated: game longer than 64 bytes"};
    EXPECT_EQ(problems_of(whole), cut);
    EXPECT_EQ(rows_of(whole), (std::vector<std::string>{"1:1 e2e4 e4 0 0 20 * . . .",
                                                        "6:1 c2c4 c4 0 0 20 * . . ."}));
    for (const std::size_t block : {1, 5, 64, 1000}) {
        pgn::Splitter splitter(1000, pgn::CHUNK_BYTES, LONGEST);
        std::vector<pgn::Chunk> chunks;
        for (std::size_t at = 0; at < text.size(); at += block)
            splitter.feed(std::string_view(text).substr(at, block), chunks);
        splitter.finish(chunks);
        pgn::WalkedChunk walked;
        for (const pgn::Chunk& chunk : chunks) {
            EXPECT_LE(chunk.bytes.size(), 2 * LONGEST + 40) << "block " << block;
            pgn::walk_games(chunk.bytes, chunk.first_game, options, walked);
        }
        EXPECT_EQ(problems_of(walked), cut) << "block " << block;
        EXPECT_EQ(rows_of(walked), rows_of(whole)) << "block " << block;
    }
}

// The tokens of a text read whole, where the common ones are read at once, are those of the
// text handed over a byte at a time, where every token waits for the bytes that settle it.
TEST(WalkTokens, WholeAsFedByteByByte) {
    const std::vector<std::string> pieces = {"1.",        "12...",
                                             "1",         "0",
                                             ".",         "1-0",
                                             "1-0x",      "0-1",
                                             "1/2-1/2",   "1/2",
                                             "*",         "*x",
                                             " ",         "\n",
                                             "\r\n",      "e4",
                                             "Nf3",       "O-O-O",
                                             "exd8=Q+",   "{c}",
                                             "{",         "}",
                                             "$",         "$12",
                                             "(",         ")",
                                             ";x\n",      "%e\n",
                                             "[A \"b\"]", "[",
                                             "]",         "--",
                                             "Z0",        "1.e4",
                                             "\xD9\xA1.", "\xD9\xA1",
                                             "\xC2\xA0",  "\xE3\x80\x80",
                                             "N\xFF",     "\xEF",
                                             "e4!?",      "a\tb",
                                             "\x1c",      "12.\xC2\xA0"};
    std::mt19937 rng(44);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (int i = 0; i < 12; ++i) text += pieces[rng() % pieces.size()];
        const auto tokens_of = [&](bool fed) {
            std::vector<std::string> out;
            pgn::Tokenizer tokens;
            pgn::Token token;
            for (std::size_t size = fed ? 0 : text.size(); size <= text.size(); ++size) {
                const std::string_view data(text.data(), size);
                while (tokens.next(data, size == text.size(), token) ==
                       pgn::Tokenizer::Outcome::Token) {
                    std::ostringstream shown;
                    shown << int(token.kind) << " " << token.text(text) << " " << token.stray;
                    if (token.kind == pgn::TokenKind::Tag)
                        shown << " " << token.name_end - token.name_begin << " "
                              << token.value_end - token.value_begin;
                    out.push_back(shown.str());
                }
            }
            return out;
        };
        ASSERT_EQ(tokens_of(false), tokens_of(true)) << text;
    }
}

// Validity bitmaps grown bit by bit, in runs, set in place and cut back hold what a plain list
// of booleans holds, and the bits past the last of its final byte stay clear.
TEST(WalkColumns, BitsAgreeWithAListOfBooleans) {
    std::mt19937 rng(8);
    for (int round = 0; round < 200; ++round) {
        pgn::Bits bits;
        std::vector<bool> model;
        for (int step = 0; step < 40; ++step) {
            const bool bit = rng() % 2;
            switch (rng() % 4) {
                case 0:
                    bits.push(bit);
                    model.push_back(bit);
                    break;
                case 1: {
                    const std::size_t count = rng() % 20;
                    bits.append(count, bit);
                    model.insert(model.end(), count, bit);
                    break;
                }
                case 2:
                    if (!model.empty()) {
                        const std::size_t i = rng() % model.size();
                        bits.set(i, bit);
                        model[i] = bit;
                    }
                    break;
                default: {
                    const std::size_t size = model.empty() ? 0 : rng() % (model.size() + 1);
                    bits.truncate(size);
                    model.resize(size);
                }
            }
        }
        ASSERT_EQ(bits.size(), model.size());
        for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(bits[i], model[i]) << i;
        ASSERT_EQ(bits.bytes().size(), (model.size() + 7) / 8);
        if (model.size() % 8) {
            EXPECT_EQ(bits.bytes().back() >> (model.size() % 8), 0);
        }
    }
}

// The CSV's numbers are what std::to_string writes, on both sides of every digit count.
TEST(WalkColumns, CsvNumbersAsWritten) {
    const std::vector<std::int64_t> evals = {0,    9,   -9,   10,   -10,   99,     -99,    100,
                                             -100, 999, -999, 1000, -1000, 123456, -123456};
    // Knights out and back, each move with its evaluation in pawns.
    const char* moves[] = {"Nf3", "Nf6", "Ng1", "Ng8"};
    std::string pgn;
    for (std::size_t i = 0; i < evals.size(); ++i) {
        const std::int64_t size = std::abs(evals[i]);
        pgn += std::string(moves[i % 4]) + " { [%eval " + (evals[i] < 0 ? "-" : "") +
               std::to_string(size / 100) + "." + (size % 100 < 10 ? "0" : "") +
               std::to_string(size % 100) + "] } ";
    }
    pgn += "*";
    pgn::WalkOptions options;
    options.columns = pgn::ColumnSet::none().with(pgn::Column::Ply).with(pgn::Column::Eval);
    pgn::WalkedChunk walked;
    pgn::walk_games(pgn, 1, options, walked);
    std::string csv, expected;
    pgn::write_csv(walked, options.columns, "s", csv);
    for (std::size_t i = 0; i < evals.size(); ++i)
        expected += std::to_string(i + 1) + "," + std::to_string(evals[i]) + "\n";
    EXPECT_EQ(csv, expected);
}

// Python's repr of the clock's double: whole seconds with ".0", as every other clock has a point.
struct ClockCase {
    double seconds;
    const char* text;
};

class ClockText : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ClockText, AsPythonWroteIt) {
    std::string text;
    pgn::append_seconds(text, GetParam().seconds);
    EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, ClockText,
                         ::testing::Values(ClockCase{180, "180.0"}, ClockCase{179.5, "179.5"},
                                           ClockCase{900 + 16.8, "916.8"},
                                           ClockCase{0.1 + 0.2, "0.30000000000000004"},
                                           ClockCase{0.0001, "0.0001"}, ClockCase{1e-05, "1e-05"},
                                           ClockCase{1e15, "1000000000000000.0"},
                                           ClockCase{1e16, "1e+16"}, ClockCase{1e20, "1e+20"}));

}  // namespace

namespace {

// The hooks the walk keeps for tables of chosen columns and games: a column not asked for is
// not written (a line of one empty cell is written as the csv module writes it, in quotes), and
// a game its tags turn down is neither walked nor reported.
TEST(WalkChoices, ColumnsAndGamesAskedFor) {
    pgn::WalkOptions options;
    options.columns = pgn::ColumnSet::none().with(pgn::Column::Uci);
    options.keep = [](const pgn::GameTags& tags, void*) { return tags.value("White") != "x"; };
    pgn::WalkedChunk walked;
    pgn::walk_games("[White \"x\"] 1. e4 *\n[White \"y\"] 1. d4 -- *\n[White \"x\"] 1. Nf9 *", 1,
                    options, walked);
    EXPECT_EQ(walked.games_filtered, 2u);
    EXPECT_TRUE(walked.problems.empty());
    std::string csv;
    pgn::write_csv(walked, options.columns, "s", csv);
    EXPECT_EQ(csv, "d2d4\n\"\"\n");
    options.columns = options.columns.with(pgn::Column::Game).with(pgn::Column::Check);
    csv.clear();
    pgn::write_csv(walked, options.columns, "s", csv);
    EXPECT_EQ(csv, "2,d2d4,0\n2,,0\n");
}

}  // namespace
