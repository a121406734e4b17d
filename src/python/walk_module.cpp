// morvek_walk._native: the game walk (walk/) for the walker's Python side. Calls are one per
// chunk of games, so the tuple-and-dict convention is kept everywhere: the interpreter's
// vector form would save well under a microsecond on a call that walks for milliseconds. The
// interpreter lock is released while a chunk is split or walked, so that threads of one
// process can walk side by side.
//
// Multi-phase initialisation and no state outside the module object: each interpreter that
// imports it gets a module and a Splitter type of its own.
#include <Python.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arrow.h"
#include "chess/invariant.h"
#include "filter.h"
#include "frame.h"
#include "py_ref.h"
#include "splitter.h"
#include "walk.h"

namespace morvek {
namespace {

// What went wrong while the interpreter lock was released, raised once it is held again.
struct Failure {
    enum Kind { None, Memory, Invariant } kind = None;
    chess::InvariantFailure invariant{};

    // Runs `work` without the lock; false (with the exception set) when it failed.
    template <class Work>
    static bool run_unlocked(Work&& work) {
        Failure failure;
        Py_BEGIN_ALLOW_THREADS;
        try {
            work();
        } catch (const std::bad_alloc&) {
            failure.kind = Memory;
        } catch (const chess::InvariantFailure& f) {
            failure.kind = Invariant;
            failure.invariant = f;
        }
        Py_END_ALLOW_THREADS;
        if (failure.kind == Memory) PyErr_NoMemory();
        if (failure.kind == Invariant) raise_invariant_failure(failure.invariant);
        return failure.kind == None;
    }
};

// The bytes of a bytes object, valid while it lives; a TypeError naming the argument else.
bool bytes_argument(PyObject* object, const char* what, std::string_view& out) {
    if (!PyBytes_Check(object)) {
        PyRef type = PyRef::steal(
            PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
        if (type && PyUnicode_Check(type.get()))
            PyErr_Format(PyExc_TypeError, "%s must be bytes, not %U", what, type.get());
        else
            PyErr_Format(PyExc_TypeError, "%s must be bytes", what);
        return false;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(object, &data, &size) < 0) return false;
    out = std::string_view(data, std::size_t(size));
    return true;
}

// [(bytes, first game number)] of the chunks; with `ranges`, [(bytes or None, first game
// number, begin, end)], None for a chunk whose bytes stand in the input from begin to end;
// with `starts`, each with one more item, where its games begin (native 32-bit numbers).
PyObject* chunk_list(std::vector<pgn::Chunk>& chunks, bool ranges, bool starts) {
    PyRef list = PyRef::steal(PyList_New(Py_ssize_t(chunks.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const pgn::Chunk& chunk = chunks[i];
        PyRef bytes = ranges && chunk.verbatim
                          ? PyRef::borrow(Py_None)
                          : PyRef::steal(PyBytes_FromStringAndSize(chunk.bytes.data(),
                                                                   Py_ssize_t(chunk.bytes.size())));
        if (!bytes) return nullptr;
        std::string().swap(chunks[i].bytes);  // each chunk's memory goes as soon as it is copied
        PyRef places = PyRef::steal(PyBytes_FromStringAndSize(
            reinterpret_cast<const char*>(chunk.game_starts.data()),
            Py_ssize_t(chunk.game_starts.size() * sizeof(std::uint32_t))));
        if (!places) return nullptr;
        const auto first = static_cast<unsigned long long>(chunk.first_game);
        const auto begin = static_cast<unsigned long long>(chunk.begin);
        const auto end = static_cast<unsigned long long>(chunk.end);
        PyObject* item =
            ranges
                ? (starts ? Py_BuildValue("(OKKKO)", bytes.get(), first, begin, end, places.get())
                          : Py_BuildValue("(OKKK)", bytes.get(), first, begin, end))
                : (starts ? Py_BuildValue("(OKO)", bytes.get(), first, places.get())
                          : Py_BuildValue("(OK)", bytes.get(), first));
        // Steals the item even when it fails.
        if (!item || PyList_SetItem(list.get(), Py_ssize_t(i), item) < 0) return nullptr;
    }
    return list.release();
}

// --- Splitter --------------------------------------------------------------------------------

struct SplitterObject {
    PyObject_HEAD pgn::Splitter* splitter;
    bool busy;      // a call of another thread is splitting, the lock released
    bool finished;  // finish() has been called
    bool ranges;    // chunks come with their place in the input
    bool starts;    // and with where their games begin
};

PyObject* splitter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"chunk_moves", "ranges", "starts", nullptr};
    long long chunk_moves = 0;
    int ranges = 0, starts = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "L|pp:Splitter", const_cast<char**>(names),
                                     &chunk_moves, &ranges, &starts))
        return nullptr;
    if (chunk_moves < 1) {
        PyErr_SetString(PyExc_ValueError, "chunk_moves must be at least 1");
        return nullptr;
    }
    const auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef self = PyRef::steal(alloc(type, 0));
    if (!self) return nullptr;
    auto* object = reinterpret_cast<SplitterObject*>(self.get());
    object->splitter = new (std::nothrow)
        pgn::Splitter(std::uint64_t(chunk_moves), pgn::CHUNK_BYTES, pgn::LONGEST_GAME, !ranges);
    if (!object->splitter) return PyErr_NoMemory();
    object->busy = object->finished = false;
    object->ranges = ranges != 0;
    object->starts = starts != 0;
    return self.release();
}

void splitter_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<SplitterObject*>(self)->splitter;
    const auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);  // a heap type's instances hold a reference to it
}

