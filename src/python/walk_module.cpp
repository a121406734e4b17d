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
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chess/invariant.h"
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

// [(bytes, first game number)] of the chunks.
PyObject* chunk_list(std::vector<pgn::Chunk>& chunks) {
    PyRef list = PyRef::steal(PyList_New(Py_ssize_t(chunks.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        PyRef bytes = PyRef::steal(
            PyBytes_FromStringAndSize(chunks[i].bytes.data(), Py_ssize_t(chunks[i].bytes.size())));
        if (!bytes) return nullptr;
        std::string().swap(chunks[i].bytes);  // each chunk's memory goes as soon as it is copied
        PyRef number = PyRef::steal(PyLong_FromUnsignedLongLong(chunks[i].first_game));
        if (!number) return nullptr;
        PyObject* pair = PyTuple_Pack(2, bytes.get(), number.get());
        // Steals the pair even when it fails.
        if (!pair || PyList_SetItem(list.get(), Py_ssize_t(i), pair) < 0) return nullptr;
    }
    return list.release();
}

// --- Splitter --------------------------------------------------------------------------------

struct SplitterObject {
    PyObject_HEAD pgn::Splitter* splitter;
    bool busy;      // a call of another thread is splitting, the lock released
    bool finished;  // finish() has been called
};

PyObject* splitter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"chunk_moves", nullptr};
    long long chunk_moves = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "L:Splitter", const_cast<char**>(names),
                                     &chunk_moves))
        return nullptr;
    if (chunk_moves < 1) {
        PyErr_SetString(PyExc_ValueError, "chunk_moves must be at least 1");
        return nullptr;
    }
    const auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef self = PyRef::steal(alloc(type, 0));
    if (!self) return nullptr;
    auto* object = reinterpret_cast<SplitterObject*>(self.get());
    object->splitter = new (std::nothrow) pgn::Splitter(std::uint64_t(chunk_moves));
    if (!object->splitter) return PyErr_NoMemory();
    object->busy = object->finished = false;
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
    return chunk_list(chunks);
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
    return chunk_list(chunks);
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
    {Py_tp_doc, const_cast<char*>(
                    "Splitter(chunk_moves)\n--\n\nCuts one input's PGN bytes, fed in blocks of any "
                    "size, into chunks of whole games of about chunk_moves moves each.")},
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

PyObject* walk(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"data", "source", "first_game", "tags", nullptr};
    PyObject *data = nullptr, *source = nullptr, *first = nullptr, *tags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OUOO:walk", const_cast<char**>(names), &data,
                                     &source, &first, &tags))
        return nullptr;
    std::string_view bytes;
    if (!bytes_argument(data, "data", bytes)) return nullptr;
    if (!PyLong_Check(first)) {
        PyErr_SetString(PyExc_TypeError, "first_game must be an int");
        return nullptr;
    }
    const unsigned long long first_game = PyLong_AsUnsignedLongLong(first);
    if (first_game == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
    if (first_game < 1) {
        PyErr_SetString(PyExc_ValueError, "first_game must be at least 1");
        return nullptr;
    }
    pgn::WalkOptions options;
    std::string source_text;
    if (!tag_names(tags, options.tags) || !source_bytes(source, source_text)) return nullptr;

    std::unique_ptr<Buffers> buffers;
    const bool ok = Failure::run_unlocked([&] {
        buffers = pool.take();
        pgn::walk_games(bytes, first_game, options, buffers->walked);
        pgn::write_csv(buffers->walked, options.columns, source_text, buffers->csv);
    });
    if (!ok) return nullptr;
    const pgn::WalkedChunk& walked = buffers->walked;
    PyRef rows = PyRef::steal(
        PyBytes_FromStringAndSize(buffers->csv.data(), Py_ssize_t(buffers->csv.size())));
    PyRef problems = PyRef::steal(rows ? problem_list(walked.problems, source) : nullptr);
    PyObject* answer = problems ? Py_BuildValue("(OOKK)", rows.get(), problems.get(),
                                                static_cast<unsigned long long>(walked.games()),
                                                static_cast<unsigned long long>(walked.rows()))
                                : nullptr;
    pool.give(std::move(buffers));
    return answer;
}

PyMethodDef FUNCTIONS[] = {
    {"walk", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(walk)),
     METH_VARARGS | METH_KEYWORDS,
     "walk(data, source, first_game, tags)\n--\n\nThe rows of the whole games in data, numbered "
     "from first_game, as CSV lines without a header (the columns of COLUMNS, then the tags "
     "named), with the games left out: (csv bytes, [(source, game, ply, text, message)], games "
     "written, positions written)."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    PyRef type = PyRef::steal(PyType_FromSpec(&SPLITTER_SPEC));
    if (!type) return -1;
    // Does not steal, unlike PyModule_AddObject.
    if (PyObject_SetAttrString(module, "Splitter", type.get()) < 0) return -1;
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
