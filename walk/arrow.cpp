#include "arrow.h"

#include <cstring>

#include "chess/types.h"
#include "text.h"

namespace pgn {

namespace {

struct Field {
    std::string name;
    const char* format;
    bool nullable;
};

// Arrow's names for the types: large UTF-8, 64-, 32- and 8-bit integers, double.
constexpr const char* TEXT = "U";
constexpr const char* INT64 = "l";
constexpr const char* INT32 = "i";
constexpr const char* INT8 = "c";
constexpr const char* DOUBLE = "g";

constexpr const char* format_of(Column c) {
    switch (c) {
        case Column::Game:
        case Column::Eval:
        case Column::Mate: return INT64;
        case Column::Ply:
        case Column::See:
        case Column::LegalMoves: return INT32;
        case Column::Check: return INT8;
        case Column::Clock: return DOUBLE;
        default: return TEXT;
    }
}

// Cells that may be empty: a null move's UCI, SAN and exchange value, and what a comment may
// not hold.
constexpr bool nullable(Column c) {
    return c == Column::Uci || c == Column::San || c == Column::See || c == Column::Clock ||
           c == Column::Eval || c == Column::Mate;
}

std::vector<Field> fields_of(const Layout& layout) {
    std::vector<Field> fields;
    for (std::size_t i = 0; i < COLUMN_COUNT; ++i) {
        const Column c = Column(i);
        if (layout.columns.has(c))
            fields.push_back({std::string(COLUMN_NAMES[i]), format_of(c), nullable(c)});
    }
    for (const std::string& tag : layout.tags) fields.push_back({tag, TEXT, true});
    return fields;
}

std::size_t bitmap_size(std::int64_t rows) { return std::size_t(rows + 7) / 8; }

// The bitmap and its count of empty cells; no bitmap at all when every cell holds a value.
std::pair<const void*, std::int64_t> validity(const Bits& bits, std::int64_t rows) {
    std::int64_t present = 0;
    for (const std::uint8_t byte : bits.bytes()) present += chess::popcount(std::uint64_t(byte));
    return present == rows
               ? std::pair<const void*, std::int64_t>{nullptr, 0}
               : std::pair<const void*, std::int64_t>{bits.bytes().data(), rows - present};
}

template <class T>
std::vector<std::uint8_t> bytes_of(const std::vector<T>& values) {
    std::vector<std::uint8_t> out(values.size() * sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), values.data(), out.size());
    return out;
}

}  // namespace

const std::uint8_t* Table::own(std::vector<std::uint8_t> buffer) {
    owned_.push_back(std::move(buffer));
    return owned_.back().data();
}