// The splitter for one call: refused while another thread's call runs, or after finish().
pgn::Splitter* claim(SplitterObject* object) {
    if (object->busy) {
        PyErr_SetString(PyExc_RuntimeError, "the Splitter is in use by another thread");
        return nullptr;
    }
    if (object->finished) {
        PyErr_SetString(PyExc_ValueError, "the Splitter has finished its input");
        return nullptr;
    }
    object->busy = true;
    return object->splitter;
}

PyObject* splitter_feed(PyObject* self, PyObject* data) {
    auto* object = reinterpret_cast<SplitterObject*>(self);
    std::string_view bytes;
    if (!bytes_argument(data, "feed() argument", bytes)) return nullptr;
    pgn::Splitter* splitter = claim(object);
    if (!splitter) return nullptr;
    std::vector<pgn::Chunk> chunks;
    // The caller's reference keeps the bytes alive while the lock is released.
    const bool ok = Failure::run_unlocked([&] { splitter->feed(bytes, chunks); });
    object->busy = false;
    if (!ok) return nullptr;
    return chunk_list(chunks, object->ranges, object->starts);
}

PyObject* splitter_finish(PyObject* self, PyObject*) {
    auto* object = reinterpret_cast<SplitterObject*>(self);
    pgn::Splitter* splitter = claim(object);
    if (!splitter) return nullptr;
    std::vector<pgn::Chunk> chunks;
    const bool ok = Failure::run_unlocked([&] { splitter->finish(chunks); });
    object->busy = false;
    object->finished = true;
    if (!ok) return nullptr;
    return chunk_list(chunks, object->ranges, object->starts);
}

