// A test-only module that runs the core's routines without the legality checks the real
// operations make first, so that the tests can reach the internal checks and see them arrive
// as PanicException through the same frame as every real call.
#include <Python.h>

#include <string>
#include <tuple>

#include "chess/play.h"
#include "chess/uci.h"
#include "frame.h"
#include "san.h"
#include "see/see.h"

namespace morvek {
namespace {

Answer<std::string> unchecked(const chess::Board& board, std::string_view routine,
                              std::string_view uci) {
    const auto move = chess::parse_uci_move(board, uci);
    if (!move) return Refusal("bad move " + std::string(uci));
    if (routine == "san") return san_body(board, move.value());
    if (routine == "see")
        return std::to_string(chess::see(board, move.value().from, move.value().to));
    if (routine == "play") {
        chess::Board next = board;
        chess::play_unchecked(next, move.value());
        return chess::to_fen(next);
    }
    return Refusal("unknown routine " + std::string(routine));
}

constexpr std::tuple FUNCTION{Function{"unchecked", {"fen", "routine", "uci"}, "", unchecked}};

// How this process's frame takes its calls, for the tests to hold against the interpreter:
// (vector calls, the interpreter's own UTF-8 reader).
PyObject* conventions(PyObject*, PyObject*) {
    return Py_BuildValue("(OO)", vector_calls() ? Py_True : Py_False,
                         reading_utf8_directly() ? Py_True : Py_False);
}

PyMethodDef CONVENTIONS[] = {{"conventions", conventions, METH_NOARGS, nullptr},
                             {nullptr, nullptr, 0, nullptr}};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "_morvek_probe", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace morvek

PyMODINIT_FUNC PyInit__morvek_probe(void) {
    using namespace morvek;
    adopt_interpreter();
    MODULE_DEF.m_methods = method_table<FUNCTION>();
    PyObject* module = PyModule_Create2(&MODULE_DEF, PYTHON_ABI_VERSION);
    if (module && PyModule_AddFunctions(module, CONVENTIONS) < 0) Py_CLEAR(module);
    return module;
}