TableRef Table::of(WalkedChunk&& walked, const Layout& layout, std::string_view source) {
    auto* table = new Table();
    const TableRef ref(table);
    table->walked_ = std::move(walked);
    const WalkedChunk& w = table->walked_;
    const std::int64_t rows = std::int64_t(w.rows());
    table->rows_ = rows;
    const std::vector<Field> fields = fields_of(layout);
    table->owned_.reserve(2 * fields.size());

    // What a game's rows repeat, spread to a value a row: the game's (empty as null) or one for
    // all when `per_game` is null.
    const auto spread_texts = [&](const Texts* per_game, std::string_view one, Array& out) {
        std::vector<std::int64_t> offsets{0};
        offsets.reserve(std::size_t(rows) + 1);
        std::string data;
        Bits valid;
        std::size_t row = 0;
        for (std::size_t g = 0; g < w.games(); ++g) {
            const std::string_view text = per_game ? (*per_game)[g] : one;
            for (; row < std::size_t(w.row_ends[g]); ++row) {
                data += text;
                offsets.push_back(std::int64_t(data.size()));
                valid.push(!text.empty() || !per_game);
            }
        }
        const auto [bitmap, nulls] = validity(valid, rows);
        out.null_count = nulls;
        out.buffers = {bitmap ? table->own(valid.bytes()) : nullptr, table->own(bytes_of(offsets)),
                       table->own(std::vector<std::uint8_t>(data.begin(), data.end()))};
        out.sizes = {bitmap ? bitmap_size(rows) : 0, offsets.size() * 8, data.size()};
    };
    const auto texts = [&](const Texts& t, Array& out) {
        const auto [bitmap, nulls] = validity(t.validity, rows);
        out.null_count = nulls;
        out.buffers = {bitmap, t.offsets.data(), t.data.data()};
        out.sizes = {bitmap ? bitmap_size(rows) : 0, t.offsets.size() * 8, t.data.size()};
    };
    const auto values = [&](const auto& v, Array& out) {
        const auto [bitmap, nulls] = validity(v.validity, rows);
        out.null_count = nulls;
        out.buffers = {bitmap, v.values.data()};
        out.sizes = {bitmap ? bitmap_size(rows) : 0, v.values.size() * sizeof(v.values[0])};
    };
    const std::string printable_source = printable(source);

    std::size_t f = 0;
    for (std::size_t i = 0; i < COLUMN_COUNT; ++i) {
        const Column c = Column(i);
        if (!layout.columns.has(c)) continue;
        Array out{fields[f].name, fields[f].format, fields[f].nullable, 0, {}, {}};
        ++f;
        switch (c) {
            case Column::Source: spread_texts(nullptr, printable_source, out); break;
            case Column::Game: {
                std::vector<std::int64_t> games;
                games.reserve(std::size_t(rows));
                for (std::size_t g = 0; g < w.games(); ++g)
                    games.resize(std::size_t(w.row_ends[g]), w.game.values[g]);
                out.sizes = {0, games.size() * 8};
                out.buffers = {nullptr, table->own(bytes_of(games))};
                break;
            }
            case Column::Ply: values(w.ply, out); break;
            case Column::Fen: texts(w.fen, out); break;
            case Column::Uci: texts(w.uci, out); break;
            case Column::San: texts(w.san, out); break;
            case Column::Check: {
                std::vector<std::uint8_t> checks(std::size_t(rows), 0);
                for (std::size_t r = 0; r < checks.size(); ++r) checks[r] = w.check[r];
                out.sizes = {0, checks.size()};
                out.buffers = {nullptr, table->own(std::move(checks))};
                break;
            }
            case Column::See: values(w.see, out); break;
            case Column::LegalMoves: values(w.legal_moves, out); break;
            case Column::Result: spread_texts(&w.result, {}, out); break;
            case Column::Clock: values(w.clock, out); break;
            case Column::Eval: values(w.eval, out); break;
            case Column::Mate: values(w.mate, out); break;
        }
        table->columns_.push_back(std::move(out));
    }
    for (std::size_t t = 0; t < layout.tags.size(); ++t, ++f) {
        Array out{fields[f].name, TEXT, true, 0, {}, {}};
        spread_texts(&w.tags[t], {}, out);
        table->columns_.push_back(std::move(out));
    }
    return ref;
}

// --- the plain form: a header, then each column's name, format, null count and buffers --------

