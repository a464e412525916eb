#include "python_module/arguments.hpp"

#include <cstring>

#include "python_module/py_ref.hpp"
#include "python_module/py_text.hpp"

namespace python_module {

namespace {

constexpr std::size_t parameter_count = 3;

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(const std::array<const char*, parameter_count>& names, std::size_t count) {
    std::string list;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            list += count > 2 ? ", " : " ";
            if (i + 1 == count) {
                list += "and ";
            }
        }
        list += '\'';
        list += names[i];
        list += '\'';
    }
    return list;
}

}  // namespace

Outcome<ArgumentSlots> bind_arguments(const Signature& signature, PyObject* const* args,
                                      Py_ssize_t nargs, PyObject* kwnames) {
    // Only a failure spells the name out.
    const std::string_view function = signature.function;
    if (nargs > static_cast<Py_ssize_t>(parameter_count)) {
        return Failure::type_error(std::string(function) + "() takes 3 positional arguments but " +
                                   std::to_string(nargs) + " were given");
    }
    ArgumentSlots slots{};
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        slots[static_cast<std::size_t>(i)] = args[i];
    }

    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, k);
        std::size_t matched = parameter_count;
        if (auto text = utf8_view(name)) {
            for (std::size_t p = 0; p < parameter_count; ++p) {
                if (*text == signature.parameters[p]) {
                    matched = p;
                    break;
                }
            }
        } else {
            // A name with no UTF-8 form matches no parameter.
            (void)Failure::fetch();
        }
        if (matched == parameter_count) {
            return Failure::type_error(std::string(function) + "() got an unexpected keyword argument '" +
                                       display_text(name) + "'");
        }
        if (slots[matched] != nullptr) {
            return Failure::type_error(std::string(function) + "() got multiple values for argument '" +
                                       signature.parameters[matched] + "'");
        }
        slots[matched] = args[nargs + k];
    }

    if (nargs < static_cast<Py_ssize_t>(parameter_count)) {
        std::array<const char*, parameter_count> missing{};
        std::size_t count = 0;
        for (std::size_t p = 0; p < parameter_count; ++p) {
            if (slots[p] == nullptr) {
                missing[count++] = signature.parameters[p];
            }
        }
        if (count > 0) {
            return Failure::type_error(std::string(function) + "() missing " + std::to_string(count) +
                                       " required positional argument" + (count == 1 ? "" : "s") +
                                       ": " + quoted_list(missing, count));
        }
    }
    return slots;
}

Outcome<std::string_view> text_argument(PyObject* object, const char* parameter) {
    if (!PyUnicode_Check(object)) {
        return Failure::type_error(std::string("argument '") + parameter + "': '" + type_qualname(object) +
                                   "' object cannot be converted to 'PyString'");
    }
    if (auto text = utf8_view(object)) {
        return *text;
    }
    // No UTF-8 form: the interpreter's UnicodeEncodeError goes on as it is.
    return Failure::fetch();
}

Outcome<std::optional<std::string>> optional_text_argument(PyObject* object, const char* parameter) {
    if (object == Py_None) {
        return std::optional<std::string>();
    }
    auto text = text_argument(object, parameter);
    if (!text) {
        return std::move(text).error();
    }
    return std::optional<std::string>(std::string(text.value()));
}

}  // namespace python_module