PyMethodDef SPLITTER_METHODS[] = {
    {"feed", splitter_feed, METH_O,
     "feed(data)\n--\n\nThe chunks of whole games that the input so far completes: a list of "
     "(bytes, number of the chunk's first game)."},
    {"finish", splitter_finish, METH_NOARGS,
     "finish()\n--\n\nAt the end of the input: the chunks of what is left."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SPLITTER_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(splitter_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(splitter_dealloc)},
    {Py_tp_methods, SPLITTER_METHODS},
    {Py_tp_doc,
     const_cast<char*>("Splitter(chunk_moves, ranges=False)\n--\n\nCuts one input's PGN bytes, fed "
                       "in blocks of any size, into chunks of whole games of about chunk_moves "
                       "moves each; with ranges, each with its place in the input, its bytes "
                       "None where they stand there as they are.")},
    {0, nullptr},
};

PyType_Spec SPLITTER_SPEC = {
    "morvek_walk._native.Splitter", sizeof(SplitterObject), 0, Py_TPFLAGS_DEFAULT, SPLITTER_SLOTS,
};

// --- walk ------------------------------------------------------------------------------------

// What a walk writes into: kept for the next call, so that a worker's chunks fill memory the
// chunks before had instead of fresh pages, which the system would fault in one by one.
struct Buffers {
    pgn::WalkedChunk walked;
    std::string csv;

    // A chunk far larger than the usual leaves its memory to the system.
    bool worth_keeping() const {
        constexpr std::size_t MOST = std::size_t(32) << 20;
        return csv.capacity() <= MOST && walked.fen.data.capacity() <= MOST;
    }
};

// Shared by every thread and interpreter of the process, hence the spin lock (held for a
// push or a pop); it keeps a few buffers, as many as walks ran at once.
class BufferPool {
  public:
    std::unique_ptr<Buffers> take() {
        Locked locked(lock_);
        if (kept_.empty()) return std::make_unique<Buffers>();
        std::unique_ptr<Buffers> buffers = std::move(kept_.back());
        kept_.pop_back();
        return buffers;
    }
    void give(std::unique_ptr<Buffers> buffers) {
        if (!buffers->worth_keeping()) return;
        buffers->walked.clear();
        buffers->csv.clear();
        Locked locked(lock_);
        if (kept_.size() < KEEP) kept_.push_back(std::move(buffers));
    }

  private:
    static constexpr std::size_t KEEP = 4;
    struct Locked {
        explicit Locked(std::atomic_flag& flag) : flag_(flag) {
            while (flag_.test_and_set(std::memory_order_acquire)) {}
        }
        ~Locked() { flag_.clear(std::memory_order_release); }
        std::atomic_flag& flag_;
    };
    std::atomic_flag lock_;
    std::vector<std::unique_ptr<Buffers>> kept_;
};
BufferPool pool;

// The UTF-8 bytes of a str, any lone surrogates (bytes that were not UTF-8 in a file name)
// turned back into the bytes they stand for.
bool source_bytes(PyObject* source, std::string& out) {
    PyRef encoded = PyRef::steal(PyUnicode_AsEncodedString(source, "utf-8", "surrogateescape"));
    if (!encoded) return false;
    std::string_view bytes;
    if (!bytes_argument(encoded.get(), "source", bytes)) return false;
    out.assign(bytes);
    return true;
}

bool tag_names(PyObject* tags, std::vector<std::string>& out) {
    PyRef tuple = PyRef::steal(PySequence_Tuple(tags));
    if (!tuple) return false;
    const Py_ssize_t count = PyTuple_Size(tuple.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* name = PyTuple_GetItem(tuple.get(), i);  // lends
        if (!PyUnicode_Check(name)) {
            PyErr_SetString(PyExc_TypeError, "tags must be a sequence of str");
            return false;
        }
        const std::optional<std::string_view> text = utf8_text(name);
        if (!text) return false;
        out.emplace_back(*text);
    }
    return true;
}

// (source, game, ply, text, message, reason) for each problem, the source the caller's own str.
PyObject* problem_list(const std::vector<pgn::Problem>& problems, PyObject* source) {
    PyRef list = PyRef::steal(PyList_New(Py_ssize_t(problems.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < problems.size(); ++i) {
        const pgn::Problem& p = problems[i];
        const std::string_view reason = pgn::reason_text(p.reason);
        PyObject* item =
            Py_BuildValue("(OKIs#s#s#)", source, static_cast<unsigned long long>(p.game),
                          static_cast<unsigned int>(p.ply), p.text.data(),
                          Py_ssize_t(p.text.size()), p.message.data(), Py_ssize_t(p.message.size()),
                          reason.data(), Py_ssize_t(reason.size()));
        // Steals the item even when it fails.
        if (!item || PyList_SetItem(list.get(), Py_ssize_t(i), item) < 0) return nullptr;
    }
    return list.release();
}

// The columns asked for, by name (None: all of them).
bool column_set(PyObject* names, pgn::ColumnSet& out) {
    if (names == Py_None) return true;
    PyRef tuple = PyRef::steal(PySequence_Tuple(names));
    if (!tuple) return false;
    out = pgn::ColumnSet::none();
    for (Py_ssize_t i = 0; i < PyTuple_Size(tuple.get()); ++i) {
        PyObject* name = PyTuple_GetItem(tuple.get(), i);  // lends
        const std::optional<std::string_view> text =
            PyUnicode_Check(name) ? utf8_text(name) : std::nullopt;
        if (!text) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_TypeError, "columns must be a sequence of str");
            return false;
        }
        std::size_t c = 0;
        while (c < pgn::COLUMN_COUNT && pgn::COLUMN_NAMES[c] != *text) ++c;
        if (c == pgn::COLUMN_COUNT) {
            PyErr_Format(PyExc_ValueError, "no column named %R", name);
            return false;
        }
        out = out.with(pgn::Column(c));
    }
    return true;
}

bool conditions(PyObject* texts, std::vector<pgn::Condition>& out) {
    PyRef tuple = PyRef::steal(PySequence_Tuple(texts));
    if (!tuple) return false;
    for (Py_ssize_t i = 0; i < PyTuple_Size(tuple.get()); ++i) {
        PyObject* item = PyTuple_GetItem(tuple.get(), i);  // lends
        const std::optional<std::string_view> text =
            PyUnicode_Check(item) ? utf8_text(item) : std::nullopt;
        if (!text) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_TypeError, "where must be a sequence of str");
            return false;
        }
        std::string why;
        std::optional<pgn::Condition> condition = pgn::read_condition(*text, why);
        if (!condition) {
            PyErr_Format(PyExc_ValueError, "%R is not a condition: %s", item, why.c_str());
            return false;
        }
        out.push_back(std::move(*condition));
    }
    return true;
}

