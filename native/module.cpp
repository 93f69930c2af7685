// The Python module `corvane_bo.qr._native`: two str in, one str out. All logic lives in the core;
// this shell only matches arguments, moves the texts across and keeps C++ exceptions out of Python.
#include <Python.h>

#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "corvane_bo/core/ffi.hpp"
#include "corvane_bo/json/scan.hpp"
#include "corvane_bo/qr/registry.hpp"

namespace {

constexpr std::array<const char*, 2> parameters = {"op", "payload"};
constexpr const char* panic_attribute = "PanicException";

// Fills `bound` in parameter order, reporting mismatches in the interpreter's own words and in the
// order a Python `def call(op, payload)` would: keyword faults, then surplus, then missing.
bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::array<PyObject*, 2>& bound) {
    for (Py_ssize_t i = 0; i < nargs && i < 2; ++i) bound[i] = args[i];
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    if (nkw < 0) return false;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* name = PyTuple_GetItem(kwnames, k);
        if (name == nullptr) return false;
        std::size_t slot = 0;
        while (slot < parameters.size() && PyUnicode_CompareWithASCIIString(name, parameters[slot]) != 0) ++slot;
        if (slot == parameters.size()) {
            PyErr_Format(PyExc_TypeError, "call() got an unexpected keyword argument '%U'", name);
            return false;
        }
        if (bound[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "call() got multiple values for argument '%s'", parameters[slot]);
            return false;
        }
        bound[slot] = args[nargs + k];
    }
    if (nargs > 2) {
        PyErr_Format(PyExc_TypeError, "call() takes 2 positional arguments but %zd were given", nargs);
        return false;
    }
    if (bound[0] == nullptr && bound[1] == nullptr) {
        PyErr_SetString(PyExc_TypeError, "call() missing 2 required positional arguments: 'op' and 'payload'");
        return false;
    }
    for (std::size_t slot = 0; slot < parameters.size(); ++slot) {
        if (bound[slot] == nullptr) {
            PyErr_Format(PyExc_TypeError, "call() missing 1 required positional argument: '%s'", parameters[slot]);
            return false;
        }
    }
    return true;
}

// Borrows the UTF-8 text of a str argument; the view lives as long as the argument does.
bool utf8(const char* parameter, PyObject* argument, std::string_view& text) {
    if (!PyUnicode_Check(argument)) {
        PyObject* type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(argument)), "__qualname__");
        if (type_name == nullptr) return false;
        PyErr_Format(PyExc_TypeError, "argument '%s': '%S' object is not an instance of 'str'", parameter, type_name);
        Py_DECREF(type_name);
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(argument, &size);
    if (data == nullptr) return false;
    text = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

// A fault that got past the core's own guard. The module keeps no state, so the panic type is found
// on the module; when even that is impossible there is no honest way left to answer.
PyObject* raise_panic(PyObject* module, const char* message) noexcept {
    PyObject* type = PyObject_GetAttrString(module, panic_attribute);
    if (type == nullptr || !PyExceptionClass_Check(type)) Py_FatalError("uncaught panic at ffi boundary");
    PyErr_SetString(type, message);
    Py_DECREF(type);
    return nullptr;
}

// Answers up to this size may be handed over as Latin-1.
constexpr std::size_t latin1_most = 4096;

// The Latin-1 bytes of UTF-8 text from its first non-ASCII byte on, written at `w` (room for the
// text's size), or null if it holds a character from U+0100 on (or bytes that are not UTF-8).
char* to_latin1(const char* p, const char* end, char* w) noexcept {
    while (p < end) {
        const auto lead = static_cast<unsigned char>(p[0]);
        if ((lead != 0xC2 && lead != 0xC3) || end - p < 2 || (static_cast<unsigned char>(p[1]) & 0xC0) != 0x80)
            return nullptr;
        *w++ = static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(p[1]) & 0x3F));
        p += 2;
        const char* ascii_end = corvane_bo_json::scan::to_non_ascii(p, end);
        std::memcpy(w, p, static_cast<std::size_t>(ascii_end - p));
        w += ascii_end - p;
        p = ascii_end;
    }
    return w;
}

