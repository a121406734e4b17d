#include "frame.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "glibc_floor.h"

// dlsym moved from libdl into the C library in glibc 2.34 and took a new version there; the
// module names the old one, which every glibc since 2.17 resolves (libdl, loaded into every
// CPython process of those years, or the C library's copy under the old version).
extern "C" void* morvek_dlsym(void* handle, const char* name);
__asm__(".symver morvek_dlsym, dlsym@" MORVEK_GLIBC_BASE);

namespace morvek {
namespace {

// A function of the interpreter hosting the module, looked up by name; null where it has none.
void* find_interpreter_symbol(const char* name) { return morvek_dlsym(RTLD_DEFAULT, name); }

// Sets a TypeError from a str object built by the caller; a null text keeps the error that
// building it raised.
bool raise_type_error(PyRef message) {
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
    return false;
}

// The list of missing parameters as the interpreter's own messages spell it:
// 'a' / 'a' and 'b' / 'a', 'b', and 'c'.
std::string parameter_list_text(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) out += ',';
            out += i + 1 == names.size() ? " and " : " ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

// A str object for the type's __qualname__, or a placeholder when it cannot be read.
PyRef type_name(PyObject* object) {
    PyRef name = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) return name;
    if (!name) PyErr_Clear();
    return PyRef::steal(PyUnicode_FromString("<failed to extract type name>"));
}

// The key as str() renders it, or "<unprintable T object>" when str() fails.
PyRef key_text(PyObject* key) {
    PyRef text = PyRef::steal(PyObject_Str(key));
    if (text) return text;
    PyErr_Clear();
    PyRef type = type_name(key);
    if (!type) return type;
    return PyRef::steal(PyUnicode_FromFormat("<unprintable %U object>", type.get()));
}

// The slot a keyword fills, or -1 when the key names no parameter. Keys are compared as
// UTF-8 bytes; one that is not a str, or cannot be encoded, matches nothing.
std::ptrdiff_t keyword_slot(PyObject* key, const FunctionDescription& description) {
    if (!PyUnicode_Check(key)) return -1;
    PyRef utf8 = PyRef::steal(PyUnicode_AsUTF8String(key));
    if (!utf8) {
        PyErr_Clear();
        return -1;
    }
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(utf8.get(), &bytes, &size) < 0) {
        PyErr_Clear();
        return -1;
    }
    const std::string_view text(bytes, std::size_t(size));
    for (std::size_t i = 0; i < description.count; ++i)
        if (text == description.positional_parameter_names[i]) return std::ptrdiff_t(i);
    return -1;
}

}  // namespace

template <class Arguments>
bool extract_arguments(const FunctionDescription& description, const Arguments& arguments,
                       PyRef* slots) {
    const char* const func_name = description.func_name;
    const char* const* const parameter_names = description.positional_parameter_names;
    const std::size_t count = description.count;
    const Py_ssize_t given = arguments.positional_count();
    if (given < 0) return false;
    for (Py_ssize_t i = 0; i < given && std::size_t(i) < count; ++i)
        slots[i] = PyRef::borrow(arguments.positional(i));
    if (std::size_t(given) > count)
        return raise_type_error(PyRef::steal(PyUnicode_FromFormat(
            "%s() takes %zu positional arguments but %zd were given", func_name, count, given)));

    const bool keywords_fit = arguments.each_keyword([&](PyObject* key, PyObject* value) {
        const std::ptrdiff_t slot = keyword_slot(key, description);
        if (slot < 0) {
            PyRef shown = key_text(key);
            if (!shown) return false;
            return raise_type_error(PyRef::steal(PyUnicode_FromFormat(
                "%s() got an unexpected keyword argument '%U'", func_name, shown.get())));
        }
        if (slots[slot])
            return raise_type_error(PyRef::steal(PyUnicode_FromFormat(
                "%s() got multiple values for argument '%s'", func_name, parameter_names[slot])));
        slots[slot] = PyRef::borrow(value);
        return true;
    });
    if (!keywords_fit) return false;

    if (std::size_t(given) < count) {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < count; ++i)
            if (!slots[i]) missing.push_back(parameter_names[i]);
        if (!missing.empty()) {
            const std::string list = parameter_list_text(missing);
            return raise_type_error(PyRef::steal(PyUnicode_FromFormat(
                "%s() missing %zu required positional %s: %s", func_name, missing.size(),
                missing.size() == 1 ? "argument" : "arguments", list.c_str())));
        }
    }
    return true;
}