// Where the chunk's games begin, as the splitter gave them: rising places within the data, or
// a ValueError (a wrong place would start a game inside another).
bool game_starts(PyObject* object, std::size_t size, std::span<const std::uint32_t>& out) {
    std::string_view bytes;
    if (!bytes_argument(object, "game_starts", bytes)) return false;
    const std::size_t count = bytes.size() / sizeof(std::uint32_t);
    const auto* starts = reinterpret_cast<const std::uint32_t*>(bytes.data());
    bool rising = bytes.size() % sizeof(std::uint32_t) == 0;
    for (std::size_t i = 0; rising && i < count; ++i)
        rising = starts[i] < size && (i == 0 || starts[i - 1] < starts[i]);
    if (!rising) {
        PyErr_SetString(PyExc_ValueError, "game_starts must be rising places within data");
        return false;
    }
    out = std::span<const std::uint32_t>(starts, count);
    return true;
}

// What walk() and walk_table() take: the chunk, where it comes from, and how to walk it.
struct WalkArguments {
    std::string_view bytes;
    PyObject* source = nullptr;
    std::string source_text;
    unsigned long long first_game = 0;
    pgn::WalkOptions options;
    std::vector<pgn::Condition> where;

    bool read(PyObject* args, PyObject* kwargs, const char* format) {
        static const char* names[] = {"data",    "source", "first_game",  "tags",
                                      "columns", "where",  "game_starts", nullptr};
        PyObject *data = nullptr, *first = nullptr, *tags = nullptr, *columns = Py_None,
                 *filter = nullptr, *starts = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), &data,
                                         &source, &first, &tags, &columns, &filter, &starts))
            return false;
        if (!bytes_argument(data, "data", bytes)) return false;
        if (starts != Py_None && !game_starts(starts, bytes.size(), options.game_starts))
            return false;
        if (!PyLong_Check(first)) {
            PyErr_SetString(PyExc_TypeError, "first_game must be an int");
            return false;
        }
        first_game = PyLong_AsUnsignedLongLong(first);
        if (first_game == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        if (first_game < 1) {
            PyErr_SetString(PyExc_ValueError, "first_game must be at least 1");
            return false;
        }
        if (!tag_names(tags, options.tags) || !source_bytes(source, source_text) ||
            !column_set(columns, options.columns) || (filter && !conditions(filter, where)))
            return false;
        if (!where.empty()) {
            options.keep = pgn::meets_conditions;
            options.keep_context = &where;
        }
        return true;
    }
};

PyObject* walk(PyObject*, PyObject* args, PyObject* kwargs) {
    WalkArguments a;
    if (!a.read(args, kwargs, "OUOO|OOO:walk")) return nullptr;
    std::unique_ptr<Buffers> buffers;
    const bool ok = Failure::run_unlocked([&] {
        buffers = pool.take();
        pgn::walk_games(a.bytes, a.first_game, a.options, buffers->walked);
        pgn::write_csv(buffers->walked, a.options.columns, a.source_text, buffers->csv);
    });
    if (!ok) return nullptr;
    const pgn::WalkedChunk& walked = buffers->walked;
    // The rows are copied into their bytes object without the lock: a few megabytes a chunk,
    // which the other threads' walks would otherwise wait for. Nobody else sees the object yet.
    PyRef rows = PyRef::steal(PyBytes_FromStringAndSize(nullptr, Py_ssize_t(buffers->csv.size())));
    if (rows) {
        char* const into = PyBytes_AsString(rows.get());
        const std::string& csv = buffers->csv;
        Py_BEGIN_ALLOW_THREADS;
        std::memcpy(into, csv.data(), csv.size());
        Py_END_ALLOW_THREADS;
    }
    PyRef problems = PyRef::steal(rows ? problem_list(walked.problems, a.source) : nullptr);
    PyObject* answer = problems
                           ? Py_BuildValue("(OOKKK)", rows.get(), problems.get(),
                                           static_cast<unsigned long long>(walked.games()),
                                           static_cast<unsigned long long>(walked.rows()),
                                           static_cast<unsigned long long>(walked.games_filtered))
                           : nullptr;
    pool.give(std::move(buffers));
    return answer;
}

