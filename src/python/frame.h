// The call frame every module function runs in: argument slots, string arguments, result
// objects and the one place where C++ failures become Python exceptions. Its FEN step,
// parse_board, needs no interpreter and lives with the operations (position.cpp).
//
// Convention inside the frame: a step that fails sets a Python exception and reports failure
// (false, an empty optional or a null PyRef); the caller returns nullptr at once. The only
// exception to it is result conversion, where a null from the interpreter means it could not
// allocate, which is raised as PanicException instead.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "chess/invariant.h"
#include "operation.h"
#include "py_ref.h"

namespace morvek {

// One function as Python sees it: its name, its parameters' names in order, the text of its
// docstring after the signature line ("" for none, so that __doc__ is None), and the body the
// frame calls. A module's functions are a std::tuple of these rows, in registration order; the
// method table, the description for argument extraction and the stored docstring all come
// from the row.
template <std::size_t N, class Body>
struct Function {
    const char* name;
    std::array<const char*, N> parameters;
    const char* doc;
    Body body;
};
template <std::size_t N, class Body>
Function(const char*, const char* const (&)[N], const char*, Body) -> Function<N, Body>;

// Every parameter of every function is positional-or-keyword and required, and no function
// belongs to a class, so the name and the parameter names are all a description needs.
struct FunctionDescription {
    const char* func_name;
    const char* const* positional_parameter_names;
    std::size_t count;
};

// Slots hold strong references: the walk over the keyword dictionary may run the caller's
// code (a key's __str__), which could otherwise free a borrowed value under us.
template <std::size_t N>
using Slots = std::array<PyRef, N>;

// --- how the interpreter hands the arguments over -----------------------------------------
// CPython 3.9's stable ABI has one convention for a function that takes keywords: the
// positional arguments packed into a tuple and the keywords into a dict, both built for the
// call. From 3.10 it also has the vector form, METH_FASTCALL | METH_KEYWORDS: the caller's own
// array, keyword values after the positional ones and their names in a tuple, so nothing is
// built. The module is compiled against 3.9 and takes the vector form where the interpreter
// it runs in has it in its stable ABI (adopt_interpreter); the flag is a fixed value of that
// ABI, not a symbol, so the one build still loads everywhere.
constexpr int METH_VECTOR = 0x0080 | METH_KEYWORDS;

struct TupleAndDict {
    PyObject* args;
    PyObject* kwargs;  // null when the call has no keywords

    Py_ssize_t positional_count() const { return PyTuple_Size(args); }
    PyObject* positional(Py_ssize_t i) const { return PyTuple_GetItem(args, i); }  // lends
    bool has_keywords() const { return kwargs != nullptr; }
    // visit(key, value) for each keyword in the dict's order, until one returns false.
    template <class Visit>
    bool each_keyword(Visit&& visit) const {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (kwargs && PyDict_Next(kwargs, &position, &key, &value))  // lends key and value
            if (!visit(key, value)) return false;
        return true;
    }
};

struct Vector {
    PyObject* const* args;
    Py_ssize_t nargs;
    PyObject* kwnames;  // null when the call has no keywords

