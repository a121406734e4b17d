// The module's one exported entry, its function table and its one-time state.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <tuple>

#include "frame.h"
#include "operation.h"
#include "py_ref.h"

namespace morvek {
namespace {

// The module's functions as Python sees them: name, parameter names, the docstring's text
// after its signature line, body. Registration follows this order, and so does __all__; an
// operation adds its row here.
constexpr std::tuple SURFACE{
    Function{"piece_list",
             {"fen"},
             "[(square, piece, color)] for every piece, e.g. (\"e5\", \"N\", \"black\").",
             piece_list},
    Function{"legal_moves",
             {"fen"},
             "Legal moves in standard UCI (\"e1g1\" for castling).",
             legal_moves},
    Function{"attackers",
             {"fen", "sq", "color"},
             "Squares of `color` pieces attacking `sq` (full occupancy).",
             attackers},
    Function{"apply_uci", {"fen", "uci"}, "New FEN after playing a standard-UCI move.", apply_uci},
    Function{"uci_to_san", {"fen", "uci"}, "", uci_to_san},
    Function{"san_to_uci", {"fen", "san"}, "", san_to_uci},
    Function{"see_move",
             {"fen", "uci"},
             "Static exchange evaluation of a standard-UCI move, in centipawns\n"
             "(positive = good for the mover).",
             see_move},
    Function{"null_move_fen",
             {"fen"},
             "FEN with the side to move flipped (null move), or error if in check.\n"
             "Used by the null-move threat probe.",
             null_move_fen},
    Function{"is_check", {"fen"}, "", is_check},
    Function{"side_to_move", {"fen"}, "", side_to_move},
};

void forget_module(void* module);

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "morvek_board",
    "",       // __doc__ is the empty string
    0,        // no per-module state: nothing is remembered between calls
    nullptr,  // the functions are added by register_functions
    nullptr,
    nullptr,
    nullptr,
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
        while (state_lock.test_and_set(std::memory_order_acquire)) {}
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
    forget_shared_results();
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
    for (PyMethodDef* def = method_table<SURFACE>(); def->ml_name; ++def) {
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
    adopt_interpreter();
    PyRef module = PyRef::steal(PyModule_Create2(&MODULE_DEF, PYTHON_ABI_VERSION));
    if (!module) return pending_error();
    if (!register_functions(module.get())) return pending_error();
    if (PyModule_AddStringConstant(module.get(), "__version__", MORVEK_VERSION) < 0)
        return pending_error();
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
