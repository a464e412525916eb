// The HTML page: the page template rendered by Jinja2 through the CPython
// API. The caller holds the interpreter lock.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "convert_engine/converters/html_page.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "convert_engine/converters/html_fragments.hpp"
#include "convert_engine/converters/page_template.hpp"

namespace convert_engine::converters {

namespace {

struct Release {
    void operator()(PyObject* object) const noexcept { Py_XDECREF(object); }
};
using Owned = std::unique_ptr<PyObject, Release>;

Owned str_from(std::string_view text) {
    return Owned(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// The key strings of the context and the render records, made once.
enum Key : std::size_t {
    Title, Cells, IsCode, IsMarkdown, IsRaw, TypeLabel, SourceEscaped, ExecutionCount, Outputs, Html, KeyCount
};
constexpr std::array<const char*, KeyCount> key_names = {
    "title",      "cells",          "is_code",         "is_markdown", "is_raw",
    "type_label", "source_escaped", "execution_count", "outputs",     "html",
};

// Jinja2's error classes that name the kind of a failure.
struct ErrorClasses {
    Owned syntax_error;
    Owned undefined_error;
};

// Everything a rendering reuses, made on first use and kept for the process:
// the environment's compiled page template and the record keys.
struct PageRenderer {
    ErrorClasses errors;
    Owned render;            // the bound method render of the template
    Owned template_filename;  // the file name Jinja2 gives the template's code
    std::array<Owned, KeyCount> keys;
};

PageRenderer* renderer = nullptr;

bool matches(PyObject* exception, const Owned& type) {
    return type && PyErr_GivenExceptionMatches(exception, type.get());
}

long int_attribute(PyObject* object, const char* name) {
    Owned value(PyObject_GetAttrString(object, name));
    long result = value && PyLong_Check(value.get()) ? PyLong_AsLong(value.get()) : -1;
    PyErr_Clear();
    return result;
}

// The line of the template the failure happened on, from the innermost
// traceback entry in the template's code; -1 when none.
long template_line(PyObject* exception, PyObject* template_filename) {
    long line = -1;
    if (template_filename == nullptr) {
        return line;
    }
    Owned entry(PyException_GetTraceback(exception));
    while (entry && entry.get() != Py_None) {
        Owned frame(PyObject_GetAttrString(entry.get(), "tb_frame"));
        Owned code(frame ? PyObject_GetAttrString(frame.get(), "f_code") : nullptr);
        Owned filename(code ? PyObject_GetAttrString(code.get(), "co_filename") : nullptr);
        if (filename && PyUnicode_Check(filename.get()) &&
            PyUnicode_Compare(filename.get(), template_filename) == 0) {
            line = int_attribute(entry.get(), "tb_lineno");
        }
        entry.reset(PyObject_GetAttrString(entry.get(), "tb_next"));
    }
    PyErr_Clear();
    return line;
}

std::string utf8_of(PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = str != nullptr && PyUnicode_Check(str) ? PyUnicode_AsUTF8AndSize(str, &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return std::string();
    }
    return std::string(data, static_cast<std::size_t>(size));
}

// Takes the interpreter's pending exception as a TemplateRender error:
// "<kind>: <detail> (in notebook:<line>)". Memory exhaustion is not a
// template failure and goes on as std::bad_alloc.
error::ConvertError take_failure(const ErrorClasses& errors, PyObject* template_filename) {
    PyObject* raw_type = nullptr;
    PyObject* raw_value = nullptr;
    PyObject* raw_traceback = nullptr;
    PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
    PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
    Owned type(raw_type);
    Owned value(raw_value);
    Owned traceback(raw_traceback);
    if (value && raw_traceback != nullptr) {
        PyException_SetTraceback(value.get(), raw_traceback);
    }
    if (type && PyErr_GivenExceptionMatches(type.get(), PyExc_MemoryError)) {
        throw std::bad_alloc();
    }

    std::string kind = "invalid operation";
    std::string detail;
    long line = -1;
    if (value && matches(type.get(), errors.syntax_error)) {
        kind = "syntax error";
        Owned message(PyObject_GetAttrString(value.get(), "message"));
        detail = utf8_of(message.get());
        line = int_attribute(value.get(), "lineno");
    } else {
        if (matches(type.get(), errors.undefined_error)) {
            kind = "undefined value";
        }
        if (value) {
            Owned text(PyObject_Str(value.get()));
            detail = utf8_of(text.get());
            line = template_line(value.get(), template_filename);
        }
    }
    PyErr_Clear();

    std::string text = std::move(kind);
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    if (line > 0) {
        text += " (in notebook:" + std::to_string(line) + ")";
    }
    return error::ConvertError::template_render(std::move(text));
}

// Imports Jinja2 and compiles the page template in a default environment
// with the template registered under the name "notebook".
Result<std::unique_ptr<PageRenderer>, error::ConvertError> make_renderer() {
    auto made = std::make_unique<PageRenderer>();
    auto failure = [&made] { return take_failure(made->errors, nullptr); };

    Owned jinja(PyImport_ImportModule("jinja2"));
    if (!jinja) {
        return failure();
    }
    made->errors.syntax_error.reset(PyObject_GetAttrString(jinja.get(), "TemplateSyntaxError"));
    made->errors.undefined_error.reset(PyObject_GetAttrString(jinja.get(), "UndefinedError"));
    if (!made->errors.syntax_error || !made->errors.undefined_error) {
        return failure();
    }

    Owned name(PyUnicode_FromString("notebook"));
    Owned text = str_from(page_template);
    Owned sources(PyDict_New());
    if (!name || !text || !sources || PyDict_SetItem(sources.get(), name.get(), text.get()) < 0) {
        return failure();
    }
    Owned loader_class(PyObject_GetAttrString(jinja.get(), "DictLoader"));
    Owned loader(loader_class ? PyObject_CallOneArg(loader_class.get(), sources.get()) : nullptr);
    Owned environment_class(loader ? PyObject_GetAttrString(jinja.get(), "Environment") : nullptr);
    Owned no_arguments(environment_class ? PyTuple_New(0) : nullptr);
    Owned settings(no_arguments ? PyDict_New() : nullptr);
    if (!settings || PyDict_SetItemString(settings.get(), "loader", loader.get()) < 0) {
        return failure();
    }
    Owned environment(PyObject_Call(environment_class.get(), no_arguments.get(), settings.get()));
    Owned get_template(environment ? PyObject_GetAttrString(environment.get(), "get_template") : nullptr);
    Owned compiled(get_template ? PyObject_CallOneArg(get_template.get(), name.get()) : nullptr);
    if (!compiled) {
        return failure();
    }
    made->render.reset(PyObject_GetAttrString(compiled.get(), "render"));
    made->template_filename.reset(PyObject_GetAttrString(compiled.get(), "filename"));
    if (!made->render || !made->template_filename) {
        return failure();
    }
    for (std::size_t k = 0; k < KeyCount; ++k) {
        made->keys[k].reset(PyUnicode_InternFromString(key_names[k]));
        if (!made->keys[k]) {
            return failure();
        }
    }
    return made;
}

Result<PageRenderer*, error::ConvertError> page_renderer() {
    if (renderer != nullptr) {
        return renderer;
    }
    auto made = make_renderer();
    if (!made) {
        return std::move(made).error();
    }
    // Making it ran Python code, which may have let another thread make one
    // first; the first one made is kept.
    if (renderer == nullptr) {
        renderer = made.value().release();
    }
    return renderer;
}

bool set_item(PyObject* dict, const Owned& key, Owned value) {
    return value && PyDict_SetItem(dict, key.get(), value.get()) == 0;
}

Owned bool_object(bool value) { return Owned(PyBool_FromLong(value ? 1 : 0)); }

Owned none_object() {
    Py_INCREF(Py_None);
    return Owned(Py_None);
}

// One cell's record as the dict the template reads.
Owned cell_record(const PageRenderer& page, const CellRenderData& data) {
    Owned outputs(PyList_New(static_cast<Py_ssize_t>(data.outputs.size())));
    if (!outputs) {
        return nullptr;
    }
    for (std::size_t i = 0; i < data.outputs.size(); ++i) {
        Owned output(PyDict_New());
        if (!output || !set_item(output.get(), page.keys[Html], str_from(data.outputs[i].html))) {
            return nullptr;
        }
        PyList_SET_ITEM(outputs.get(), static_cast<Py_ssize_t>(i), output.release());
    }
    // The count is shown whole, up to 2^64 - 1.
    Owned count = data.execution_count ? Owned(PyLong_FromUnsignedLongLong(*data.execution_count)) : none_object();
    Owned record(PyDict_New());
    if (!record || !set_item(record.get(), page.keys[IsCode], bool_object(data.is_code)) ||
        !set_item(record.get(), page.keys[IsMarkdown], bool_object(data.is_markdown)) ||
        !set_item(record.get(), page.keys[IsRaw], bool_object(data.is_raw)) ||
        !set_item(record.get(), page.keys[TypeLabel], str_from(data.type_label)) ||
        !set_item(record.get(), page.keys[SourceEscaped], str_from(data.source_escaped)) ||
        !set_item(record.get(), page.keys[ExecutionCount], std::move(count)) ||
        !set_item(record.get(), page.keys[Outputs], std::move(outputs))) {
        return nullptr;
    }
    return record;
}

}  // namespace

TextResult to_html(const notebook::Notebook& notebook, std::string_view title) {
    auto found = page_renderer();
    if (!found) {
        return std::move(found).error();
    }
    const PageRenderer& page = *found.value();
    auto failure = [&page] { return take_failure(page.errors, page.template_filename.get()); };

    Owned cells(PyList_New(static_cast<Py_ssize_t>(notebook.cells.size())));
    if (!cells) {
        return failure();
    }
    for (std::size_t i = 0; i < notebook.cells.size(); ++i) {
        Owned record = cell_record(page, CellRenderData::from_cell(notebook.cells[i]));
        if (!record) {
            return failure();
        }
        PyList_SET_ITEM(cells.get(), static_cast<Py_ssize_t>(i), record.release());
    }
    // The title goes into the page as escaped text, like every other text.
    Owned context(PyDict_New());
    if (!context || !set_item(context.get(), page.keys[Title], str_from(html_escape(title))) ||
        !set_item(context.get(), page.keys[Cells], std::move(cells))) {
        return failure();
    }
    Owned rendered(PyObject_CallOneArg(page.render.get(), context.get()));
    if (!rendered) {
        return failure();
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(rendered.get(), &size);
    if (data == nullptr) {
        return failure();
    }
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace convert_engine::converters
