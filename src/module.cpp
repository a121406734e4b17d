// The module's one exported entry, its function table and its one-time state.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "docstrings.h"
#include "frame.h"
#include "operation.h"
#include "py_ref.h"

namespace morvek {
namespace {

template <const auto& Description, auto Body>
PyMethodDef row(const char* doc) {
    return {Description.func_name,
            reinterpret_cast<PyCFunction>(
                reinterpret_cast<void (*)()>(trampoline<Description, Body>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

// The function table. Registration follows its order, and so does __all__; an operation
// adds its description and its row here, keeping the order
// piece_list, legal_moves, attackers, apply_uci, uci_to_san, san_to_uci, see_move,
// null_move_fen, is_check, side_to_move.
constexpr FunctionDescription<1> PIECE_LIST{"piece_list", {"fen"}};
constexpr FunctionDescription<1> LEGAL_MOVES{"legal_moves", {"fen"}};
constexpr FunctionDescription<3> ATTACKERS{"attackers", {"fen", "sq", "color"}};
constexpr FunctionDescription<2> APPLY_UCI{"apply_uci", {"fen", "uci"}};
constexpr FunctionDescription<2> UCI_TO_SAN{"uci_to_san", {"fen", "uci"}};
constexpr FunctionDescription<2> SAN_TO_UCI{"san_to_uci", {"fen", "san"}};
constexpr FunctionDescription<2> SEE_MOVE{"see_move", {"fen", "uci"}};
constexpr FunctionDescription<1> NULL_MOVE_FEN{"null_move_fen", {"fen"}};
constexpr FunctionDescription<1> IS_CHECK{"is_check", {"fen"}};
constexpr FunctionDescription<1> SIDE_TO_MOVE{"side_to_move", {"fen"}};

// Function objects keep a pointer to their row, so the table lives as long as the process.
PyMethodDef FUNCTIONS[] = {
    row<PIECE_LIST, piece_list>(PIECE_LIST_DOC),
    row<LEGAL_MOVES, legal_moves>(LEGAL_MOVES_DOC),
    row<ATTACKERS, attackers>(ATTACKERS_DOC),
    row<APPLY_UCI, apply_uci>(APPLY_UCI_DOC),
    row<UCI_TO_SAN, uci_to_san>(UCI_TO_SAN_DOC),
    row<SAN_TO_UCI, san_to_uci>(SAN_TO_UCI_DOC),
    row<SEE_MOVE, see_move>(SEE_MOVE_DOC),
    row<NULL_MOVE_FEN, null_move_fen>(NULL_MOVE_FEN_DOC),
    row<IS_CHECK, is_check>(IS_CHECK_DOC),
    row<SIDE_TO_MOVE, side_to_move>(SIDE_TO_MOVE_DOC),
    {nullptr, nullptr, 0, nullptr},
};

void forget_module(void* module);

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "morvek_board",
    "",       // __doc__ is the empty string
    0,        // no per-module state: nothing is remembered between calls
    nullptr,  // the functions are added by register_functions
    nullptr, nullptr, nullptr,
    forget_module,  // m_free: the cache must not outlive the module object
};

// Who may have the module. The module object is made by the first interpreter whose import
// calls the init, but that import can still be refused after the init has returned: CPython
// 3.12 checks only then whether an isolated sub-interpreter may load a single-phase module,
// drops the object and may destroy that interpreter right after. So the maker is only a
// claimant, and becomes the owner once its import is known to have been accepted. CPython
// records the init function in the definition (m_base.m_init) exactly when it accepts a
// single-phase module, for later imports to call again; it never does so for a refused one.
// The module object is the claimant's interpreter's: no reference of ours keeps it (that
// interpreter's sys.modules and module registry do), and m_free, which CPython calls in that
// interpreter when the object dies, takes it out of the cache. So nothing of another
// interpreter is ever touched here, only these fields and the definition.
// Interpreters with a lock of their own (3.12 on) can be in the init at the same time, hence
// the spin lock; nothing that calls into the interpreter runs while it is held.
struct OneTimeState {
    std::int64_t owner = -1;     // proven: its import was accepted
    std::int64_t claimant = -1;  // made the module object, or is making it now
    bool making = false;
    PyObject* module = nullptr;  // borrowed: the claimant's or the owner's object
};
OneTimeState state;
std::atomic_flag state_lock;  // clear

class StateLock {
  public:
    StateLock() {
        while (state_lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~StateLock() { state_lock.clear(std::memory_order_release); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

// Written by CPython while it accepts the module, possibly on another interpreter's thread.
bool some_import_accepted() {
    return std::atomic_ref(MODULE_DEF.m_base.m_init).load(std::memory_order_acquire) != nullptr;
}

void forget_module(void* module) {
    StateLock locked;
    if (module != state.module) return;
    if (state.claimant != -1 && some_import_accepted()) state.owner = state.claimant;
    state.module = nullptr;
    state.claimant = -1;
}

PyObject* pending_error() {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    return nullptr;
}

PyRef module_all(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (all || !PyErr_ExceptionMatches(PyExc_AttributeError)) return all;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (all && PyObject_SetAttrString(module, "__all__", all.get()) < 0) return PyRef();
    return all;
}

bool register_functions(PyObject* module) {
    PyRef module_name = PyRef::steal(PyObject_GetAttrString(module, "__name__"));
    if (!module_name) return false;
    for (PyMethodDef* def = FUNCTIONS; def->ml_name; ++def) {
        PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
        if (!function) return false;
        PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name) return false;
        PyRef all = module_all(module);
        if (!all || PyList_Append(all.get(), name.get()) < 0) return false;
        // Does not steal, unlike PyModule_AddObject.
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return false;
    }
    return true;
}

PyObject* make_module() {
    PyRef module = PyRef::steal(PyModule_Create2(&MODULE_DEF, PYTHON_ABI_VERSION));
    if (!module) return pending_error();
    if (!register_functions(module.get())) return pending_error();
    return module.release();
}

}  // namespace
}  // namespace morvek

PyMODINIT_FUNC PyInit_morvek_board(void) {
    using namespace morvek;
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return pending_error();
    {
        StateLock locked;
        if (state.owner == -1 && state.claimant != -1 && state.claimant != id) {
            if (!state.making && some_import_accepted()) {
                state.owner = state.claimant;
            } else if (!state.making) {
                // The claimant's import was refused: its object is left to its interpreter.
                state.claimant = -1;
                state.module = nullptr;
            }
        }
        const std::int64_t holder = state.owner != -1 ? state.owner : state.claimant;
        if (holder != -1 && holder != id) {
            PyErr_SetString(PyExc_ImportError,
                            "morvek_board does not support sub-interpreters: it was first "
                            "initialised by another interpreter of this process");
            return nullptr;
        }
        if (state.module) {
            Py_INCREF(state.module);
            return state.module;
        }
        state.claimant = id;
        state.making = true;
    }
    // On failure the half-built module is dropped and nothing is claimed, so a later import
    // starts again from scratch.
    PyObject* module = make_module();
    StateLock locked;
    state.making = false;
    if (module) {
        state.module = module;
    } else if (state.owner != id) {
        state.claimant = -1;
    }
    return module;
}
