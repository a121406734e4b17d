// Cutting one input's bytes, fed in blocks of any size, into chunks of whole games for the
// workers to walk. It reads every token, as the walk does, so that it cuts only where the walk
// would see one game end and the next begin: walking the chunks one after another gives the
// rows of walking the whole input.
//
// Memory stays bounded whatever the input: a chunk is handed on once it holds about
// `chunk_moves` moves or `chunk_bytes` bytes of whole games; a game longer than
// `longest_game` is handed on alone, cut at that length (its tokens within it, then a comment
// left open: the walk reports it), and the rest of it is read without being kept; comments,
// escape lines and white space between games are read without being kept once they grow
// large (one white space byte stands in for them). A chunk's bytes are the input's but for
// these and for the byte-order mark, which the first chunk keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "games.h"
#include "tokens.h"

namespace pgn {

struct Chunk {
    std::string bytes;
    std::uint64_t first_game;  // the number of its first game in the input, from 1
    // Where its bytes stand in the input, when they are the input's as they stand there (all
    // but a cut game's chunk and one after a long stretch between games): a reader of the
    // input itself can take them from there. Without kept bytes, such a chunk's are left out.
    std::uint64_t begin = 0, end = 0;
    bool verbatim = false;
    // Where each of its games begins in its bytes, rising (none for a cut game's chunk): the
    // walk leaves a game its tags turn down at the next one's start, unread.
    std::vector<std::uint32_t> game_starts;
};

// A chunk is handed on at the end of the game that brings it to this size, whatever its moves.
constexpr std::size_t CHUNK_BYTES = std::size_t(4) << 20;

class Splitter {
  public:
    explicit Splitter(std::uint64_t chunk_moves, std::size_t chunk_bytes = CHUNK_BYTES,
                      std::size_t longest_game = LONGEST_GAME, bool keep_verbatim = true);

    // Appends to `out` the chunks that the input so far completes.
    void feed(std::string_view bytes, std::vector<Chunk>& out);
    // At the end of the input: the rest.
    void finish(std::vector<Chunk>& out);

  private:
    void scan(bool final, std::vector<Chunk>& out);
    void take(const Token& token, std::vector<Chunk>& out);
    std::size_t bound() const { return game_start_ + longest_game_ + 1; }
    void start_game(std::size_t at);
    void end_game(std::size_t end, std::vector<Chunk>& out);
    void cut(std::vector<Chunk>& out);
    void emit(std::size_t end, std::vector<Chunk>& out);
    void drop(std::size_t count);
    void forget_between_games(std::vector<Chunk>& out);
    bool open(bool final);

    const std::uint64_t chunk_moves_;
    const std::size_t chunk_bytes_;
    const std::size_t longest_game_;
    const bool keep_verbatim_;

    std::string pending_;   // the input from the start of the chunk being gathered
    std::size_t base_ = 0;  // the place of pending_'s first byte in the input
    Tokenizer tokens_;
    GameState game_;
    bool opened_ = false;      // the byte-order mark has been looked for
    bool byte_order_ = false;  // and found: the first chunk is handed on with it
    std::size_t mark_ = 0;     // the byte-order mark's size, taken off the input's start
    bool altered_ = false;     // pending_'s first byte stands for what was between games
    // Places in the input (pending_ holds them from base_ on).
    std::size_t game_start_ = 0;  // the unfinished game's first token, once it has one
    std::size_t shown_end_ = 0;   // and the end of its last token within the bound
    std::size_t last_end_ = 0;    // the end of pending_'s last finished game, or its start
    std::uint64_t number_ = 1;    // the unfinished game's number
    std::uint64_t first_ = 1;     // pending_'s first game's number
    std::uint64_t moves_ = 0;     // of pending_'s finished games, one more for each game
    std::uint64_t game_moves_ = 0;
    std::vector<std::size_t> starts_;  // places in the input of pending_'s finished games
    bool cut_ = false;  // the unfinished game was handed on cut: its rest is read, not kept
};

}  // namespace pgn
