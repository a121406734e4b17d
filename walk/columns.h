// A walked chunk's rows held as columns, each in Apache Arrow's memory layout, so that a later
// reader can hand them on as Arrow arrays without converting them: per column a buffer of
// values (bits for booleans), for texts 64-bit offsets and a data buffer (Arrow's large_utf8),
// and a validity bitmap (bit i set when cell i holds a value) where a cell may be empty. What
// is the same for all the rows of a game (its number, its result, its tags) is held once a
// game, with each game's row count; the source is one text for the chunk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pgn {

enum class Column : std::uint8_t {
    Source,
    Game,
    Ply,
    Fen,
    Uci,
    San,
    Check,
    See,
    LegalMoves,
    Result,
    Clock,
    Eval,
    Mate,
};
constexpr std::size_t COLUMN_COUNT = 13;
constexpr std::array<std::string_view, COLUMN_COUNT> COLUMN_NAMES = {
    "source", "game",        "ply",    "fen",   "uci",  "san",  "check",
    "see",    "legal_moves", "result", "clock", "eval", "mate",
};

// The columns asked for: one not asked for is neither computed nor written.
struct ColumnSet {
    std::uint16_t bits = (1u << COLUMN_COUNT) - 1;

    constexpr bool has(Column c) const { return (bits >> unsigned(c)) & 1; }
    static constexpr ColumnSet none() { return ColumnSet{0}; }
    constexpr ColumnSet with(Column c) const {
        return ColumnSet{std::uint16_t(bits | (1u << unsigned(c)))};
    }
};

