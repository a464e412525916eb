// The init entry of the extension: module creation once per process, its
// functions and attributes, and the refusal of a second interpreter.
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "python_module/boundary.hpp"
#include "python_module/functions.hpp"
#include "python_module/py_text.hpp"

namespace python_module {

namespace {

constexpr const char subinterpreter_message[] =
    "PyO3 modules do not yet support subinterpreters, see https://github.com/PyO3/pyo3/issues/576";

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "quorvelin_convert",  // m_name
    "",                   // m_doc
    0,                    // m_size
    nullptr,              // m_methods: added by the initializer
    nullptr,              // m_slots
    nullptr,              // m_traverse
    nullptr,              // m_clear
    nullptr,              // m_free
};

// The interpreter that imported the module first, -1 before that.
std::atomic<std::int64_t> owning_interpreter{-1};
// The module object, made by the first successful import and kept.
PyObject* module_cell = nullptr;

// Appends the name to the module's __all__ (created when absent), then sets
// the attribute.
Outcome<bool> add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            return Failure::fetch();
        }
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            return Failure::fetch();
        }
    } else if (!PyList_Check(all.get())) {
        // Built by appending: g++ 12 at -O3 reports a false overlap (-Wrestrict)
        // for a string literal prepended to a temporary string.
        std::string message = "'";
        message += type_qualname(all.get());
        message += "' object cannot be converted to 'PyList'";
        return Failure::type_error(std::move(message));
    }
    if (PyList_Append(all.get(), name) < 0) {
        (void)Failure::fetch();
        throw Fault("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) < 0) {
        return Failure::fetch();
    }
    return true;
}

// Fills a new module with its functions, then __version__.
Outcome<bool> initialize_module(PyObject* module) {
    for (PyMethodDef& record : function_records()) {
        PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
        if (!module_name) {
            return Failure::fetch();
        }
        PyRef function = PyRef::steal(PyCMethod_New(&record, module, module_name.get(), nullptr));
        if (!function) {
            return Failure::fetch();
        }
        PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name) {
            return Failure::fetch();
        }
        auto added = add_to_module(module, name.get(), function.get());
        if (!added) {
            return std::move(added).error();
        }
    }
    PyRef name = PyRef::steal(PyUnicode_FromString("__version__"));
    PyRef version = PyRef::steal(PyUnicode_FromString(version_text));
    if (!name || !version) {
        return Failure::fetch();
    }
    return add_to_module(module, name.get(), version.get());
}

Outcome<PyRef> create_module() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) {
        return Failure::fetch();
    }
    std::int64_t expected = -1;
    if (!owning_interpreter.compare_exchange_strong(expected, current) && expected != current) {
        return Failure::import_error(subinterpreter_message);
    }
    if (module_cell != nullptr) {
        return PyRef::borrow(module_cell);
    }
    PyRef module = PyRef::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) {
        return Failure::fetch();
    }
    auto initialized = initialize_module(module.get());
    if (!initialized) {
        return std::move(initialized).error();
    }
    if (module_cell == nullptr) {
        module_cell = PyRef::borrow(module.get()).release();
    }
    return PyRef::borrow(module_cell);
}

}  // namespace

}  // namespace python_module

PyMODINIT_FUNC PyInit_quorvelin_convert() {
    return python_module::run_entry([] { return python_module::create_module(); });
}