template bool extract_arguments(const FunctionDescription&, const TupleAndDict&, PyRef*);
template bool extract_arguments(const FunctionDescription&, const Vector&, PyRef*);

namespace {

// Only a failure whose type is exactly TypeError gets the parameter's name put in front; the
// new error keeps the old one's cause. Anything else (UnicodeEncodeError) passes unchanged.
void argument_extraction_error(const char* parameter_name) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef old_type = PyRef::steal(type);
    PyRef old_value = PyRef::steal(value);
    PyRef old_traceback = PyRef::steal(traceback);
    PyRef old_message = PyRef::steal(PyObject_Str(old_value.get()));
    if (!old_message) return;
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", parameter_name, old_message.get());
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value) PyException_SetCause(value, PyException_GetCause(old_value.get()));  // steals
    PyErr_Restore(type, value, traceback);
}

}  // namespace

std::optional<std::string_view> extract_string(PyObject* value, const char* parameter_name) {
    if (!PyUnicode_Check(value)) {
        PyRef type = type_name(value);
        if (type)
            raise_type_error(PyRef::steal(
                PyUnicode_FromFormat("'%U' object cannot be converted to 'PyString'", type.get())));
        argument_extraction_error(parameter_name);
        return std::nullopt;
    }
    // The caller's slot holds the str for the whole call, and so the view.
    const std::optional<std::string_view> text = utf8_text(value);
    if (!text) argument_extraction_error(parameter_name);
    return text;
}

namespace {

// PyUnicode_AsUTF8AndSize where the running interpreter's stable ABI has it (3.10 on), found
// in the process at import rather than linked, since the module's own link may name nothing
// newer than 3.9. Null means the interpreter's converter, PyArg_Parse, which hands out the same
// UTF-8 form but reads a format string first.
using Utf8Reader = const char* (*)(PyObject*, Py_ssize_t*);
Utf8Reader utf8_reader = nullptr;
bool vectors = false;

// The major and minor number at the start of the interpreter's version text ("3.11.7 (main,").
bool version_at_least(const char* version, int major, int minor) {
    int numbers[2] = {0, 0};
    for (int& number : numbers) {
        while (*version >= '0' && *version <= '9') number = number * 10 + (*version++ - '0');
        if (*version == '.') ++version;
    }
    return numbers[0] > major || (numbers[0] == major && numbers[1] >= minor);
}

}  // namespace

void adopt_interpreter() {
    vectors = version_at_least(Py_GetVersion(), 3, 10);
    utf8_reader =
        vectors ? reinterpret_cast<Utf8Reader>(find_interpreter_symbol("PyUnicode_AsUTF8AndSize"))
                : nullptr;
}

bool vector_calls() { return vectors; }
bool reading_utf8_directly() { return utf8_reader != nullptr; }

std::optional<std::string_view> utf8_text(PyObject* str) {
    const char* data = nullptr;
    Py_ssize_t size = 0;
    if (utf8_reader)
        data = utf8_reader(str, &size);
    else if (!PyArg_Parse(str, "s#", &data, &size))
        data = nullptr;
    if (!data) return std::nullopt;
    return std::string_view(data, std::size_t(size));
}

namespace {

constexpr const char* PANIC_DOC =
    "Raised when the native code of morvek_board fails one of its internal checks.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so an ordinary\n"
    "`except Exception` does not catch it and it usually propagates to the top and ends\n"
    "the interpreter.";

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;  // created on first use, kept for the process
    if (!type)
        type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_DOC,
                                         PyExc_BaseException, nullptr);
    return type;
}

void raise_panic(const char* message) {
    PyObject* type = panic_exception_type();
    if (!type) abort_at_boundary("uncaught panic at ffi boundary");
    PyErr_SetString(type, message);
}

}  // namespace

void raise_refusal(const Refusal& refusal) {
    // Sized, because the caller's text inside the message may hold NUL characters.
    PyRef message = PyRef::steal(
        PyUnicode_FromStringAndSize(refusal.message.data(), Py_ssize_t(refusal.message.size())));
    if (message) PyErr_SetObject(PyExc_ValueError, message.get());
}

