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
#include <type_traits>
#include <variant>

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
// the environment's compiled page template, the record keys and the type of
// the lazy cell sequence.
struct PageRenderer {
    ErrorClasses errors;
    Owned generate;           // the bound method generate of the template
    Owned template_filename;  // the file name Jinja2 gives the template's code
    std::array<Owned, KeyCount> keys;
    Owned cell_cursor_type;
};

PageRenderer* renderer = nullptr;

Owned cell_record(const PageRenderer& page, const CellRenderData& data);

// The `cells` of the template's context: a read-only sequence that makes a
// cell's record only when the template asks for that cell, so the template's
// loop (Python's sequence iterator over it) keeps one cell's fragments alive
// at a time. It has the length of the cell list and is indexed like it. It
// reads the notebook only while to_html runs; to_html clears `notebook`
// before it returns, after which the sequence is empty.
struct CellCursor {
    PyObject_HEAD
    const notebook::Notebook* notebook;
    const PageRenderer* page;
};

Py_ssize_t cell_count(PyObject* self) noexcept {
    const auto* cursor = reinterpret_cast<const CellCursor*>(self);
    return cursor->notebook == nullptr ? 0 : static_cast<Py_ssize_t>(cursor->notebook->cells.size());
}

PyObject* cell_at(PyObject* self, Py_ssize_t index) noexcept {
    const auto* cursor = reinterpret_cast<const CellCursor*>(self);
    if (index < 0 || index >= cell_count(self)) {
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        return nullptr;
    }
    try {
        const notebook::Cell& cell = cursor->notebook->cells[static_cast<std::size_t>(index)];
        return cell_record(*cursor->page, CellRenderData::from_cell(cell)).release();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& failure) {
        PyErr_SetString(PyExc_RuntimeError, failure.what());
        return nullptr;
    }
}

void drop_cell_cursor(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

Owned make_cell_cursor_type() {
    static PyType_Slot slots[] = {
        {Py_sq_length, reinterpret_cast<void*>(&cell_count)},
        {Py_sq_item, reinterpret_cast<void*>(&cell_at)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&drop_cell_cursor)},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        // An instance made from Python has no notebook and is empty.
        "quorvelin_convert.CellSequence", static_cast<int>(sizeof(CellCursor)), 0, Py_TPFLAGS_DEFAULT, slots,
    };
    return Owned(PyType_FromSpec(&spec));
}

// Points a new cursor at the notebook for the length of one rendering.
Owned open_cell_cursor(const PageRenderer& page, const notebook::Notebook& notebook) {
    auto* type = reinterpret_cast<PyTypeObject*>(page.cell_cursor_type.get());
    Owned made(PyType_GenericAlloc(type, 0));
    if (made) {
        auto* cursor = reinterpret_cast<CellCursor*>(made.get());
        cursor->notebook = &notebook;
        cursor->page = &page;
    }
    return made;
}

// Cuts the cursor off the notebook when the rendering ends, however it ends.
struct CursorClose {
    PyObject* cursor;
    ~CursorClose() { reinterpret_cast<CellCursor*>(cursor)->notebook = nullptr; }
};

// About the size of the page: every text the fragments carry, with room for
// a little escaping, plus the markup around them. Only a reservation: the
// page grows past it when the texts escape to more.
std::size_t page_size_estimate(const notebook::Notebook& notebook, std::string_view title) {
    auto padded = [](std::size_t size) { return size + size / 16 + 64; };
    auto bundle_size = [](const notebook::JsonObject& bundle) -> std::size_t {
        for (const char* key : {"text/plain", "image/png", "image/svg+xml"}) {
            const auto it = bundle.find(std::string_view(key));
            if (it != bundle.end() && it->second.is_string()) {
                return it->second.as_string()->size();
            }
        }
        return 0;
    };
    std::size_t size = page_template.size() + padded(title.size());
    for (const notebook::Cell& cell : notebook.cells) {
        size += padded(cell.source.text.size()) + 512;
        for (const notebook::CellOutput& output : cell.outputs) {
            std::size_t texts = std::visit(
                [&bundle_size](const auto& o) -> std::size_t {
                    using T = std::decay_t<decltype(o)>;
                    if constexpr (std::is_same_v<T, notebook::CellOutput::Stream>) {
                        return o.text.text.size();
                    } else if constexpr (std::is_same_v<T, notebook::CellOutput::Error>) {
                        std::size_t lines = o.ename.size() + o.evalue.size();
                        for (const std::string& line : o.traceback) {
                            lines += line.size() + 1;
                        }
                        return lines;
                    } else {
                        return bundle_size(o.data);
                    }
                },
                output.value);
            size += padded(texts) + 64;
        }
    }
    return size;
}

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
    made->generate.reset(PyObject_GetAttrString(compiled.get(), "generate"));
    made->template_filename.reset(PyObject_GetAttrString(compiled.get(), "filename"));
    made->cell_cursor_type = make_cell_cursor_type();
    if (!made->generate || !made->template_filename || !made->cell_cursor_type) {
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

// A new reference to a borrowed object.
Owned borrowed(PyObject* object) {
    Py_INCREF(object);
    return Owned(object);
}

Owned none_object() { return borrowed(Py_None); }

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

    Owned cells = open_cell_cursor(page, notebook);
    if (!cells) {
        return failure();
    }
    const CursorClose close{cells.get()};
    // The title goes into the page as escaped text, like every other text.
    Owned context(PyDict_New());
    if (!context || !set_item(context.get(), page.keys[Title], str_from(html_escape(title))) ||
        !set_item(context.get(), page.keys[Cells], borrowed(cells.get()))) {
        return failure();
    }
    std::string out;
    out.reserve(page_size_estimate(notebook, title));
    // The page comes piece by piece; each piece is let go once copied.
    Owned pieces(PyObject_CallOneArg(page.generate.get(), context.get()));
    if (!pieces) {
        return failure();
    }
    for (;;) {
        Owned piece(PyIter_Next(pieces.get()));
        if (!piece) {
            break;
        }
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(piece.get(), &size);
        if (data == nullptr) {
            return failure();
        }
        out.append(data, static_cast<std::size_t>(size));
    }
    if (PyErr_Occurred() != nullptr) {
        return failure();
    }
    return out;
}

}  // namespace convert_engine::converters