// --- Batch: a chunk's rows as Arrow arrays -----------------------------------------------------

struct BatchObject {
    PyObject_HEAD pgn::TableRef* table;
    pgn::Layout* layout;
    PyObject* problems;
    unsigned long long games, positions, filtered;
};

PyObject* new_batch(PyObject* module, pgn::TableRef table, pgn::Layout layout, PyObject* problems,
                    unsigned long long games, unsigned long long positions,
                    unsigned long long filtered) {
    PyRef found = PyRef::steal(PyObject_GetAttrString(module, "Batch"));
    if (!found) return nullptr;
    auto* type = reinterpret_cast<PyTypeObject*>(found.get());
    const auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef self = PyRef::steal(alloc(type, 0));
    if (!self) return nullptr;
    auto* batch = reinterpret_cast<BatchObject*>(self.get());
    batch->table = new (std::nothrow) pgn::TableRef(std::move(table));
    batch->layout = new (std::nothrow) pgn::Layout(std::move(layout));
    if (!batch->table || !batch->layout) return PyErr_NoMemory();
    Py_INCREF(problems);
    batch->problems = problems;
    batch->games = games;
    batch->positions = positions;
    batch->filtered = filtered;
    return self.release();
}

void batch_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* batch = reinterpret_cast<BatchObject*>(self);
    delete batch->table;
    delete batch->layout;
    Py_XDECREF(batch->problems);
    const auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

void release_schema_capsule(PyObject* capsule) {
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
    if (schema && schema->release) schema->release(schema);
    delete schema;
}

void release_array_capsule(PyObject* capsule) {
    auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsule, "arrow_array"));
    if (array && array->release) array->release(array);
    delete array;
}

PyObject* schema_capsule(const pgn::Layout& layout) {
    auto* schema = new (std::nothrow) ArrowSchema();
    if (!schema) return PyErr_NoMemory();
    pgn::export_schema(layout, schema);
    PyObject* capsule = PyCapsule_New(schema, "arrow_schema", release_schema_capsule);
    if (!capsule) {
        schema->release(schema);
        delete schema;
    }
    return capsule;
}

PyObject* batch_schema(PyObject* self, PyObject*) {
    return schema_capsule(*reinterpret_cast<BatchObject*>(self)->layout);
}

// The record batch's schema and array, as the Arrow PyCapsule interface hands them over. A
// requested schema other than the batch's own is not offered: the columns are what they are.
PyObject* batch_arrays(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"requested_schema", nullptr};
    PyObject* requested = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_array__",
                                     const_cast<char**>(names), &requested))
        return nullptr;
    auto* batch = reinterpret_cast<BatchObject*>(self);
    PyRef schema = PyRef::steal(schema_capsule(*batch->layout));
    if (!schema) return nullptr;
    auto* array = new (std::nothrow) ArrowArray();
    if (!array) return PyErr_NoMemory();
    pgn::export_table(*batch->table, array);
    PyRef capsule = PyRef::steal(PyCapsule_New(array, "arrow_array", release_array_capsule));
    if (!capsule) {
        array->release(array);
        delete array;
        return nullptr;
    }
    return PyTuple_Pack(2, schema.get(), capsule.get());
}

// Pickled as the table's plain form and the rest, so that a batch travels between processes
// (a Dask cluster's workers and its client) without Arrow libraries at either end.
PyObject* batch_reduce(PyObject* self, PyObject*) {
    auto* batch = reinterpret_cast<BatchObject*>(self);
    std::string plain;
    const pgn::TableRef& table = *batch->table;
    if (!Failure::run_unlocked([&] { table->write(plain); })) return nullptr;
    PyRef module = PyRef::steal(PyImport_ImportModule("morvek_walk._native"));
    PyRef restore = PyRef::steal(module ? PyObject_GetAttrString(module.get(), "_batch") : nullptr);
    if (!restore) return nullptr;
    PyRef tags = PyRef::steal(PyTuple_New(Py_ssize_t(batch->layout->tags.size())));
    if (!tags) return nullptr;
    for (std::size_t t = 0; t < batch->layout->tags.size(); ++t) {
        const std::string& tag = batch->layout->tags[t];
        PyObject* text = PyUnicode_FromStringAndSize(tag.data(), Py_ssize_t(tag.size()));
        // Steals the text even when it fails.
        if (!text || PyTuple_SetItem(tags.get(), Py_ssize_t(t), text) < 0) return nullptr;
    }
    return Py_BuildValue("(O(y#IOOKKK))", restore.get(), plain.data(), Py_ssize_t(plain.size()),
                         static_cast<unsigned int>(batch->layout->columns.bits), tags.get(),
                         batch->problems, batch->games, batch->positions, batch->filtered);
}

