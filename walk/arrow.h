// A walked chunk as Apache Arrow data: the structures of Arrow's C data interface (plain structs
// that any Arrow implementation reads without copying), the chunk's columns as a table of
// arrays, and the table's own plain form, in which it travels between processes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "columns.h"

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema** children;
    struct ArrowSchema* dictionary;
    void (*release)(struct ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void** buffers;
    struct ArrowArray** children;
    struct ArrowArray* dictionary;
    void (*release)(struct ArrowArray*);
    void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
    const char* (*get_last_error)(struct ArrowArrayStream*);
    void (*release)(struct ArrowArrayStream*);
    void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE

namespace pgn {

// The columns of a walk's rows: those asked for, in COLUMN_NAMES' order, then one a tag.
struct Layout {
    ColumnSet columns;
    std::vector<std::string> tags;

    // A copy made from ranges: a vector's copy constructor would bring the library's own
    // array-length error helper into the modules, which keep to the C library.
    Layout copy() const { return Layout{columns, {tags.begin(), tags.end()}}; }
};

// A chunk's rows as Arrow arrays, a column each: integers as 64-, 32- or 8-bit integers, texts
// as large UTF-8 (64-bit offsets), the clock as seconds in a double, an empty cell as a null.
// The arrays of the moves point into the walked chunk, which the table keeps; what is the same
// for all the rows of a game (its number, result and tags) and the source are spread to a
// value a row, in buffers of the table's own.
class TableRef;

class Table {
  public:
    static TableRef of(WalkedChunk&& walked, const Layout& layout, std::string_view source);
    // The table from its plain form (write()), or nothing when the bytes are not one.
    static TableRef read(std::string_view bytes);
    void write(std::string& out) const;

    std::int64_t rows() const { return rows_; }
    // The chunk walked: its problems and counts (a table read from its plain form has none).
    const WalkedChunk& walked() const { return walked_; }

    struct Array {
        std::string name;
        const char* format;  // Arrow's format string
        bool nullable;
        std::int64_t null_count;
        // Validity bitmap (null when no cell is empty), then values, or offsets and data.
        std::vector<const void*> buffers;
        std::vector<std::size_t> sizes;  // of each buffer, in bytes
    };
    const std::vector<Array>& columns() const { return columns_; }

    // Held by the Batch that made it and by every array exported from it, and counted by
    // hand: std::shared_ptr asks glibc whether the process has threads, a symbol of glibc 2.32,
    // newer than the modules may need.
    void hold() const { references_.fetch_add(1, std::memory_order_relaxed); }
    void drop() const {
        if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

  private:
    Table() = default;
    const std::uint8_t* own(std::vector<std::uint8_t> buffer);

    mutable std::atomic<long> references_{1};
    std::int64_t rows_ = 0;
    std::vector<Array> columns_;
    WalkedChunk walked_;
    std::vector<std::vector<std::uint8_t>> owned_;
};

// One reference to a table.
class TableRef {
  public:
    TableRef() = default;
    explicit TableRef(const Table* adopted) : table_(adopted) {}
    TableRef(const TableRef& other) : table_(other.table_) {
        if (table_) table_->hold();
    }
    TableRef(TableRef&& other) noexcept : table_(other.table_) { other.table_ = nullptr; }
    TableRef& operator=(TableRef other) noexcept {
        std::swap(table_, other.table_);
        return *this;
    }
    ~TableRef() {
        if (table_) table_->drop();
    }
    const Table* operator->() const { return table_; }
    const Table& operator*() const { return *table_; }
    explicit operator bool() const { return table_ != nullptr; }

  private:
    const Table* table_ = nullptr;
};

// The schema of a walk's rows: a struct of its columns, as a record batch's.
void export_schema(const Layout& layout, ArrowSchema* out);

// The table as a struct array (a record batch). Every array exported holds the table until
// its release callback runs, children moved out by the consumer included.
void export_table(const TableRef& table, ArrowArray* out);

}  // namespace pgn