    Py_ssize_t positional_count() const { return nargs; }
    PyObject* positional(Py_ssize_t i) const { return args[i]; }
    bool has_keywords() const { return kwnames != nullptr; }
    // The names come in the order the caller wrote them, which is the order the dict of the
    // other convention would hold them in, so both report the same first bad keyword.
    template <class Visit>
    bool each_keyword(Visit&& visit) const {
        const Py_ssize_t count = kwnames ? PyTuple_Size(kwnames) : 0;
        for (Py_ssize_t i = 0; i < count; ++i)
            if (!visit(PyTuple_GetItem(kwnames, i), args[nargs + i])) return false;  // lends
        return true;
    }
};

// Decides, once per process, the calling convention and the way str arguments are read, by the
// interpreter the module is loaded into. Called by the init entry before any function exists.
void adopt_interpreter();
bool vector_calls();
bool reading_utf8_directly();

// Fills one slot per parameter from either convention, or raises the interpreter's TypeError.
template <class Arguments>
bool extract_arguments(const FunctionDescription& description, const Arguments& arguments,
                       PyRef* slots);

// The UTF-8 form that a str keeps (for ASCII text, its very characters), valid while the str
// lives. A lone surrogate fails with the interpreter's own UnicodeEncodeError.
std::optional<std::string_view> utf8_text(PyObject* str);

// The UTF-8 text of a str argument, valid while the str lives; a TypeError names the
// parameter.
std::optional<std::string_view> extract_string(PyObject* value, const char* parameter_name);

void raise_refusal(const Refusal& refusal);
void raise_invariant_failure(const chess::InvariantFailure& failure);
// The interpreter failed to create a result object: print its error, raise PanicException.
void raise_api_failure();
[[noreturn]] void abort_at_boundary(const char* why);

PyRef to_python(std::string_view text);
inline PyRef to_python(const std::string& text) { return to_python(std::string_view(text)); }
template <std::size_t N>
PyRef to_python(const InlineText<N>& text) {
    return to_python(text.view());
}
PyRef to_python(bool value);
PyRef to_python(int value);
PyRef to_python(chess::Color color);
PyRef to_python(const UciMove& move);
PyRef to_python(const UciMoves& listed);
PyRef to_python(const SquareNames& names);
PyRef to_python(const Placement& placement);

// The shared result objects belong to the interpreter that made them; once the module object
// is gone they are never handed out again.
void forget_shared_results();

template <class T>
struct IsAnswer : std::false_type {};
template <class T>
struct IsAnswer<Answer<T>> : std::true_type {};

template <class R>
PyObject* result_object(const R& result) {
    if constexpr (IsAnswer<R>::value) {
        if (const Refusal* refusal = std::get_if<Refusal>(&result)) {
            raise_refusal(*refusal);
            return nullptr;
        }
        return result_object(std::get<0>(result));
    } else {
        PyRef object = to_python(result);
        if (!object) raise_api_failure();
        return object.release();
    }
}

enum class Fast { NotApplicable, Done, Failed };

// The common call: every argument a str passed by position. It reads them left to right and
// fails only on a str that cannot be encoded, with the same UnicodeEncodeError as the slot by
// slot path; any other call takes that path, which produces the argument errors.
template <std::size_t N>
Fast fast_strings(const Vector& arguments, std::array<std::string_view, N>& texts) {
    if (arguments.kwnames || arguments.nargs != Py_ssize_t(N)) return Fast::NotApplicable;
    for (std::size_t i = 0; i < N; ++i)
        if (!PyUnicode_Check(arguments.args[i])) return Fast::NotApplicable;
    for (std::size_t i = 0; i < N; ++i) {
        const std::optional<std::string_view> text = utf8_text(arguments.args[i]);
        if (!text) return Fast::Failed;
        texts[i] = *text;
    }
    return Fast::Done;
}

// In the tuple convention one call of the interpreter's converter reads them all.
template <std::size_t N>
Fast fast_strings(const TupleAndDict& arguments, std::array<std::string_view, N>& texts) {
    PyObject* args = arguments.args;
    if (arguments.kwargs || PyTuple_Size(args) != Py_ssize_t(N)) return Fast::NotApplicable;
    for (std::size_t i = 0; i < N; ++i) {
        PyObject* item = PyTuple_GetItem(args, Py_ssize_t(i));  // lends
        if (!PyUnicode_Check(item)) return Fast::NotApplicable;
    }
    const char* data[3] = {};
    Py_ssize_t size[3] = {};
    int ok;
    if constexpr (N == 1)
        ok = PyArg_ParseTuple(args, "s#", &data[0], &size[0]);
    else if constexpr (N == 2)
        ok = PyArg_ParseTuple(args, "s#s#", &data[0], &size[0], &data[1], &size[1]);
    else
        ok = PyArg_ParseTuple(args, "s#s#s#", &data[0], &size[0], &data[1], &size[1], &data[2],
                              &size[2]);
    if (!ok) return Fast::Failed;
    for (std::size_t i = 0; i < N; ++i) texts[i] = std::string_view(data[i], std::size_t(size[i]));
    return Fast::Done;
}

// Arguments, then the FEN, then the body; the first failure ends the call.
template <const auto& Table, std::size_t I, class Arguments>
PyObject* call_body(const Arguments& arguments) {
    constexpr auto& function = std::get<I>(Table);
    constexpr std::size_t N = function.parameters.size();
    static_assert(N >= 1 && N <= 3);
    constexpr FunctionDescription description{function.name, function.parameters.data(), N};
    // The views stay valid while the slots (or, on the fast path, the caller's arguments)
    // hold the str objects: for the whole call.
    Slots<N> slots;
    std::array<std::string_view, N> texts;
    const Fast fast = fast_strings<N>(arguments, texts);
    if (fast == Fast::Failed) return nullptr;
    if (fast == Fast::NotApplicable) {
        if (!extract_arguments(description, arguments, slots.data())) return nullptr;
        for (std::size_t i = 0; i < N; ++i) {
            std::optional<std::string_view> text =
                extract_string(slots[i].get(), function.parameters[i]);
            if (!text) return nullptr;
            texts[i] = *text;
        }
    }
    Answer<chess::Board> board = parse_board(texts[0]);
    if (const Refusal* refusal = std::get_if<Refusal>(&board)) {
        raise_refusal(*refusal);
        return nullptr;
    }
    return [&]<std::size_t... J>(std::index_sequence<J...>) {
        return result_object(function.body(std::get<chess::Board>(board), texts[J + 1]...));
    }(std::make_index_sequence<N - 1>{});
}

// Every call of a module function passes here, and this is the only try/catch of the module:
// no C++ exception crosses into the interpreter.
template <const auto& Table, std::size_t I, class Arguments>
PyObject* trampoline(const Arguments& arguments) noexcept {
    try {
        return call_body<Table, I>(arguments);
    } catch (const chess::InvariantFailure& failure) {
        raise_invariant_failure(failure);
        return nullptr;
    } catch (const std::bad_alloc&) {
        abort_at_boundary("out of memory");
    }
}

// The native entries the interpreter calls, one a convention.
template <const auto& Table, std::size_t I>
PyObject* tuple_entry(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
    return trampoline<Table, I>(TupleAndDict{args, kwargs});
}
template <const auto& Table, std::size_t I>
PyObject* vector_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return trampoline<Table, I>(Vector{args, nargs, kwnames});
}

