#include "python_module/py_text.hpp"

#include "python_module/py_ref.hpp"

namespace python_module {

std::optional<std::string_view> utf8_view(PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

std::string lossy_text(PyObject* str) {
    if (auto text = utf8_view(str)) {
        return std::string(*text);
    }
    PyErr_Clear();
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    PyRef repaired;
    if (bytes) {
        repaired = PyRef::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                                     PyBytes_GET_SIZE(bytes.get()), "replace"));
    }
    if (repaired) {
        if (auto text = utf8_view(repaired.get())) {
            return std::string(*text);
        }
    }
    PyErr_Clear();
    return std::string();
}

std::string display_text(PyObject* object) {
    PyRef str = PyRef::steal(PyObject_Str(object));
    if (str) {
        return lossy_text(str.get());
    }
    PyErr_WriteUnraisable(object);
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    if (name && PyUnicode_Check(name.get())) {
        return "<unprintable " + lossy_text(name.get()) + " object>";
    }
    PyErr_Clear();
    return "<unprintable object>";
}

std::string type_qualname(PyObject* object) {
    PyRef name = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        return lossy_text(name.get());
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

}  // namespace python_module