PyObject* batch_rows(PyObject* self, void*) {
    return PyLong_FromLongLong((*reinterpret_cast<BatchObject*>(self)->table)->rows());
}

PyObject* batch_problems(PyObject* self, void*) {
    PyObject* problems = reinterpret_cast<BatchObject*>(self)->problems;
    Py_INCREF(problems);
    return problems;
}

template <unsigned long long BatchObject::* Field>
PyObject* batch_count(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(reinterpret_cast<BatchObject*>(self)->*Field);
}

PyMethodDef BATCH_METHODS[] = {
    {"__arrow_c_schema__", batch_schema, METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe batch's schema as an Arrow PyCapsule."},
    {"__arrow_c_array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batch_arrays)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_array__(requested_schema=None)\n--\n\nThe batch as Arrow PyCapsules: (schema, "
     "struct array)."},
    {"__reduce__", batch_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef BATCH_FIELDS[] = {
    {"num_rows", batch_rows, nullptr, "Rows: a move each.", nullptr},
    {"problems", batch_problems, nullptr,
     "(source, game, ply, text, message, reason) of each game left out.", nullptr},
    {"games", batch_count<&BatchObject::games>, nullptr, "Games walked.", nullptr},
    {"positions", batch_count<&BatchObject::positions>, nullptr, "Positions walked.", nullptr},
    {"filtered", batch_count<&BatchObject::filtered>, nullptr, "Games the conditions left out.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot BATCH_SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(batch_dealloc)},
    {Py_tp_methods, BATCH_METHODS},
    {Py_tp_getset, BATCH_FIELDS},
    {Py_tp_doc, const_cast<char*>("A walked chunk's rows as an Arrow record batch.")},
    {0, nullptr},
};

PyType_Spec BATCH_SPEC = {
    "morvek_walk._native.Batch", sizeof(BatchObject), 0, Py_TPFLAGS_DEFAULT, BATCH_SLOTS,
};

PyObject* walk_table(PyObject* module, PyObject* args, PyObject* kwargs) {
    WalkArguments a;
    if (!a.read(args, kwargs, "OUOO|OOO:walk_table")) return nullptr;
    pgn::WalkedChunk walked;
    walked.tags.resize(a.options.tags.size());
    pgn::TableRef table;
    const pgn::Layout layout{a.options.columns, {a.options.tags.begin(), a.options.tags.end()}};
    const bool ok = Failure::run_unlocked([&] {
        pgn::walk_games(a.bytes, a.first_game, a.options, walked);
        table = pgn::Table::of(std::move(walked), layout, a.source_text);
    });
    if (!ok) return nullptr;
    // The counts and problems stay with the table's walked chunk.
    const pgn::WalkedChunk& done = table->walked();
    PyRef problems = PyRef::steal(problem_list(done.problems, a.source));
    if (!problems) return nullptr;
    return new_batch(module, table, layout.copy(), problems.get(), done.games(), done.rows(),
                     done.games_filtered);
}

// _batch(plain, columns, tags, problems, games, positions, filtered): a pickled Batch again.
PyObject* restore_batch(PyObject* module, PyObject* args) {
    const char* plain = nullptr;
    Py_ssize_t size = 0;
    unsigned int columns = 0;
    PyObject *tags = nullptr, *problems = nullptr;
    unsigned long long games = 0, positions = 0, filtered = 0;
    if (!PyArg_ParseTuple(args, "y#IOOKKK:_batch", &plain, &size, &columns, &tags, &problems,
                          &games, &positions, &filtered))
        return nullptr;
    pgn::Layout layout{pgn::ColumnSet{std::uint16_t(columns)}, {}};
    if (!tag_names(tags, layout.tags)) return nullptr;
    pgn::TableRef table;
    const std::string_view bytes(plain, std::size_t(size));
    if (!Failure::run_unlocked([&] { table = pgn::Table::read(bytes); })) return nullptr;
    if (!table) {
        PyErr_SetString(PyExc_ValueError, "not a pickled Batch");
        return nullptr;
    }
    return new_batch(module, table, std::move(layout), problems, games, positions, filtered);
}

// --- Stream: batches as they come, as an Arrow C stream ----------------------------------------

struct StreamData {
    // The iterator and the Batch type, strong references touched only with the interpreter's
    // lock held.
    PyObject* batches;
    PyObject* batch_type;
    pgn::Layout layout;
    std::string error;
};

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    pgn::export_schema(static_cast<StreamData*>(stream->private_data)->layout, out);
    return 0;
}

// The next batch, asked of the Python iterator under the interpreter's lock: the consumer may
// call from any thread, with the lock or without it.
int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
    auto* data = static_cast<StreamData*>(stream->private_data);
    const PyGILState_STATE held = PyGILState_Ensure();
    int status = 0;
    PyObject* item = PyIter_Next(data->batches);
    if (item && Py_TYPE(item) == reinterpret_cast<PyTypeObject*>(data->batch_type)) {
        const auto* batch = reinterpret_cast<BatchObject*>(item);
        if (batch->layout->columns.bits == data->layout.columns.bits &&
            batch->layout->tags == data->layout.tags)
            pgn::export_table(*batch->table, out);
        else
            PyErr_SetString(PyExc_ValueError, "a Batch of other columns than the Stream's");
    } else if (item) {
        PyErr_SetString(PyExc_TypeError, "a Stream's iterator must give Batch objects");
    } else if (!PyErr_Occurred()) {
        out->release = nullptr;  // the end of the stream
    }
    Py_XDECREF(item);
    if (PyErr_Occurred()) {
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyRef text = PyRef::steal(value ? PyObject_Str(value) : nullptr);
        const std::optional<std::string_view> message =
            text && PyUnicode_Check(text.get()) ? utf8_text(text.get()) : std::nullopt;
        PyErr_Clear();
        data->error = message ? std::string(*message) : std::string("the walk failed");
        // Ctrl-C cannot pass through the consumer's C code as itself: it is raised again at
        // the interpreter's next check, once the consumer has returned with the error.
        if (type && PyErr_GivenExceptionMatches(type, PyExc_KeyboardInterrupt))
            PyErr_SetInterrupt();
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        status = EIO;
    }
    PyGILState_Release(held);
    return status;
}

const char* stream_error(ArrowArrayStream* stream) {
    const std::string& error = static_cast<StreamData*>(stream->private_data)->error;
    return error.empty() ? nullptr : error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
    auto* data = static_cast<StreamData*>(stream->private_data);
    const PyGILState_STATE held = PyGILState_Ensure();
    Py_XDECREF(data->batches);
    Py_XDECREF(data->batch_type);
    PyGILState_Release(held);
    delete data;
    stream->release = nullptr;
}

void release_stream_capsule(PyObject* capsule) {
    auto* stream =
        static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
    if (stream && stream->release) stream->release(stream);
    delete stream;
}

struct StreamObject {
    PyObject_HEAD PyObject* batches;  // the iterator, until a capsule takes it
    PyObject* batch_type;
    pgn::Layout* layout;
};

PyObject* stream_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"batches", "columns", "tags", nullptr};
    PyObject *batches = nullptr, *columns = Py_None, *tags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:Stream", const_cast<char**>(names),
                                     &batches, &columns, &tags))
        return nullptr;
    pgn::Layout layout;
    if (!column_set(columns, layout.columns) || (tags && !tag_names(tags, layout.tags)))
        return nullptr;
    PyRef iterator = PyRef::steal(PyObject_GetIter(batches));
    if (!iterator) return nullptr;
    const auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef self = PyRef::steal(alloc(type, 0));
    if (!self) return nullptr;
    auto* stream = reinterpret_cast<StreamObject*>(self.get());
    stream->layout = new (std::nothrow) pgn::Layout(std::move(layout));
    if (!stream->layout) return PyErr_NoMemory();
    stream->batches = iterator.release();
    // The module's Batch type, found through this type's module.
    PyRef module = PyRef::steal(PyImport_ImportModule("morvek_walk._native"));
    stream->batch_type = module ? PyObject_GetAttrString(module.get(), "Batch") : nullptr;
    if (!stream->batch_type) return nullptr;
    return self.release();
}