void raise_invariant_failure(const chess::InvariantFailure& failure) {
    std::fprintf(stderr, "morvek_board: internal check failed at %s:%u: %s\n", failure.file,
                 failure.line, failure.message);
    raise_panic(failure.message);
}

void raise_api_failure() {
    if (!PyErr_Occurred()) abort_at_boundary("uncaught panic at ffi boundary");
    PyErr_Print();
    raise_panic("Python API call failed");
}

void abort_at_boundary(const char* why) {
    std::fprintf(stderr, "morvek_board: %s\n", why);
    std::fflush(stderr);
    std::abort();
}

// Every text the operations make is ASCII (FEN, SAN, UCI, squares, colours), and CPython makes
// a str of one-byte characters with a copy from Latin-1, where from UTF-8 it decodes first.
PyRef to_python(std::string_view text) {
    return PyRef::steal(PyUnicode_DecodeLatin1(text.data(), Py_ssize_t(text.size()), nullptr));
}

PyRef to_python(bool value) { return PyRef::steal(PyBool_FromLong(value)); }

PyRef to_python(int value) { return PyRef::steal(PyLong_FromLong(value)); }

namespace {

// Made on first use, by a call (so only ever by the interpreter that owns the module), and
// kept: one reference each is the tables', and every result hands out a new one. Untouched
// entries cost no memory (the tables are zero pages until written).
std::array<PyObject*, UCI_CODES> move_texts;
std::array<PyObject*, 64> square_names;
std::array<PyObject*, 2> colour_words;
std::array<PyObject*, chess::PIECE_KINDS> piece_letters;
std::array<PyObject*, PLACEMENT_CODES> placements;

// A new reference to the object in `slot`, made by `make` the first time; null when the
// interpreter could not make it (its error is set).
template <class Make>
PyObject* shared(PyObject*& slot, Make&& make) {
    if (!slot) slot = make().release();
    Py_XINCREF(slot);
    return slot;
}

PyObject* square_name(chess::Square s) {
    return shared(square_names[chess::index(s)], [&] { return to_python(square_text(s)); });
}

PyObject* colour_word(chess::Color c) {
    return shared(colour_words[chess::index(c)], [&] { return to_python(chess::color_name(c)); });
}

// A new list of `count` shared objects, the i-th from item(i).
template <class Item>
PyRef shared_list(std::size_t count, Item&& item) {
    PyRef list = PyRef::steal(PyList_New(Py_ssize_t(count)));
    if (!list) return list;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* object = item(i);
        // Steals the object even when it fails.
        if (!object || PyList_SetItem(list.get(), Py_ssize_t(i), object) < 0) return PyRef();
    }
    return list;
}

PyObject* move_text(const chess::Move& standard_form) {
    return shared(move_texts[uci_code(standard_form)],
                  [&] { return to_python(uci_text(standard_form)); });
}

}  // namespace

PyRef to_python(chess::Color color) { return PyRef::steal(colour_word(color)); }

PyRef to_python(const UciMove& move) { return PyRef::steal(move_text(move.standard_form)); }

PyRef to_python(const UciMoves& listed) {
    return shared_list(listed.moves.size(),
                       [&](std::size_t i) { return move_text(listed.moves[i]); });
}

PyRef to_python(const SquareNames& names) {
    chess::BitBoard rest = names.squares;
    return shared_list(std::size_t(names.squares.count()), [&](std::size_t) {
        const chess::Square s = *rest.begin();
        rest = rest.without(s);
        return square_name(s);
    });
}

PyRef to_python(const Placement& placement) {
    return shared_list(placement.size, [&](std::size_t i) {
        const PlacedPiece& p = placement.pieces[i];
        return shared(placements[placement_code(p)], [&] {
            PyRef square = PyRef::steal(square_name(p.square));
            PyRef letter = PyRef::steal(shared(piece_letters[chess::index(p.piece)],
                                               [&] { return to_python(placement_texts(p)[1]); }));
            PyRef colour = PyRef::steal(colour_word(p.color));
            if (!square || !letter || !colour) return PyRef();
            return PyRef::steal(PyTuple_Pack(3, square.get(), letter.get(), colour.get()));
        });
    });
}

void forget_shared_results() {
    move_texts.fill(nullptr);
    square_names.fill(nullptr);
    colour_words.fill(nullptr);
    piece_letters.fill(nullptr);
    placements.fill(nullptr);
}

}  // namespace morvek
