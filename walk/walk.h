// Walking games: from the bytes of whole PGN games to their rows, one row a move of each main
// line, and a problem for each game that cannot be walked. Per game one board is kept from
// move to move: each SAN is read with the core's matching, the move played in place, and the
// columns written from the board (no FEN text is read between moves).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "columns.h"
#include "games.h"

namespace pgn {

struct TagText {
    std::size_t name_begin, name_end, value_begin, value_end;
};

// A game's tags as read, before any of its moves.
class GameTags {
  public:
    GameTags(std::string_view data, const std::vector<TagText>& tags) : data_(data), tags_(tags) {}
    // The value last given to `name`, its escapes (a backslash before a character) taken out;
    // nothing when the game has no such tag. Bytes that are not UTF-8 are kept as they are.
    std::optional<std::string> value(std::string_view name) const;

  private:
    std::string_view data_;
    const std::vector<TagText>& tags_;
};

struct WalkOptions {
    ColumnSet columns;
    std::vector<std::string> tags;  // the tags to add as columns, by name
    // Decides from a game's tags, before any of its moves is read, whether it is walked; a
    // game turned down is counted in games_filtered, neither walked nor reported. None: all.
    bool (*keep)(const GameTags& tags, void* context) = nullptr;
    void* keep_context = nullptr;
    std::size_t longest_game = LONGEST_GAME;
    // Where each game of the data begins, rising, as the splitter found them (none: not
    // known). A game turned down is left there, at the next game's start, unread.
    std::span<const std::uint32_t> game_starts;
};

// Walks the games of `data` (whole games as the splitter hands them on, or a whole input),
// numbered from `first_game`, appending to `out`.
void walk_games(std::string_view data, std::uint64_t first_game, const WalkOptions& options,
                WalkedChunk& out);

}  // namespace pgn