// Bit i of the buffer is cell i, the lowest bit of each byte first.
class Bits {
  public:
    void push(bool bit) {
        if (size_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() |= std::uint8_t(bit) << (size_ % 8);
        ++size_;
    }
    // `count` more bits, each `bit`.
    void append(std::size_t count, bool bit);
    void set(std::size_t i, bool bit) {
        const std::uint8_t mask = std::uint8_t(1u << (i % 8));
        bytes_[i / 8] = bit ? bytes_[i / 8] | mask : bytes_[i / 8] & ~mask;
    }
    void truncate(std::size_t size);
    bool operator[](std::size_t i) const { return (bytes_[i / 8] >> (i % 8)) & 1; }
    std::size_t size() const { return size_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    void clear() {
        bytes_.clear();
        size_ = 0;
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t size_ = 0;
};

// Cells of a fixed-width type, each present or empty.
template <class T>
struct Values {
    std::vector<T> values;
    Bits validity;

    void push(T value) {
        values.push_back(value);
        validity.push(true);
    }
    void push_empty() {
        values.push_back(T{});
        validity.push(false);
    }
    // `count` more cells at once, each holding T{}, present or not, for set() to fill: a
    // writer that knows how many rows come sets each cell in place.
    void grow(std::size_t count, bool present) {
        values.resize(values.size() + count);
        validity.append(count, present);
    }
    void set(std::size_t i, T value) {
        values[i] = value;
        validity.set(i, true);
    }
    void truncate(std::size_t size) {
        values.resize(size);
        validity.truncate(size);
    }
    bool present(std::size_t i) const { return validity[i]; }
    void clear() { truncate(0); }
};

// Allocates as std::allocator does, but leaves what a resize adds unwritten (default
// initialised): a buffer grown for a writer to fill is not zeroed first.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) {}
    template <class U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Texts: cell i is data[offsets[i], offsets[i + 1]).
struct Texts {
    std::vector<std::int64_t> offsets{0};
    std::vector<char, UnsetAllocator<char>> data;
    Bits validity;

    void push(std::string_view text) {
        data.insert(data.end(), text.begin(), text.end());
        close(true);
    }
    void push_empty() { close(false); }
    // For writing in place: the text is appended to `data`, then the cell closed.
    void close(bool present) {
        offsets.push_back(std::int64_t(data.size()));
        validity.push(present);
    }
    void truncate(std::size_t size) {
        offsets.resize(size + 1);
        data.resize(std::size_t(offsets.back()));
        validity.truncate(size);
    }
    // `count` more cells, all empty.
    void grow_empty(std::size_t count) {
        offsets.resize(offsets.size() + count, offsets.back());
        validity.append(count, false);
    }
    std::string_view operator[](std::size_t i) const {
        return std::string_view(data.data() + offsets[i], std::size_t(offsets[i + 1] - offsets[i]));
    }
    bool present(std::size_t i) const { return validity[i]; }
    std::size_t size() const { return offsets.size() - 1; }
    void clear() { truncate(0); }
};

// Writes the texts of `count` new cells in place, one after another, each of at most `most`
// bytes: the data grows once by all they can take, each cell is written where the one before
// ended (or closed empty), and what was not used is given back at the end.
class TextCells {
  public:
    TextCells(Texts& texts, std::size_t count, std::size_t most)
        : texts_(texts), row_(texts.size()), used_(texts.data.size()) {
        texts.offsets.resize(row_ + count + 1, std::int64_t(used_));
        texts.validity.append(count, true);
        texts.data.resize(used_ + count * most);
    }
    TextCells(const TextCells&) = delete;
    TextCells& operator=(const TextCells&) = delete;
    ~TextCells() { texts_.data.resize(used_); }

    // Where the next cell's text goes, and the end of what was written there.
    char* at() { return texts_.data.data() + used_; }
    void close(const char* end) {
        used_ = std::size_t(end - texts_.data.data());
        texts_.offsets[++row_] = std::int64_t(used_);
    }
    void close_empty() {
        texts_.validity.set(row_, false);
        texts_.offsets[++row_] = std::int64_t(used_);
    }

  private:
    Texts& texts_;
    std::size_t row_;   // the cell being written
    std::size_t used_;  // the data's bytes written
};

// Why a game was left out, in a few words: the walk's last line sums the games by these.
enum class Reason : std::uint8_t {
    MoveNotLegal,
    NullMoveInCheck,
    FenTagRefused,
    NotChess,
    NotUtf8,
    NotPgn,
    CutOff,
};
std::string_view reason_text(Reason reason);

// A problem that keeps a game from being walked: its number, the ply (0 for what comes before
// the moves), the text at fault as shown to users, the message and the reason.
struct Problem {
    std::uint64_t game;
    std::uint32_t ply;
    std::string text;
    std::string message;
    Reason reason;
};

struct WalkedChunk {
    // A row a move (the columns not asked for stay empty).
    Values<std::int32_t> ply;
    Texts fen;
    Texts uci;  // empty for a null move, as san and see are
    Texts san;
    Bits check;
    Values<std::int32_t> see;
    Values<std::int32_t> legal_moves;
    Values<double> clock;
    Values<std::int64_t> eval;
    Values<std::int64_t> mate;

    // A row a game walked; each game's rows follow the rows of the games before it.
    Values<std::int64_t> game;
    std::vector<std::int64_t> row_ends;  // Arrow's run ends: the rows up to each game's end
    Texts result;
    std::vector<Texts> tags;  // one a tag asked for: the value, empty where the game has none

    std::vector<Problem> problems;  // in the order of the games
    std::uint64_t games_filtered = 0;

    std::size_t rows() const { return ply.values.size(); }
    std::size_t games() const { return row_ends.size(); }
    void truncate_rows(std::size_t rows);
    // Empty again, its buffers kept for the next chunk.
    void clear();
};

// The rows as CSV lines without a header, fields as Python's csv module writes them (one
// holding a comma, a quote, a carriage return or a line feed in quotes, its quotes doubled),
// lines ended by "\n": the asked-for columns in order, then the tags.
void write_csv(const WalkedChunk& chunk, ColumnSet columns, std::string_view source,
               std::string& out);

}  // namespace pgn
