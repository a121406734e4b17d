// The floor for the module's call cost: ten limited-API functions with the same names,
// parameters and calling convention as the module's on the running interpreter (positional
// tuple plus keyword dictionary under 3.9, the vector form from 3.10), which take their str
// arguments as UTF-8 the way the module does, build a result of the configured shape, and
// compute nothing. Like the module's, list items and the colour word are objects made once and
// handed out again; other texts are new every call.
//
//   import _floor; _floor.shape("legal_moves", "list_str", 48, 4); _floor.legal_moves(fen)
//
// For a walk over many positions, `shapes` sets one shape a call, taken in turn:
//   _floor.shapes("legal_moves", [("list_str", 20, 4), ("list_str", 31, 4), ...])
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Kind { Str, SharedStr, ListStr, ListTriple, Int, Bool };

struct Shape {
    Kind kind = Kind::Str;
    Py_ssize_t count = 0;
    Py_ssize_t length = 0;
};

Shape shapes[10];
std::vector<Shape> sequences[10];  // when not empty, one a call in turn instead of shapes[]
std::size_t next_shape[10];
const char* const NAMES[10] = {"piece_list", "legal_moves", "attackers", "apply_uci",
                               "uci_to_san", "san_to_uci",  "see_move",  "null_move_fen",
                               "is_check",   "side_to_move"};
const char TEXT[128] =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP";

// One made-once object per length (texts) and one triple: what a shared result hands out.
PyObject* shared_texts[sizeof TEXT];
PyObject* shared_triple;

PyObject* shared_text(Py_ssize_t length) {
    PyObject*& slot = shared_texts[length];
    if (!slot) slot = PyUnicode_FromStringAndSize(TEXT, length);
    Py_XINCREF(slot);
    return slot;
}

PyObject* triple() {
    if (!shared_triple)
        shared_triple = Py_BuildValue("(s#s#s#)", TEXT, Py_ssize_t(2), TEXT, Py_ssize_t(1), TEXT,
                                      Py_ssize_t(5));
    Py_XINCREF(shared_triple);
    return shared_triple;
}

PyObject* shared_list(Py_ssize_t count, Py_ssize_t length, bool triples) {
    PyObject* list = PyList_New(count);
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = triples ? triple() : shared_text(length);
        if (!item || PyList_SetItem(list, i, item) < 0) {
            Py_DECREF(list);
            return nullptr;
        }
    }
    return list;
}

PyObject* build(const Shape& s) {
    switch (s.kind) {
        case Kind::Str: return PyUnicode_FromStringAndSize(TEXT, s.length);
        case Kind::SharedStr: return shared_text(s.length);
        case Kind::Int: return PyLong_FromLong(long(s.count));
        case Kind::Bool: return PyBool_FromLong(s.count != 0);
        case Kind::ListStr: return shared_list(s.count, s.length, false);
        case Kind::ListTriple: return shared_list(s.count, 0, true);
    }
    return nullptr;
}

// As the module reads str arguments: PyUnicode_AsUTF8AndSize where the interpreter's stable
// ABI has it (3.10 on), else the interpreter's converter.
using Utf8Reader = const char* (*)(PyObject*, Py_ssize_t*);
Utf8Reader utf8_reader;
bool vectors;

bool utf8(PyObject* str, const char*& data, Py_ssize_t& size) {
    if (utf8_reader) return (data = utf8_reader(str, &size)) != nullptr;
    return PyArg_Parse(str, "s#", &data, &size) != 0;
}

PyObject* result(int index) {
    const std::vector<Shape>& sequence = sequences[index];
    if (sequence.empty()) return build(shapes[index]);
    std::size_t& next = next_shape[index];
    const Shape& s = sequence[next];
    if (++next == sequence.size()) next = 0;
    return build(s);
}

template <int Index, int Arity>
PyObject* floor_function(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* one[] = {"fen", nullptr};
    static const char* two[] = {"fen", Index == 5 ? "san" : "uci", nullptr};
    static const char* three[] = {"fen", "sq", "color", nullptr};
    const char* texts[3];
    Py_ssize_t sizes[3];
    int ok;
    if constexpr (Arity == 1)
        ok = PyArg_ParseTupleAndKeywords(args, kwargs, "s#", const_cast<char**>(one), &texts[0],
                                         &sizes[0]);
    else if constexpr (Arity == 2)
        ok = PyArg_ParseTupleAndKeywords(args, kwargs, "s#s#", const_cast<char**>(two), &texts[0],
                                         &sizes[0], &texts[1], &sizes[1]);
    else
        ok = PyArg_ParseTupleAndKeywords(args, kwargs, "s#s#s#", const_cast<char**>(three),
                                         &texts[0], &sizes[0], &texts[1], &sizes[1], &texts[2],
                                         &sizes[2]);
    if (!ok) return nullptr;
    return result(Index);
}

// Positional str arguments only: the benchmark passes nothing else.
template <int Index, int Arity>
PyObject* floor_vector(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (kwnames || nargs != Arity) {
        PyErr_SetString(PyExc_TypeError, "the floor takes its arguments by position");
        return nullptr;
    }
    for (int i = 0; i < Arity; ++i) {
        const char* text;
        Py_ssize_t size;
        if (!PyUnicode_Check(args[i])) {
            PyErr_SetString(PyExc_TypeError, "not a str");
            return nullptr;
        }
        if (!utf8(args[i], text, size)) return nullptr;
    }
    return result(Index);
}

