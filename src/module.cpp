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
    Function{"piece_list", {"fen"},
             "[(square, piece, color)] for every piece, e.g. (\"e5\", \"N\", \"black\").",
             piece_list},
    Function{"legal_moves", {"fen"}, "Legal moves in standard UCI (\"e1g1\" for castling).",
             legal_moves},
    Function{"attackers", {"fen", "sq", "color"},
             "Squares of `color` pieces attacking `sq` (full occupancy).", attackers},
    Function{"apply_uci", {"fen", "uci"}, "New FEN after playing a standard-UCI move.", apply_uci},
    Function{"uci_to_san", {"fen", "uci"}, "", uci_to_san},
    Function{"san_to_uci", {"fen", "san"}, "", san_to_uci},
    Function{"see_move", {"fen", "uci"},
             "Static exchange evaluation of a standard-UCI move, in centipawns\n"
             "(positive = good for the mover).",
             see_move},
    Function{"null_move_fen", {"fen"},
             "FEN with the side to move flipped (null move), or error if in check.\n"
             "Used by the null-move threat probe.",
             null_move_fen},
    Function{"is_check", {"fen"}, "", is_check},
    Function{"side_to_move", {"fen"}, "", side_to_move},
};

// Function objects keep a pointer to their row, so the table lives as long as the process.
auto FUNCTIONS = method_table<SURFACE>();

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "morvek_board",
    "",       // __doc__ is the empty string
    0,        // no per-module state: nothing is remembered between calls
    nullptr,  // the functions are added by register_functions
    nullptr, nullptr, nullptr, nullptr,
};

// The interpreter that first initialised the module; the module object belongs to it.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* cached_module = nullptr;

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
    for (PyMethodDef* def = FUNCTIONS.data(); def->ml_name; ++def) {
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
    // On failure the half-built module is dropped and the cache stays empty, so a later
    // import starts again from scratch.
    if (!register_functions(module.get())) return pending_error();
    return module.release();
}

}  // namespace
}  // namespace morvek

PyMODINIT_FUNC PyInit_morvek_board(void) {
    using namespace morvek;
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return pending_error();
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "morvek_board does not support sub-interpreters: it was first "
                        "initialised by another interpreter of this process");
        return nullptr;
    }
    if (!cached_module) {
        cached_module = make_module();
        if (!cached_module) return nullptr;
    }
    Py_INCREF(cached_module);
    return cached_module;
}