// The stored docstring, piece by piece: the signature line the interpreter reads
// __text_signature__ from ("attackers(fen, sq, color)\n--\n\n"), then the row's text.
template <class F, class Put>
constexpr void spell_docstring(const F& function, Put&& put) {
    put(function.name);
    put("(");
    for (std::size_t i = 0; i < function.parameters.size(); ++i) {
        if (i > 0) put(", ");
        put(function.parameters[i]);
    }
    put(")\n--\n\n");
    put(function.doc);
}

// Spelled by the compiler into an array of exactly its size, NUL included.
template <const auto& Table, std::size_t I>
inline constexpr auto DOCSTRING = [] {
    constexpr auto& function = std::get<I>(Table);
    constexpr std::size_t size = [] {
        std::size_t n = 1;
        spell_docstring(function, [&](std::string_view piece) { n += piece.size(); });
        return n;
    }();
    std::array<char, size> text{};
    std::size_t at = 0;
    spell_docstring(function, [&](std::string_view piece) {
        for (const char c : piece) text[at++] = c;
    });
    return text;
}();

// The method table of a tuple of rows, in its order, closed by the empty row the interpreter
// stops at: one for each convention.
template <const auto& Table, bool Vectors>
auto method_table_for() {
    constexpr std::size_t count = std::tuple_size_v<std::remove_cvref_t<decltype(Table)>>;
    const auto entry = []<std::size_t I>(std::integral_constant<std::size_t, I>) {
        if constexpr (Vectors)
            return reinterpret_cast<PyCFunction>(
                reinterpret_cast<void (*)()>(vector_entry<Table, I>));
        else
            return reinterpret_cast<PyCFunction>(
                reinterpret_cast<void (*)()>(tuple_entry<Table, I>));
    };
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<PyMethodDef, count + 1>{
            PyMethodDef{std::get<I>(Table).name, entry(std::integral_constant<std::size_t, I>{}),
                        Vectors ? METH_VECTOR : METH_VARARGS | METH_KEYWORDS,
                        DOCSTRING<Table, I>.data()}...,
            PyMethodDef{nullptr, nullptr, 0, nullptr}};
    }(std::make_index_sequence<count>{});
}

// Function objects keep a pointer to their row, so both tables live as long as the process.
// Namespace-scope, filled while the module loads: a function-local static's thread-safe guard
// would bind the module to a newer C library.
template <const auto& Table>
inline auto TUPLE_METHODS = method_table_for<Table, false>();
template <const auto& Table>
inline auto VECTOR_METHODS = method_table_for<Table, true>();

// The table of the convention adopt_interpreter chose.
template <const auto& Table>
PyMethodDef* method_table() {
    return vector_calls() ? VECTOR_METHODS<Table>.data() : TUPLE_METHODS<Table>.data();
}

}  // namespace morvek