void stream_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* stream = reinterpret_cast<StreamObject*>(self);
    Py_XDECREF(stream->batches);
    Py_XDECREF(stream->batch_type);
    delete stream->layout;
    const auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

PyObject* stream_capsule(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"requested_schema", nullptr};
    PyObject* requested = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__",
                                     const_cast<char**>(names), &requested))
        return nullptr;
    auto* object = reinterpret_cast<StreamObject*>(self);
    if (!object->batches) {
        PyErr_SetString(PyExc_ValueError, "the stream has been read already: walk again");
        return nullptr;
    }
    auto* stream = new (std::nothrow) ArrowArrayStream();
    auto* data = new (std::nothrow)
        StreamData{object->batches, object->batch_type, object->layout->copy(), {}};
    if (!stream || !data) {
        delete stream;
        delete data;
        return PyErr_NoMemory();
    }
    *stream = ArrowArrayStream{stream_schema, stream_next, stream_error, stream_release, data};
    PyObject* capsule = PyCapsule_New(stream, "arrow_array_stream", release_stream_capsule);
    if (!capsule) {
        delete data;  // the iterator stays the object's
        delete stream;
        return nullptr;
    }
    Py_INCREF(object->batch_type);
    object->batches = nullptr;  // the capsule's now
    return capsule;
}

