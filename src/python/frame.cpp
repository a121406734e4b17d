#include "frame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morvek {
namespace {

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

bool extract_arguments_tuple_dict(const FunctionDescription& description, PyObject* args,
                                  PyObject* kwargs, PyRef* slots) {
    const char* const func_name = description.func_name;
    const char* const* const parameter_names = description.positional_parameter_names;
    const std::size_t count = description.count;
    const Py_ssize_t given = PyTuple_Size(args);
    if (given < 0) return false;
    for (Py_ssize_t i = 0; i < given && std::size_t(i) < count; ++i)
        slots[i] = PyRef::borrow(PyTuple_GetItem(args, i));  // lends
    if (std::size_t(given) > count)
        return raise_type_error(PyRef::steal(
            PyUnicode_FromFormat("%s() takes %zu positional arguments but %zd were given",
                                 func_name, count, given)));

    if (kwargs) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {  // lends key and value
            const std::ptrdiff_t slot = keyword_slot(key, description);
            if (slot < 0) {
                PyRef shown = key_text(key);
                if (!shown) return false;
                return raise_type_error(PyRef::steal(PyUnicode_FromFormat(
                    "%s() got an unexpected keyword argument '%U'", func_name, shown.get())));
            }
            if (slots[slot])
                return raise_type_error(PyRef::steal(
                    PyUnicode_FromFormat("%s() got multiple values for argument '%s'",
                                         func_name, parameter_names[slot])));
            slots[slot] = PyRef::borrow(value);
        }
    }

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
            raise_type_error(PyRef::steal(PyUnicode_FromFormat(
                "'%U' object cannot be converted to 'PyString'", type.get())));
        argument_extraction_error(parameter_name);
        return std::nullopt;
    }
    // The interpreter's own converter hands out the UTF-8 form the str keeps (for ASCII text,
    // its very characters) without the bytes object that PyUnicode_AsUTF8String would build
    // for every call. The view lives as long as the str, which the caller's slot holds for
    // the whole call. A lone surrogate fails here with the interpreter's UnicodeEncodeError.
    const char* data = nullptr;
    Py_ssize_t size = 0;
    if (!PyArg_Parse(value, "s#", &data, &size)) {
        argument_extraction_error(parameter_name);
        return std::nullopt;
    }
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
    PyRef message = PyRef::steal(PyUnicode_FromStringAndSize(refusal.message.data(),
                                                             Py_ssize_t(refusal.message.size())));
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

PyRef to_python(std::string_view text) {
    return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size())));
}

PyRef to_python(bool value) { return PyRef::steal(PyBool_FromLong(value)); }

PyRef to_python(int value) { return PyRef::steal(PyLong_FromLong(value)); }

PyRef to_python(const std::vector<ShortText>& texts) {
    PyRef list = PyRef::steal(PyList_New(Py_ssize_t(texts.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyRef item = to_python(texts[i].view());
        if (!item) return item;
        // Steals the item even when it fails.
        if (PyList_SetItem(list.get(), Py_ssize_t(i), item.release()) < 0) return PyRef();
    }
    return list;
}

PyRef to_python(const std::vector<SquareTriple>& triples) {
    PyRef list = PyRef::steal(PyList_New(Py_ssize_t(triples.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < triples.size(); ++i) {
        PyRef tuple = PyRef::steal(PyTuple_New(3));
        if (!tuple) return tuple;
        for (std::size_t j = 0; j < 3; ++j) {
            PyRef item = to_python(triples[i][j].view());
            if (!item) return item;
            // Steals the item even when it fails.
            if (PyTuple_SetItem(tuple.get(), Py_ssize_t(j), item.release()) < 0) return PyRef();
        }
        if (PyList_SetItem(list.get(), Py_ssize_t(i), tuple.release()) < 0) return PyRef();
    }
    return list;
}

}  // namespace morvek