namespace {

constexpr std::string_view MAGIC = "morvek-walk table 1\n";

void put(std::string& out, std::uint64_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void put(std::string& out, std::string_view bytes) {
    put(out, std::uint64_t(bytes.size()));
    out += bytes;
}

struct Reader {
    std::string_view rest;
    bool ok = true;

    std::uint64_t number() {
        std::uint64_t value = 0;
        if (rest.size() < sizeof value) return ok = false, 0;
        std::memcpy(&value, rest.data(), sizeof value);
        rest = slice(rest, sizeof value, rest.size());
        return value;
    }
    std::string_view bytes() {
        const std::uint64_t size = number();
        if (!ok || size > rest.size()) return ok = false, std::string_view();
        const std::string_view out = head(rest, std::size_t(size));
        rest = slice(rest, std::size_t(size), rest.size());
        return out;
    }
};

}  // namespace

void Table::write(std::string& out) const {
    out += MAGIC;
    put(out, std::uint64_t(rows_));
    put(out, std::uint64_t(columns_.size()));
    for (const Array& c : columns_) {
        put(out, c.name);
        put(out, std::string_view(c.format));
        put(out, std::uint64_t(c.nullable));
        put(out, std::uint64_t(c.null_count));
        put(out, std::uint64_t(c.buffers.size()));
        for (std::size_t b = 0; b < c.buffers.size(); ++b) {
            put(out, std::uint64_t(c.buffers[b] != nullptr));
            put(out, std::string_view(static_cast<const char*>(c.buffers[b]),
                                      c.buffers[b] ? c.sizes[b] : 0));
        }
    }
}

TableRef Table::read(std::string_view bytes) {
    if (head(bytes, MAGIC.size()) != MAGIC) return {};
    Reader in{slice(bytes, MAGIC.size(), bytes.size())};
    auto* table = new Table();
    const TableRef ref(table);
    table->rows_ = std::int64_t(in.number());
    const std::uint64_t count = in.number();
    if (!in.ok || table->rows_ < 0 || count > 4096) return {};
    for (std::uint64_t i = 0; i < count && in.ok; ++i) {
        Array c;
        c.name = std::string(in.bytes());
        const std::string_view format = in.bytes();
        c.format = format == TEXT     ? TEXT
                   : format == INT64  ? INT64
                   : format == INT32  ? INT32
                   : format == INT8   ? INT8
                   : format == DOUBLE ? DOUBLE
                                      : nullptr;
        c.nullable = in.number() != 0;
        c.null_count = std::int64_t(in.number());
        const std::uint64_t buffers = in.number();
        if (!c.format || buffers != (c.format == TEXT ? 3u : 2u)) return {};
        for (std::uint64_t b = 0; b < buffers && in.ok; ++b) {
            const bool present = in.number() != 0;
            const std::string_view data = in.bytes();
            c.buffers.push_back(
                present ? table->own(std::vector<std::uint8_t>(data.begin(), data.end()))
                        : nullptr);
            c.sizes.push_back(data.size());
        }
        table->columns_.push_back(std::move(c));
    }
    if (!in.ok || !in.rest.empty()) return {};
    // Every buffer must hold what its column's rows need, so that no reader of the arrays
    // goes past one.
    const std::size_t rows = std::size_t(table->rows_);
    for (const Array& c : table->columns_) {
        if (c.buffers[0] && c.sizes[0] < bitmap_size(table->rows_)) return {};
        if (c.format == TEXT) {
            if (c.sizes[1] != (rows + 1) * 8) return {};
            const auto* offsets = static_cast<const std::int64_t*>(c.buffers[1]);
            for (std::size_t r = 0; r < rows; ++r)
                if (offsets[r] < 0 || offsets[r] > offsets[r + 1]) return {};
            if (offsets[0] != 0 || std::uint64_t(offsets[rows]) != c.sizes[2]) return {};
        } else {
            const std::size_t width = c.format == INT64 || c.format == DOUBLE ? 8
                                      : c.format == INT32                     ? 4
                                                                              : 1;
            if (c.sizes[1] != rows * width) return {};
        }
    }
    return ref;
}

// --- export ------------------------------------------------------------------------------------

namespace {

struct SchemaData {
    std::string name;
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> child_pointers;
};

void release_schema(ArrowSchema* schema) {
    auto* data = static_cast<SchemaData*>(schema->private_data);
    for (ArrowSchema& child : data->children)
        if (child.release) child.release(&child);
    delete data;
    schema->release = nullptr;
}

void fill_schema(ArrowSchema* out, const char* format, std::string name, std::int64_t flags,
                 SchemaData* data) {
    data->name = std::move(name);
    *out = ArrowSchema{format,  data->name.c_str(), nullptr, flags, 0, nullptr,
                       nullptr, release_schema,     data};
}

// A column's array, holding the table itself, so that it lives on if the consumer moves it
// out of its record batch.
alignas(64) constexpr std::uint8_t NOTHING[64] = {};

struct ArrayData {
    TableRef table;
    std::vector<const void*> buffers;
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> child_pointers;
};

void release_array(ArrowArray* array) {
    auto* data = static_cast<ArrayData*>(array->private_data);
    for (ArrowArray& child : data->children)
        if (child.release) child.release(&child);
    delete data;
    array->release = nullptr;
}

}  // namespace

void export_schema(const Layout& layout, ArrowSchema* out) {
    const std::vector<Field> fields = fields_of(layout);
    auto* data = new SchemaData();
    data->children.resize(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fill_schema(&data->children[i], fields[i].format, fields[i].name,
                    fields[i].nullable ? ARROW_FLAG_NULLABLE : 0, new SchemaData());
        data->child_pointers.push_back(&data->children[i]);
    }
    fill_schema(out, "+s", "", 0, data);
    out->n_children = std::int64_t(fields.size());
    out->children = data->child_pointers.data();
}

void export_table(const TableRef& table, ArrowArray* out) {
    auto* data = new ArrayData{table, {nullptr}, {}, {}};
    data->children.resize(table->columns().size());
    for (std::size_t i = 0; i < table->columns().size(); ++i) {
        const Table::Array& c = table->columns()[i];
        auto* child = new ArrayData{table, {c.buffers.begin(), c.buffers.end()}, {}, {}};
        // A buffer of no bytes is still a pointer to readers; only a bitmap may be null.
        for (std::size_t b = 1; b < child->buffers.size(); ++b)
            if (!child->buffers[b]) child->buffers[b] = NOTHING;
        data->children[i] = ArrowArray{table->rows(),
                                       c.null_count,
                                       0,
                                       std::int64_t(child->buffers.size()),
                                       0,
                                       child->buffers.data(),
                                       nullptr,
                                       nullptr,
                                       release_array,
                                       child};
        data->child_pointers.push_back(&data->children[i]);
    }
    *out = ArrowArray{table->rows(),
                      0,
                      0,
                      1,
                      std::int64_t(data->children.size()),
                      data->buffers.data(),
                      data->child_pointers.data(),
                      nullptr,
                      release_array,
                      data};
}

}  // namespace pgn