PyObject* stream_schema_capsule(PyObject* self, PyObject*) {
    return schema_capsule(*reinterpret_cast<StreamObject*>(self)->layout);
}

PyMethodDef STREAM_METHODS[] = {
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(stream_capsule)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\nThe batches as an Arrow C stream "
     "PyCapsule; a stream is read once."},
    {"__arrow_c_schema__", stream_schema_capsule, METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe batches' schema as an Arrow PyCapsule."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot STREAM_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(stream_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(stream_dealloc)},
    {Py_tp_methods, STREAM_METHODS},
    {Py_tp_doc, const_cast<char*>("Stream(batches, columns=None, tags=())\n--\n\nThe Batch "
                                  "objects of an iterable as one Arrow C stream.")},
    {0, nullptr},
};

PyType_Spec STREAM_SPEC = {
    "morvek_walk._native.Stream", sizeof(StreamObject), 0, Py_TPFLAGS_DEFAULT, STREAM_SLOTS,
};

PyMethodDef FUNCTIONS[] = {
    {"walk", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(walk)),
     METH_VARARGS | METH_KEYWORDS,
     "walk(data, source, first_game, tags, columns=None, where=())\n--\n\nThe rows of the whole "
     "games in data, numbered from first_game, as CSV lines without a header (the columns asked "
     "for, all by default, in the order of COLUMNS, then the tags named), with the games left "
     "out: (csv bytes, [(source, game, ply, text, message, reason)], games written, positions "
     "written, games the conditions of where left out)."},
    {"walk_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(walk_table)),
     METH_VARARGS | METH_KEYWORDS,
     "walk_table(data, source, first_game, tags, columns=None, where=())\n--\n\nAs walk(), the "
     "rows as a Batch: an Arrow record batch with the counts and problems beside it."},
    {"_batch", restore_batch, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    for (const auto& [name, spec] :
         {std::pair{"Splitter", &SPLITTER_SPEC}, std::pair{"Batch", &BATCH_SPEC},
          std::pair{"Stream", &STREAM_SPEC}}) {
        PyRef type = PyRef::steal(PyType_FromSpec(spec));
        if (!type) return -1;
        // Does not steal, unlike PyModule_AddObject.
        if (PyObject_SetAttrString(module, name, type.get()) < 0) return -1;
    }
    PyRef columns = PyRef::steal(PyTuple_New(Py_ssize_t(pgn::COLUMN_COUNT)));
    if (!columns) return -1;
    for (std::size_t i = 0; i < pgn::COLUMN_COUNT; ++i) {
        const std::string_view name = pgn::COLUMN_NAMES[i];
        PyObject* text = PyUnicode_FromStringAndSize(name.data(), Py_ssize_t(name.size()));
        // Steals the text even when it fails.
        if (!text || PyTuple_SetItem(columns.get(), Py_ssize_t(i), text) < 0) return -1;
    }
    if (PyObject_SetAttrString(module, "COLUMNS", columns.get()) < 0) return -1;
    if (PyModule_AddIntConstant(module, "LONGEST_GAME", long(pgn::LONGEST_GAME)) < 0) return -1;
    return 0;
}

PyModuleDef_Slot SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "morvek_walk._native",
    "The game walk of morvek-walk in native code: splitting PGN input into chunks of whole "
    "games, and walking a chunk into CSV rows.",
    0,
    FUNCTIONS,
    SLOTS,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace morvek

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&morvek::MODULE_DEF); }