// The answer, whose first non-ASCII byte is at `first`, as a Latin-1 str; null (with no error set)
// when it holds a character from U+0100 on.
PyObject* latin1_str(const char* begin, const char* first, const char* end) {
    char latin1[latin1_most];
    const auto head = static_cast<std::size_t>(first - begin);
    std::memcpy(latin1, begin, head);
    const char* const w = to_latin1(first, end, latin1 + head);
    return w != nullptr ? PyUnicode_DecodeLatin1(latin1, w - latin1, nullptr) : nullptr;
}

// The answer as a str. An answer with a few Latin-1 letters (Spanish text, whether the payload
// carried them as such or as \u escapes) is handed over as Latin-1, which the interpreter copies
// without decoding UTF-8. Other answers are decoded from UTF-8, which for ASCII is a plain copy.
PyObject* answer_str(const std::string& answer) {
    const char* const begin = answer.data();
    const char* const end = begin + answer.size();
    if (answer.size() <= latin1_most) {
        if (const char* first = corvane_bo_json::scan::to_non_ascii(begin, end); first != end) {
            if (PyObject* text = latin1_str(begin, first, end)) return text;
            if (PyErr_Occurred()) return nullptr;
        }
    }
    return PyUnicode_FromStringAndSize(begin, static_cast<Py_ssize_t>(answer.size()));
}

PyObject* call(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    std::array<PyObject*, 2> bound{};
    if (!bind(args, nargs, kwnames, bound)) return nullptr;
    std::array<std::string_view, 2> texts;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!utf8(parameters[i], bound[i], texts[i])) return nullptr;
    }
    std::string answer;
    try {
        answer = corvane_bo_qr::call(texts[0], texts[1]);
    } catch (const std::exception& fault) {
        return raise_panic(module, fault.what());
    } catch (...) {
        return raise_panic(module, "unknown fault escaped the core");
    }
    return answer_str(answer);
}

int exec(PyObject* module) noexcept {
    static PyMethodDef methods[] = {
        {"call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)), METH_FASTCALL | METH_KEYWORDS,
         "call(op, payload)\n--\n\nRuns a QR operation; `payload` and the result are JSON strings\n"
         "(see `corvane_bo_core::ffi`)."},
        {nullptr, nullptr, 0, nullptr},
    };
    if (PyModule_AddFunctions(module, methods) < 0) return -1;
    const std::string_view version = corvane_bo_core::ffi::core_version;
    PyObject* version_text = PyUnicode_FromStringAndSize(version.data(), static_cast<Py_ssize_t>(version.size()));
    if (version_text == nullptr) return -1;
    const int added = PyModule_AddObjectRef(module, "__version__", version_text);
    Py_DECREF(version_text);
    if (added < 0) return -1;
    if (PyModule_AddIntConstant(module, "PROTOCOL_VERSION", corvane_bo_core::ffi::protocol_version) < 0) return -1;
    // The string kernels chosen for this machine, for benchmarks and bug reports.
    const std::string_view kernels = corvane_bo_json::scan::active_implementation();
    PyObject* kernels_text = PyUnicode_FromStringAndSize(kernels.data(), static_cast<Py_ssize_t>(kernels.size()));
    if (kernels_text == nullptr) return -1;
    const int kernels_added = PyModule_AddObjectRef(module, "kernels", kernels_text);
    Py_DECREF(kernels_text);
    if (kernels_added < 0) return -1;
    // Derived from BaseException so that `except Exception` in host code cannot swallow a core fault.
    PyObject* panic = PyErr_NewException("corvane_bo.qr._native.PanicException", PyExc_BaseException, nullptr);
    if (panic == nullptr) return -1;
    const int panic_added = PyModule_AddObjectRef(module, panic_attribute, panic);
    Py_DECREF(panic);
    return panic_added;
}

}  // namespace

PyMODINIT_FUNC PyInit__native() {
    static PyModuleDef_Slot slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(&exec)},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT,
        "_native",
        "",
        0,
        nullptr,
        slots,
        nullptr,
        nullptr,
        nullptr,
    };
    return PyModuleDef_Init(&def);
}