int function_index(const char* name) {
    for (int i = 0; i < 10; ++i)
        if (!std::strcmp(name, NAMES[i])) return i;
    return -1;
}

bool read_shape(const char* kind, Py_ssize_t count, Py_ssize_t length, Shape& s) {
    s = Shape{Kind::Str, count, length};
    if (!std::strcmp(kind, "str"))
        s.kind = Kind::Str;
    else if (!std::strcmp(kind, "shared_str"))
        s.kind = Kind::SharedStr;
    else if (!std::strcmp(kind, "list_str"))
        s.kind = Kind::ListStr;
    else if (!std::strcmp(kind, "list_triple"))
        s.kind = Kind::ListTriple;
    else if (!std::strcmp(kind, "int"))
        s.kind = Kind::Int;
    else if (!std::strcmp(kind, "bool"))
        s.kind = Kind::Bool;
    else
        return false;
    return length <= Py_ssize_t(sizeof TEXT) - 1;
}

PyObject* set_shape(PyObject*, PyObject* args) {
    const char* name;
    const char* kind;
    Py_ssize_t count, length;
    if (!PyArg_ParseTuple(args, "ssnn", &name, &kind, &count, &length)) return nullptr;
    const int i = function_index(name);
    Shape s;
    if (i < 0 || !read_shape(kind, count, length, s)) {
        PyErr_SetString(PyExc_ValueError, "unknown function or shape");
        return nullptr;
    }
    shapes[i] = s;
    sequences[i].clear();
    Py_RETURN_NONE;
}

PyObject* set_shapes(PyObject*, PyObject* args) {
    const char* name;
    PyObject* list;
    if (!PyArg_ParseTuple(args, "sO!", &name, &PyList_Type, &list)) return nullptr;
    const int i = function_index(name);
    if (i < 0) {
        PyErr_SetString(PyExc_ValueError, "unknown function");
        return nullptr;
    }
    std::vector<Shape> sequence;
    for (Py_ssize_t k = 0, n = PyList_Size(list); k < n; ++k) {
        const char* kind;
        Py_ssize_t count, length;
        Shape s;
        if (!PyArg_ParseTuple(PyList_GetItem(list, k), "snn", &kind, &count, &length))
            return nullptr;
        if (!read_shape(kind, count, length, s)) {
            PyErr_SetString(PyExc_ValueError, "unknown shape");
            return nullptr;
        }
        sequence.push_back(s);
    }
    sequences[i] = std::move(sequence);
    next_shape[i] = 0;
    Py_RETURN_NONE;
}

#define FLOOR(i, arity)                                                                     \
    {NAMES[i],                                                                              \
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(floor_function<i, arity>)), \
     METH_VARARGS | METH_KEYWORDS, nullptr}
#define FLOOR_VECTOR(i, arity)                                                            \
    {NAMES[i],                                                                            \
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(floor_vector<i, arity>)), \
     0x0080 | METH_KEYWORDS, nullptr}
#define SETTERS                                                                                 \
    {"shape", set_shape, METH_VARARGS, nullptr}, {"shapes", set_shapes, METH_VARARGS, nullptr}, \
        {"vector_calls", vector_calls, METH_NOARGS, nullptr}, {                                 \
        nullptr, nullptr, 0, nullptr                                                            \
    }

PyObject* vector_calls(PyObject*, PyObject*) { return PyBool_FromLong(vectors); }

PyMethodDef TUPLE_METHODS[] = {
    FLOOR(0, 1), FLOOR(1, 1), FLOOR(2, 3), FLOOR(3, 2), FLOOR(4, 2), FLOOR(5, 2),
    FLOOR(6, 2), FLOOR(7, 1), FLOOR(8, 1), FLOOR(9, 1), SETTERS,
};
PyMethodDef VECTOR_METHODS[] = {
    FLOOR_VECTOR(0, 1),
    FLOOR_VECTOR(1, 1),
    FLOOR_VECTOR(2, 3),
    FLOOR_VECTOR(3, 2),
    FLOOR_VECTOR(4, 2),
    FLOOR_VECTOR(5, 2),
    FLOOR_VECTOR(6, 2),
    FLOOR_VECTOR(7, 1),
    FLOOR_VECTOR(8, 1),
    FLOOR_VECTOR(9, 1),
    SETTERS,
};

PyModuleDef MODULE = {
    PyModuleDef_HEAD_INIT, "_floor", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__floor(void) {
    int major = 0, minor = 0;
    std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor);
    vectors = major > 3 || (major == 3 && minor >= 10);
    if (vectors)
        utf8_reader = reinterpret_cast<Utf8Reader>(dlsym(RTLD_DEFAULT, "PyUnicode_AsUTF8AndSize"));
    MODULE.m_methods = vectors ? VECTOR_METHODS : TUPLE_METHODS;
    return PyModule_Create2(&MODULE, PYTHON_ABI_VERSION);
}
