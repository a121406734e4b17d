// A move-only owner of one strong reference, so that every early return drops what it holds.
#pragma once

#include <Python.h>

#include <utility>

namespace morvek {

class PyRef {
  public:
    PyRef() : p_(nullptr) {}
    static PyRef steal(PyObject* p) { return PyRef(p); }  // a new reference from the API
    static PyRef borrow(PyObject* p) {
        Py_XINCREF(p);
        return PyRef(p);
    }
    PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    PyRef& operator=(PyRef&& o) noexcept {
        PyRef gone(std::move(*this));
        p_ = std::exchange(o.p_, nullptr);
        return *this;
    }
    ~PyRef() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }  // hand it to the interpreter
    explicit operator bool() const { return p_ != nullptr; }

  private:
    explicit PyRef(PyObject* p) : p_(p) {}
    PyObject* p_;
};

}  // namespace morvek
