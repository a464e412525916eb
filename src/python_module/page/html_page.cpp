// The HTML page: the page template rendered by Jinja2 through the CPython
// API. The caller holds the interpreter lock.
#include "python_module/page/html_page.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "convert_engine/converters/html_fragments.hpp"
#include "python_module/boundary.hpp"
#include "python_module/page/page_template.hpp"
#include "python_module/py_ref.hpp"
#include "python_module/raised.hpp"
#include "python_module/utf8_str.hpp"

namespace python_module::page {

namespace {

namespace converters = convert_engine::converters;
namespace notebook = convert_engine::notebook;
using convert_engine::error::ConvertError;

PyRef str_from(std::string_view text) {
    return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// The key strings of the context and the render records, made once.
enum Key : std::size_t {
    Title, Cells, IsCode, IsMarkdown, IsRaw, TypeLabel, SourceEscaped, ExecutionCount, Outputs, Html, KeyCount
};
constexpr std::array<const char*, KeyCount> key_names = {
    "title",      "cells",          "is_code",         "is_markdown", "is_raw",
    "type_label", "source_escaped", "execution_count", "outputs",     "html",
};

// Jinja2's error classes: TemplateError is the base of all of its own
// errors; the other two name the kind of a failure.
struct ErrorClasses {
    PyRef template_error;
    PyRef syntax_error;
    PyRef undefined_error;
};

// Everything a rendering reuses, made on first use and kept for the process:
// the environment's compiled page template, the record keys and the types of
// the lazy sequences.
struct PageRenderer {
    ErrorClasses errors;
    PyRef generate;           // the bound method generate of the template
    PyRef template_filename;  // the file name Jinja2 gives the template's code
    std::array<PyRef, KeyCount> keys;
    PyRef cell_sequence_type;
    PyRef output_sequence_type;
};

PageRenderer* kept_renderer = nullptr;

// ---- lazy sequences ------------------------------------------------------
//
// The template reads `cells`, and each cell's `outputs`, from read-only
// sequences that make a record only when the template asks for it, so the
// template's loops (Python's sequence iterator over them) keep one cell's
// record and one output's fragment alive at a time. They have the length of
// the list they stand for and are indexed like it. They read the notebook
// only while to_html runs: it cuts the cell sequence off the notebook
// before it returns, after which it and every output sequence made from it
// are empty.

struct CellSequence {
    PyObject_HEAD
    const notebook::Notebook* notebook;
    const PageRenderer* page;
};

struct OutputSequence {
    PyObject_HEAD
    PyObject* cells;  // the CellSequence it was made from (strong reference)
    std::size_t cell;
};

const notebook::Notebook* notebook_of(PyObject* cells) noexcept {
    return reinterpret_cast<const CellSequence*>(cells)->notebook;
}

// The cell an output sequence stands for, or null once the rendering ended
// (or for an instance made from Python, which has none).
const notebook::Cell* cell_of(PyObject* outputs) noexcept {
    const auto* sequence = reinterpret_cast<const OutputSequence*>(outputs);
    const notebook::Notebook* document = sequence->cells == nullptr ? nullptr : notebook_of(sequence->cells);
    return document == nullptr ? nullptr : &document->cells[sequence->cell];
}

Py_ssize_t cell_count(PyObject* self) noexcept {
    const notebook::Notebook* document = notebook_of(self);
    return document == nullptr ? 0 : static_cast<Py_ssize_t>(document->cells.size());
}

Py_ssize_t output_count(PyObject* self) noexcept {
    const notebook::Cell* cell = cell_of(self);
    return cell == nullptr ? 0 : static_cast<Py_ssize_t>(cell->outputs.size());
}

bool out_of_range(Py_ssize_t index, Py_ssize_t size) {
    if (index >= 0 && index < size) {
        return false;
    }
    PyErr_SetString(PyExc_IndexError, "list index out of range");
    return true;
}

// Runs a record builder inside a slot the interpreter calls, where nothing
// may be thrown: exhaustion becomes MemoryError, a fault PanicException.
template <class Build>
PyObject* slot_result(Build&& build) noexcept {
    try {
        return build().release();
    } catch (Raised& raised) {
        raised.restore();
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& failure) {
        return raise_fault(failure.what(), nullptr);
    }
}

bool set_item(PyObject* dict, const PyRef& key, PyRef value) {
    return value && PyDict_SetItem(dict, key.get(), value.get()) == 0;
}

PyRef bool_object(bool value) { return PyRef::steal(PyBool_FromLong(value ? 1 : 0)); }

PyRef output_sequence(PyObject* cells, std::size_t cell) {
    const auto* page = reinterpret_cast<const CellSequence*>(cells)->page;
    auto* type = reinterpret_cast<PyTypeObject*>(page->output_sequence_type.get());
    PyRef made = PyRef::steal(PyType_GenericAlloc(type, 0));
    if (made) {
        auto* sequence = reinterpret_cast<OutputSequence*>(made.get());
        Py_INCREF(cells);
        sequence->cells = cells;
        sequence->cell = cell;
    }
    return made;
}

// One cell's record as the dict the template reads; its outputs are a lazy
// sequence of their own.
PyRef cell_record(PyObject* cells, std::size_t index) {
    const auto* page = reinterpret_cast<const CellSequence*>(cells)->page;
    const auto data = converters::CellRenderData::without_outputs(notebook_of(cells)->cells[index]);
    // The count is shown whole, up to 2^64 - 1.
    PyRef count = data.execution_count ? PyRef::steal(PyLong_FromUnsignedLongLong(*data.execution_count))
                                       : PyRef::borrow(Py_None);
    PyRef record = PyRef::steal(PyDict_New());
    if (!record || !set_item(record.get(), page->keys[IsCode], bool_object(data.is_code)) ||
        !set_item(record.get(), page->keys[IsMarkdown], bool_object(data.is_markdown)) ||
        !set_item(record.get(), page->keys[IsRaw], bool_object(data.is_raw)) ||
        !set_item(record.get(), page->keys[TypeLabel], str_from(data.type_label)) ||
        !set_item(record.get(), page->keys[SourceEscaped], str_from(data.source_escaped)) ||
        !set_item(record.get(), page->keys[ExecutionCount], std::move(count)) ||
        !set_item(record.get(), page->keys[Outputs], output_sequence(cells, index))) {
        return PyRef();
    }
    return record;
}

PyObject* cell_at(PyObject* self, Py_ssize_t index) noexcept {
    if (out_of_range(index, cell_count(self))) {
        return nullptr;
    }
    return slot_result([&] { return cell_record(self, static_cast<std::size_t>(index)); });
}

PyObject* output_at(PyObject* self, Py_ssize_t index) noexcept {
    if (out_of_range(index, output_count(self))) {
        return nullptr;
    }
    return slot_result([&] {
        const notebook::Cell& cell = *cell_of(self);
        const auto* cells = reinterpret_cast<const OutputSequence*>(self)->cells;
        const auto* page = reinterpret_cast<const CellSequence*>(cells)->page;
        PyRef record = PyRef::steal(PyDict_New());
        if (!record) {
            return PyRef();
        }
        // A long fragment is written in the storage of its str.
        StrMemory memory;
        auto fragment =
            converters::OutputRenderData::from_output(cell.outputs[static_cast<std::size_t>(index)], &memory);
        if (!set_item(record.get(), page->keys[Html], memory.str_of(std::move(fragment.html)))) {
            return PyRef();
        }
        return record;
    });
}

void drop_sequence(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

void drop_output_sequence(PyObject* self) noexcept {
    Py_XDECREF(reinterpret_cast<OutputSequence*>(self)->cells);
    drop_sequence(self);
}

PyRef sequence_type(const char* name, int size, lenfunc length, ssizeargfunc item, destructor drop) {
    PyType_Slot slots[] = {
        {Py_sq_length, reinterpret_cast<void*>(length)},
        {Py_sq_item, reinterpret_cast<void*>(item)},
        {Py_tp_dealloc, reinterpret_cast<void*>(drop)},
        {0, nullptr},
    };
    // An instance made from Python stands for nothing and is empty.
    PyType_Spec spec = {name, size, 0, Py_TPFLAGS_DEFAULT, slots};
    return PyRef::steal(PyType_FromSpec(&spec));
}

// Points a new cell sequence at the notebook for the length of one rendering.
PyRef open_cells(const PageRenderer& page, const notebook::Notebook& document) {
    auto* type = reinterpret_cast<PyTypeObject*>(page.cell_sequence_type.get());
    PyRef made = PyRef::steal(PyType_GenericAlloc(type, 0));
    if (made) {
        auto* sequence = reinterpret_cast<CellSequence*>(made.get());
        sequence->notebook = &document;
        sequence->page = &page;
    }
    return made;
}

// Cuts the sequences off the notebook when the rendering ends, however it
// ends.
struct CellsClose {
    PyObject* cells;
    ~CellsClose() { reinterpret_cast<CellSequence*>(cells)->notebook = nullptr; }
};

// A first size for the page's str, in characters: the fixed head, every
// text the page shows, unescaped, and the least markup around them. For
// most pages it stays a little below the page's length, and the str grows
// past it. Starting above it would be as good for one page but not for a
// series: the str, cut to the page at the end, would leave the allocator a
// smaller block than the next page first asks for, so every page would
// start on fresh memory and pay its page faults.
std::size_t page_size_estimate(const notebook::Notebook& document, std::string_view title) {
    // The least markup around a cell (a markdown one's), around the outputs
    // of a code cell, and around each kind of output.
    static constexpr std::size_t cell_markup = 200;
    static constexpr std::size_t outputs_markup = 64;
    static constexpr std::size_t stream_markup = std::string_view("<pre class=\"stream-stdout\"></pre>").size();
    static constexpr std::size_t error_markup =
        std::string_view("<div class=\"output-error\"><strong></strong>: <pre></pre></div>").size();
    static constexpr std::size_t pre_markup = std::string_view("<pre></pre>").size();
    static constexpr std::size_t image_markup = std::string_view("<img src=\"data:image/png;base64,\" />").size();
    auto bundle_size = [](const notebook::JsonObject& bundle) -> std::size_t {
        const std::pair<const char*, std::size_t> shown[] = {
            {"text/plain", pre_markup}, {"image/png", image_markup}, {"image/svg+xml", 0}};
        for (const auto& [key, markup] : shown) {
            const auto it = bundle.find(std::string_view(key));
            if (it != bundle.end() && it->second.is_string()) {
                return it->second.as_string()->size() + markup;
            }
        }
        return pre_markup;  // around the bundle as JSON, of unknown size
    };
    // The template text before its first tag is printed whole, but for the
    // title's tag: about what the page's fixed head and end print.
    std::size_t size = page_template.find("{%") + title.size();
    for (const notebook::Cell& cell : document.cells) {
        size += cell.source.text.size() + cell_markup;
        if (cell.cell_type != notebook::CellType::Code || cell.outputs.empty()) {
            continue;
        }
        size += outputs_markup;
        for (const notebook::CellOutput& output : cell.outputs) {
            size += std::visit(
                [&bundle_size](const auto& o) -> std::size_t {
                    using T = std::decay_t<decltype(o)>;
                    if constexpr (std::is_same_v<T, notebook::CellOutput::Stream>) {
                        return o.text.text.size() + stream_markup;
                    } else if constexpr (std::is_same_v<T, notebook::CellOutput::Error>) {
                        std::size_t lines = o.ename.size() + o.evalue.size() + error_markup;
                        for (const std::string& line : o.traceback) {
                            lines += line.size();
                        }
                        return lines;
                    } else {
                        return bundle_size(o.data);
                    }
                },
                output.value);
        }
    }
    return size;
}

// ---- the page as a str ------------------------------------------------------
//
// Builds the page's str from the pieces as they come, each copied once into
// one growing str: no piece outlives its turn, and the page is not encoded
// to UTF-8 for the caller to decode again. The str starts with the
// estimated size and the narrowest kind, and takes a wider kind when a
// piece needs it, so the finished str is the one the pieces joined would
// give.
// The data and the widest character a str's kind holds. The 3.9 headers
// spell these as macros with C casts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
void* str_data(PyObject* str) noexcept { return PyUnicode_DATA(str); }
Py_UCS4 str_kind_max(PyObject* str) noexcept { return PyUnicode_MAX_CHAR_VALUE(str); }
#pragma GCC diagnostic pop

class StrBuilder {
public:
    explicit StrBuilder(std::size_t estimate) noexcept
        : capacity_(static_cast<Py_ssize_t>(std::min<std::size_t>(std::max<std::size_t>(estimate, 1), kLargest))) {}

    // False with a Python exception set.
    bool append(PyObject* piece) {
        if (!PyUnicode_Check(piece)) {
            PyErr_BadArgument();
            return false;
        }
        const Py_ssize_t size = PyUnicode_GET_LENGTH(piece);
        if (size == 0) {
            return true;
        }
        const Py_UCS4 widest = str_kind_max(piece);
        // A lone surrogate has no UTF-8 form: the page fails on it as the
        // UTF-8 of the piece would, with the same UnicodeEncodeError.
        if (widest > 0xFF && has_surrogate(piece)) {
            PyUnicode_AsUTF8AndSize(piece, nullptr);
            return false;
        }
        if (!make_room(size, widest)) {
            return false;
        }
        const int kind = PyUnicode_KIND(text_.get());
        if (PyUnicode_KIND(piece) == kind) {
            std::memcpy(static_cast<char*>(str_data(text_.get())) + length_ * kind, str_data(piece),
                        static_cast<std::size_t>(size) * static_cast<std::size_t>(kind));
        } else if (PyUnicode_CopyCharacters(text_.get(), length_, piece, 0, size) < 0) {
            return false;
        }
        length_ += size;
        return true;
    }

    // The page, cut to its length; null with a Python exception set.
    PyRef finish() {
        if (!text_) {
            return PyRef::steal(PyUnicode_New(0, 0));
        }
        return resized(length_) ? std::move(text_) : PyRef();
    }

private:
    static constexpr std::size_t kLargest = PY_SSIZE_T_MAX / 8;
    static constexpr Py_ssize_t kFirstStep = 64 << 10;

    static bool has_surrogate(PyObject* piece) {
        const int kind = PyUnicode_KIND(piece);
        const void* data = str_data(piece);
        for (Py_ssize_t i = 0, size = PyUnicode_GET_LENGTH(piece); i < size; ++i) {
            if (Py_UNICODE_IS_SURROGATE(PyUnicode_READ(kind, data, i))) {
                return true;
            }
        }
        return false;
    }

    // Room for `size` more characters, of up to `widest`.
    bool make_room(Py_ssize_t size, Py_UCS4 widest) {
        const Py_ssize_t needed = length_ + size;
        const bool wider = !text_ || widest > maxchar_;
        if (!wider && needed <= capacity_) {
            return true;
        }
        if (needed > capacity_) {
            // Past the estimate by a little first: most pages end soon
            // after it, and a small step can often take the free memory
            // after the str in place, where a large one moves it. Then
            // doubling, for a page much longer than its estimate.
            const Py_ssize_t step = grown_ ? capacity_ : kFirstStep;
            const bool room = capacity_ <= static_cast<Py_ssize_t>(kLargest) - step;
            capacity_ = room ? std::max(needed, capacity_ + step) : needed;
            grown_ = true;
        }
        if (!wider) {
            return resized(capacity_);
        }
        const Py_UCS4 maxchar = std::max(widest, maxchar_);
        PyRef made = PyRef::steal(PyUnicode_New(capacity_, maxchar));
        if (!made || (length_ > 0 && PyUnicode_CopyCharacters(made.get(), 0, text_.get(), 0, length_) < 0)) {
            return false;
        }
        text_ = std::move(made);
        maxchar_ = maxchar;
        return true;
    }

    // The str resized in place (it is this builder's alone).
    bool resized(Py_ssize_t size) {
        PyObject* text = text_.release();
        const int result = PyUnicode_Resize(&text, size);
        text_ = PyRef::steal(text);
        return result == 0;
    }

    PyRef text_;
    Py_ssize_t length_ = 0;
    Py_ssize_t capacity_;
    Py_UCS4 maxchar_ = 0x7F;
    bool grown_ = false;
};

// ---- failures ------------------------------------------------------------

long int_attribute(PyObject* object, const char* name) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(object, name));
    long result = value && PyLong_Check(value.get()) ? PyLong_AsLong(value.get()) : -1;
    PyErr_Clear();
    return result;
}

// The line of the template the failure happened on, from the innermost
// traceback entry in the template's code (Jinja2 rewrites the traceback of
// its own errors to name template lines); -1 when none.
long template_line(PyObject* exception, PyObject* template_filename) {
    long line = -1;
    PyRef entry = PyRef::steal(PyException_GetTraceback(exception));
    while (entry && entry.get() != Py_None) {
        PyRef frame = PyRef::steal(PyObject_GetAttrString(entry.get(), "tb_frame"));
        PyRef code = frame ? PyRef::steal(PyObject_GetAttrString(frame.get(), "f_code")) : PyRef();
        PyRef filename = code ? PyRef::steal(PyObject_GetAttrString(code.get(), "co_filename")) : PyRef();
        if (filename && PyUnicode_Check(filename.get()) && PyUnicode_Check(template_filename) &&
            PyUnicode_Compare(filename.get(), template_filename) == 0) {
            line = int_attribute(entry.get(), "tb_lineno");
        }
        entry = PyRef::steal(PyObject_GetAttrString(entry.get(), "tb_next"));
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

bool is_instance(PyObject* value, const PyRef& type) {
    return type && PyErr_GivenExceptionMatches(value, type.get());
}

// The interpreter's pending exception after a failed step. Jinja2's own
// errors become a TemplateRender error: "<kind>: <detail> (in
// notebook:<line>)". Every other exception (one a signal handler raised,
// an ImportError of Jinja2 itself, MemoryError, ...) is not the page's
// failure and is thrown as Raised, to reach the caller unchanged.
ConvertError take_failure(const ErrorClasses& errors, PyObject* template_filename) {
    if (PyErr_Occurred() == nullptr) {
        throw Fault("a Python call of the page failed without an exception");
    }
    if (!errors.template_error || !PyErr_ExceptionMatches(errors.template_error.get())) {
        throw Raised::fetch();
    }
    PyObject* raw_type = nullptr;
    PyObject* raw_value = nullptr;
    PyObject* raw_traceback = nullptr;
    PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
    PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
    PyRef type = PyRef::steal(raw_type);
    PyRef value = PyRef::steal(raw_value);
    PyRef traceback = PyRef::steal(raw_traceback);
    if (value && raw_traceback != nullptr) {
        PyException_SetTraceback(value.get(), raw_traceback);
    }

    std::string kind = "invalid operation";
    std::string detail;
    long line = -1;
    if (value && is_instance(type.get(), errors.syntax_error)) {
        kind = "syntax error";
        PyRef message = PyRef::steal(PyObject_GetAttrString(value.get(), "message"));
        detail = utf8_of(message.get());
        line = int_attribute(value.get(), "lineno");
    } else {
        if (is_instance(type.get(), errors.undefined_error)) {
            kind = "undefined value";
        }
        if (value) {
            PyRef text = PyRef::steal(PyObject_Str(value.get()));
            detail = utf8_of(text.get());
            if (template_filename != nullptr) {
                line = template_line(value.get(), template_filename);
            }
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
    return ConvertError::template_render(std::move(text));
}

// ---- the renderer ----------------------------------------------------------

// The environment's `safe` filter. Nothing is escaped on printing here (the
// template's name has no HTML extension), so marking a value safe changes no
// byte of the page; Jinja2's own filter would still copy the value into a
// Markup, and printing would copy it back into a str, and the fragments of
// images and large bundles are most of the page. This one hands the value on.
PyObject* pass_as_is(PyObject*, PyObject* value) {
    Py_INCREF(value);
    return value;
}

PyMethodDef pass_as_is_record = {"safe", pass_as_is, METH_O, nullptr};

PyRef attribute(const PyRef& object, const char* name) {
    return object ? PyRef::steal(PyObject_GetAttrString(object.get(), name)) : PyRef();
}

// Imports Jinja2 and compiles the page template in a default environment
// (its `safe` filter aside) with the template registered under the name
// "notebook".
convert_engine::Result<std::unique_ptr<PageRenderer>, ConvertError> make_renderer() {
    auto made = std::make_unique<PageRenderer>();
    auto failure = [&made] { return take_failure(made->errors, nullptr); };

    PyRef jinja = PyRef::steal(PyImport_ImportModule("jinja2"));
    made->errors.template_error = attribute(jinja, "TemplateError");
    made->errors.syntax_error = attribute(jinja, "TemplateSyntaxError");
    made->errors.undefined_error = attribute(jinja, "UndefinedError");
    if (!made->errors.template_error || !made->errors.syntax_error || !made->errors.undefined_error) {
        return failure();
    }

    PyRef name = PyRef::steal(PyUnicode_FromString("notebook"));
    PyRef text = str_from(page_template);
    PyRef sources = PyRef::steal(PyDict_New());
    if (!name || !text || !sources || PyDict_SetItem(sources.get(), name.get(), text.get()) < 0) {
        return failure();
    }
    PyRef loader_class = attribute(jinja, "DictLoader");
    PyRef loader = loader_class ? PyRef::steal(PyObject_CallOneArg(loader_class.get(), sources.get())) : PyRef();
    PyRef environment_class = loader ? attribute(jinja, "Environment") : PyRef();
    PyRef no_arguments = environment_class ? PyRef::steal(PyTuple_New(0)) : PyRef();
    PyRef settings = no_arguments ? PyRef::steal(PyDict_New()) : PyRef();
    if (!settings || PyDict_SetItemString(settings.get(), "loader", loader.get()) < 0) {
        return failure();
    }
    PyRef environment = PyRef::steal(PyObject_Call(environment_class.get(), no_arguments.get(), settings.get()));
    // Before the template is compiled, which looks its filters up.
    PyRef filters = environment ? attribute(environment, "filters") : PyRef();
    PyRef safe = filters ? PyRef::steal(PyCFunction_New(&pass_as_is_record, nullptr)) : PyRef();
    if (!safe || PyMapping_SetItemString(filters.get(), "safe", safe.get()) < 0) {
        return failure();
    }
    PyRef get_template = attribute(environment, "get_template");
    PyRef compiled = get_template ? PyRef::steal(PyObject_CallOneArg(get_template.get(), name.get())) : PyRef();
    if (!compiled) {
        return failure();
    }
    made->generate = attribute(compiled, "generate");
    made->template_filename = attribute(compiled, "filename");
    made->cell_sequence_type = sequence_type("quorvelin_convert.CellSequence", static_cast<int>(sizeof(CellSequence)),
                                             &cell_count, &cell_at, &drop_sequence);
    made->output_sequence_type =
        sequence_type("quorvelin_convert.OutputSequence", static_cast<int>(sizeof(OutputSequence)), &output_count,
                      &output_at, &drop_output_sequence);
    if (!made->generate || !made->template_filename || !made->cell_sequence_type || !made->output_sequence_type) {
        return failure();
    }
    for (std::size_t k = 0; k < KeyCount; ++k) {
        made->keys[k] = PyRef::steal(PyUnicode_InternFromString(key_names[k]));
        if (!made->keys[k]) {
            return failure();
        }
    }
    return made;
}

convert_engine::Result<PageRenderer*, ConvertError> page_renderer() {
    if (kept_renderer != nullptr) {
        return kept_renderer;
    }
    auto made = make_renderer();
    if (!made) {
        return std::move(made).error();
    }
    // Making it ran Python code, which may have let another thread make one
    // first; the first one made is kept.
    if (kept_renderer == nullptr) {
        kept_renderer = made.value().release();
    }
    return kept_renderer;
}

// Renders the page into `page` piece by piece; a piece is let go once
// copied. False when a step failed, with the failure pending in the
// interpreter.
bool render(const PageRenderer& renderer, const notebook::Notebook& notebook, std::string_view title,
            StrBuilder& page) {
    PyRef cells = open_cells(renderer, notebook);
    if (!cells) {
        return false;
    }
    const CellsClose close{cells.get()};
    // The title goes into the page as escaped text, like every other text.
    PyRef context = PyRef::steal(PyDict_New());
    if (!context || !set_item(context.get(), renderer.keys[Title], str_from(converters::html_escape(title))) ||
        !set_item(context.get(), renderer.keys[Cells], PyRef::borrow(cells.get()))) {
        return false;
    }
    PyRef pieces = PyRef::steal(PyObject_CallOneArg(renderer.generate.get(), context.get()));
    if (!pieces) {
        return false;
    }
    for (;;) {
        PyRef piece = PyRef::steal(PyIter_Next(pieces.get()));
        if (!piece) {
            return PyErr_Occurred() == nullptr;
        }
        if (!page.append(piece.get())) {
            return false;
        }
    }
}

}  // namespace

}  // namespace python_module::page

namespace convert_engine::converters {

Result<python_module::PyRef, error::ConvertError> to_html(const notebook::Notebook& notebook, std::string_view title) {
    using namespace python_module::page;
    using python_module::PyRef;
    auto found = page_renderer();
    if (!found) {
        return std::move(found).error();
    }
    const PageRenderer& renderer = *found.value();
    StrBuilder page(page_size_estimate(notebook, title));
    PyRef made;
    if (!render(renderer, notebook, title, page) || !(made = page.finish())) {
        return take_failure(renderer.errors, renderer.template_filename.get());
    }
    return made;
}

}  // namespace convert_engine::converters
