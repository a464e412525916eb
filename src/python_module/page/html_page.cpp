// The HTML page: the page template rendered by minijinja through its Python
// binding and the CPython API. The caller holds the interpreter lock.
//
// The template is never handed a text of the notebook: where the title, a
// source, an output's fragment (or a count too large for the engine's
// integers) go, its records carry a short placeholder. The rendered
// skeleton is then copied into the page's str, each placeholder replaced by
// its text, written from the document straight into the str's storage at
// the page's exact size. The engine only ever handles the markup, and a
// long output is written once instead of passing through a str of its own,
// the engine's input and the engine's output.
#include "python_module/page/html_page.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert_engine/converters/html_fragments.hpp"
#include "convert_engine/text_output.hpp"
#include "python_module/boundary.hpp"
#include "python_module/page/page_template.hpp"
#include "python_module/py_ref.hpp"
#include "python_module/raised.hpp"
#include "python_module/utf8_str.hpp"

namespace python_module::page {

namespace {

namespace converters = convert_engine::converters;
namespace notebook = convert_engine::notebook;
using convert_engine::HtmlEscaping;
using convert_engine::Text;
using convert_engine::TextOutput;
using convert_engine::error::ConvertError;

PyRef str_from(std::string_view text) {
    return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyRef attribute(const PyRef& object, const char* name) {
    return object ? PyRef::steal(PyObject_GetAttrString(object.get(), name)) : PyRef();
}

// ---- placeholders ----------------------------------------------------------
//
// A NUL byte, the kind of text, its number in decimal, a NUL byte. Nothing
// else the engine prints holds a NUL byte: not the page template, the fixed
// labels, nor the counts it is given as integers.

enum class Slot : char { Title = 't', Source = 's', Output = 'o', Count = 'c' };

PyRef placeholder(Slot slot, std::size_t number) {
    char text[32] = {'\0', static_cast<char>(slot)};
    char* end = std::to_chars(text + 2, text + sizeof text - 1, number).ptr;
    *end++ = '\0';
    // ASCII: copied in as it is, with nothing to decode.
    const auto size = static_cast<std::size_t>(end - text);
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size), 0x7F);
    if (str != nullptr) std::memcpy(str_data(str), text, size);
    return PyRef::steal(str);
}

struct Placeholder {
    Slot slot;
    std::size_t number;
    std::size_t length;  // in bytes, both NULs included
};

// The placeholder that `text`, starting with a NUL byte, starts with, or
// none: a NUL that does not open a whole one is an ordinary character.
std::optional<Placeholder> read_placeholder(std::string_view text) noexcept {
    if (text.size() < 4) return std::nullopt;
    const char kind = text[1];
    if (kind != 't' && kind != 's' && kind != 'o' && kind != 'c') return std::nullopt;
    const char* last = text.data() + text.size();
    std::size_t number = 0;
    const auto [end, failed] = std::from_chars(text.data() + 2, last, number);
    if (failed != std::errc() || end == last || *end != '\0') return std::nullopt;
    return Placeholder{static_cast<Slot>(kind), number, static_cast<std::size_t>(end + 1 - text.data())};
}

// The names the template reads, in the order a cell's record holds them.
enum Key : std::size_t {
    IsCode, IsMarkdown, IsRaw, TypeLabel, SourceEscaped, ExecutionCount, Outputs, Html, Title, Cells, KeyCount
};
constexpr const char* key_names[KeyCount] = {
    "is_code", "is_markdown", "is_raw", "type_label", "source_escaped",
    "execution_count", "outputs", "html", "title", "cells",
};
constexpr std::size_t kCellFields = Outputs + 1;

// An error of the engine that carries no message of its own (one raised
// with none by Python code) is shown by a kind alone, with no detail.
constexpr const char* kBareKind = "invalid operation";

class PageCall;

// What the record maker reaches its call through. A maker that outlived
// its call (were the engine to keep one) would find no call there.
struct Handle {
    PageCall* call;
};
constexpr const char* kHandleName = "quorvelin_convert.page_records";

void drop_handle(PyObject* capsule) noexcept {
    delete static_cast<Handle*>(PyCapsule_GetPointer(capsule, kHandleName));
}

// ---- one call --------------------------------------------------------------

// Everything one page needs, made for the call and dropped when it returns.
class PageCall {
public:
    PageCall(const notebook::Notebook& document, std::string_view title);
    PageCall(const PageCall&) = delete;
    PageCall& operator=(const PageCall&) = delete;
    ~PageCall();

    // The page rendered with placeholders, or the engine's failure.
    convert_engine::Result<PyRef, ConvertError> render();
    // The page's str, written from the skeleton (its UTF-8 form, and
    // whether that is all ASCII).
    PyRef write_page(std::string_view skeleton, bool skeleton_ascii);

    // The record of the cell of that index, made when the engine asks for
    // it; never throws.
    PyObject* make_record(PyObject* index) noexcept;

private:
    PyRef outputs(const notebook::Cell& cell, std::size_t index) const;
    PyRef cell_record(std::size_t index) const;
    PyRef output_record(std::size_t number) const;
    PyRef execution_count(const notebook::Cell& cell, std::size_t index) const;

    bool names_a_text(const Placeholder& piece) const noexcept;
    template <class Literal, class Piece>
    void walk(std::string_view skeleton, Literal&& literal, Piece&& piece) const;
    convert_engine::TextLength piece_length(const Placeholder& piece, std::vector<Text>& json_forms) const;
    void put_piece(TextOutput& out, const Placeholder& piece, const std::vector<Text>& json_forms,
                   std::size_t& next_json_form) const;
    std::size_t write_into(char* begin, char* end, std::string_view skeleton, const std::vector<Text>& json_forms) const;

    void keep_failure() noexcept;
    [[noreturn]] void throw_failure();

    const notebook::Notebook& document_;
    std::string_view title_;
    std::vector<const notebook::CellOutput*> outputs_;  // every output, by its number
    std::vector<std::size_t> first_output_;             // by cell: the number of its first output
    PyRef keys_[KeyCount];
    PyRef record_of_type_[3];  // by cell type: the fields a cell's type fixes
    Handle* handle_ = nullptr;
    PyRef cell_maker_;  // the record of a cell, by its index
    // The first exception the making of a record raised. The engine stops
    // at it and raises it again, or, in older releases of the binding,
    // passes over it and goes on; either way the call ends with it.
    PendingError failure_;
};

PyObject* cell_record_entry(PyObject* capsule, PyObject* index) noexcept {
    auto* handle = static_cast<Handle*>(PyCapsule_GetPointer(capsule, kHandleName));
    if (handle == nullptr) return nullptr;
    if (handle->call == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "the page's rendering has ended");
        return nullptr;
    }
    return handle->call->make_record(index);
}

PyMethodDef cell_record_def = {"cell_record", &cell_record_entry, METH_O, nullptr};

PageCall::PageCall(const notebook::Notebook& document, std::string_view title) : document_(document), title_(title) {
    first_output_.reserve(document.cells.size());
    for (const notebook::Cell& cell : document.cells) {
        first_output_.push_back(outputs_.size());
        for (const notebook::CellOutput& output : cell.outputs) outputs_.push_back(&output);
    }
    for (std::size_t k = 0; k < KeyCount; ++k) {
        keys_[k] = PyRef::steal(PyUnicode_FromString(key_names[k]));
        if (!keys_[k]) throw Raised::fetch();
    }
    for (const auto type : {notebook::CellType::Code, notebook::CellType::Markdown, notebook::CellType::Raw}) {
        PyRef& record = record_of_type_[static_cast<std::size_t>(type)];
        record = PyRef::steal(PyDict_New());
        PyRef label = str_from(converters::type_label(type));
        PyObject* fields[kCellFields] = {
            type == notebook::CellType::Code ? Py_True : Py_False,
            type == notebook::CellType::Markdown ? Py_True : Py_False,
            type == notebook::CellType::Raw ? Py_True : Py_False,
            label.get(), Py_None, Py_None, Py_None,
        };
        if (!record || !label) throw Raised::fetch();
        for (std::size_t k = 0; k < kCellFields; ++k) {
            if (PyDict_SetItem(record.get(), keys_[k].get(), fields[k]) < 0) throw Raised::fetch();
        }
    }
    auto handle = std::make_unique<Handle>(Handle{this});
    PyRef capsule = PyRef::steal(PyCapsule_New(handle.get(), kHandleName, &drop_handle));
    if (!capsule) throw Raised::fetch();
    handle_ = handle.release();
    cell_maker_ = PyRef::steal(PyCFunction_NewEx(&cell_record_def, capsule.get(), nullptr));
    if (!cell_maker_) throw Raised::fetch();
}

PageCall::~PageCall() { handle_->call = nullptr; }

// ---- the records -----------------------------------------------------------

// `cells` is map() over the cell indexes with a maker of this call's, so
// that no list of them is made. (A sequence of a type of our own would not
// do: the engine asks Python's abstract base classes about any type it does
// not know, which runs Python code, and lets other threads in, for every
// such object.)
PyRef cells_of(const PyRef& maker, std::size_t count) {
    PyRef indexes =
        PyRef::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyRange_Type), "n", static_cast<Py_ssize_t>(count)));
    if (!indexes) return indexes;
    return PyRef::steal(
        PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyMap_Type), maker.get(), indexes.get(), nullptr));
}

PyObject* PageCall::make_record(PyObject* index) noexcept {
    if (failure_) {
        failure_.share().restore();
        return nullptr;
    }
    PyObject* made = nullptr;
    try {
        // A signal handler runs here, so that an interrupt stops a long page
        // rather than wait for its end.
        if (PyErr_CheckSignals() == 0) {
            const Py_ssize_t at = PyLong_AsSsize_t(index);
            if (at >= 0 && static_cast<std::size_t>(at) < document_.cells.size()) {
                made = cell_record(static_cast<std::size_t>(at)).release();
            } else if (!PyErr_Occurred()) {
                PyErr_SetString(PyExc_IndexError, "cell index out of range");
            }
        }
    } catch (...) {
        raise_handled_exception();
    }
    if (made == nullptr) keep_failure();
    return made;
}

// A cell's record starts as a copy of the one of its type, which holds the
// fields that follow from the type; the copy of a dict of that size takes
// its table whole, where building it would grow it.
PyRef PageCall::cell_record(std::size_t index) const {
    const notebook::Cell& cell = document_.cells[index];
    PyRef values[] = {placeholder(Slot::Source, index), execution_count(cell, index), outputs(cell, index)};
    PyRef record = PyRef::steal(PyDict_Copy(record_of_type_[static_cast<std::size_t>(cell.cell_type)].get()));
    if (!record) return record;
    for (std::size_t k = 0; k < std::size(values); ++k) {
        if (!values[k] || PyDict_SetItem(record.get(), keys_[SourceEscaped + k].get(), values[k].get()) < 0) {
            return PyRef();
        }
    }
    return record;
}

PyRef PageCall::execution_count(const notebook::Cell& cell, std::size_t index) const {
    const auto shown = converters::shown_execution_count(cell);
    if (!shown) return PyRef::borrow(Py_None);
    // Above the largest signed 64-bit integer the binding's 2.x releases
    // print a float; such a count is written into the page instead.
    if (*shown > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return placeholder(Slot::Count, index);
    }
    return PyRef::steal(PyLong_FromUnsignedLongLong(*shown));
}

// A cell's outputs: a tuple of their records, made with the cell's. (The
// engine keeps every record of a loop until the loop ends, so an iterator
// would save nothing; and the 2.x releases that Python 3.9 gets find the
// truth of an iterator by reading it through.) The empty tuple of a cell
// without outputs is false.
PyRef PageCall::outputs(const notebook::Cell& cell, std::size_t index) const {
    const std::size_t first = first_output_[index];
    const std::size_t end = first + cell.outputs.size();
    PyRef records = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(end - first)));
    for (std::size_t number = first; records && number != end; ++number) {
        PyObject* record = output_record(number).release();
        if (record == nullptr || PyTuple_SetItem(records.get(), static_cast<Py_ssize_t>(number - first), record) < 0) {
            return PyRef();
        }
    }
    return records;
}

PyRef PageCall::output_record(std::size_t number) const {
    PyRef html = placeholder(Slot::Output, number);
    PyRef record = html ? PyRef::steal(PyDict_New()) : PyRef();
    if (!record || PyDict_SetItem(record.get(), keys_[Html].get(), html.get()) < 0) return PyRef();
    return record;
}

void PageCall::keep_failure() noexcept {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "a page record failed without an exception");
    if (failure_) return;
    failure_ = PendingError::take();
    failure_.share().restore();
}

void PageCall::throw_failure() {
    PyErr_Clear();
    failure_.restore();
    throw Raised::fetch();
}

// ---- the engine ------------------------------------------------------------

// The failure pending in the interpreter after a call into the engine. The
// engine's own errors become a TemplateRender error holding the error's
// message, "<kind>: <detail> (in notebook:<line>)"; every other exception
// (an ImportError of the engine, MemoryError, one a signal handler raised,
// ...) is not the page's failure and is thrown as Raised, unchanged.
ConvertError engine_failure(const PyRef& engine) {
    if (PyErr_Occurred() == nullptr) throw Fault("a call into the template engine failed without an exception");
    PendingError error = PendingError::take();
    PyRef error_class = attribute(engine, "TemplateError");
    if (!error_class || !PyErr_GivenExceptionMatches(error.type(), error_class.get())) {
        error.restore();
        throw Raised::fetch();
    }
    error.normalise();
    PyRef message = PyRef::steal(error.value() == nullptr ? nullptr : PyObject_GetAttrString(error.value(), "message"));
    Py_ssize_t size = 0;
    const char* text = message && PyUnicode_Check(message.get()) ? PyUnicode_AsUTF8AndSize(message.get(), &size) : nullptr;
    PyErr_Clear();
    return ConvertError::template_render(text == nullptr ? std::string(kBareKind)
                                                         : std::string(text, static_cast<std::size_t>(size)));
}

// A fresh environment with the page template under the name "notebook",
// rendered with the title and the cells.
convert_engine::Result<PyRef, ConvertError> PageCall::render() {
    PyRef engine = PyRef::steal(PyImport_ImportModule("minijinja"));
    if (!engine) throw Raised::fetch();
    PyRef environment_class = attribute(engine, "Environment");
    PyRef environment = environment_class ? PyRef::steal(PyObject_CallNoArgs(environment_class.get())) : PyRef();
    PyRef name = environment ? str_from("notebook") : PyRef();
    PyRef source = name ? str_from(page_template) : PyRef();
    PyRef added = source ? PyRef::steal(PyObject_CallMethod(environment.get(), "add_template", "OO", name.get(),
                                                            source.get()))
                         : PyRef();
    if (!added) return engine_failure(engine);

    PyRef render = attribute(environment, "render_template");
    PyRef arguments = render ? PyRef::steal(PyTuple_Pack(1, name.get())) : PyRef();
    PyRef context = arguments ? PyRef::steal(PyDict_New()) : PyRef();
    PyRef title = context ? placeholder(Slot::Title, 0) : PyRef();
    PyRef cells = title ? cells_of(cell_maker_, document_.cells.size()) : PyRef();
    if (!cells || PyDict_SetItem(context.get(), keys_[Title].get(), title.get()) < 0 ||
        PyDict_SetItem(context.get(), keys_[Cells].get(), cells.get()) < 0) {
        return engine_failure(engine);
    }
    PyRef skeleton = PyRef::steal(PyObject_Call(render.get(), arguments.get(), context.get()));
    if (failure_) throw_failure();
    if (!skeleton) return engine_failure(engine);
    return skeleton;
}

// ---- the page --------------------------------------------------------------

bool PageCall::names_a_text(const Placeholder& piece) const noexcept {
    switch (piece.slot) {
        case Slot::Title:
            return piece.number == 0;
        case Slot::Source:
            return piece.number < document_.cells.size();
        case Slot::Output:
            return piece.number < outputs_.size();
        case Slot::Count:
            break;
    }
    return piece.number < document_.cells.size() &&
           converters::shown_execution_count(document_.cells[piece.number]).has_value();
}

// Hands each run of the skeleton between placeholders to `literal` and each
// placeholder to `piece`, in order.
template <class Literal, class Piece>
void PageCall::walk(std::string_view skeleton, Literal&& literal, Piece&& piece) const {
    std::size_t run = 0;  // where the current literal run starts
    std::size_t at = 0;
    while (at < skeleton.size()) {
        const void* found = std::memchr(skeleton.data() + at, '\0', skeleton.size() - at);
        if (found == nullptr) break;
        at = static_cast<std::size_t>(static_cast<const char*>(found) - skeleton.data());
        const auto placeholder = read_placeholder(skeleton.substr(at));
        if (!placeholder || !names_a_text(*placeholder)) {
            ++at;
            continue;
        }
        if (at != run) literal(skeleton.substr(run, at - run));
        piece(*placeholder);
        at += placeholder->length;
        run = at;
    }
    if (run != skeleton.size()) literal(skeleton.substr(run));
}

std::size_t decimal_size(std::uint64_t value) noexcept {
    std::size_t size = 1;
    for (; value >= 10; value /= 10) ++size;
    return size;
}

// The length of a placeholder's text. A bundle shown as JSON has its
// fragment written here, kept for the writing.
convert_engine::TextLength PageCall::piece_length(const Placeholder& piece, std::vector<Text>& json_forms) const {
    switch (piece.slot) {
        case Slot::Title:
            return convert_engine::html_escaped_length(title_);
        case Slot::Source:
            return convert_engine::html_escaped_length(document_.cells[piece.number].source.text);
        case Slot::Output:
            break;
        case Slot::Count:
            return {decimal_size(*converters::shown_execution_count(document_.cells[piece.number]))};
    }
    const notebook::CellOutput& output = *outputs_[piece.number];
    if (const auto length = converters::fragment_length(output)) return *length;
    json_forms.push_back(converters::OutputRenderData::from_output(output).html);
    return convert_engine::plain_length(json_forms.back());
}

void PageCall::put_piece(TextOutput& out, const Placeholder& piece, const std::vector<Text>& json_forms,
                         std::size_t& next_json_form) const {
    switch (piece.slot) {
        case Slot::Title:
            converters::put_html_escaped(out, title_);
            return;
        case Slot::Source:
            converters::put_html_escaped(out, document_.cells[piece.number].source.text);
            return;
        case Slot::Output:
            break;
        case Slot::Count: {
            char* at = out.room(24);
            out.commit(std::to_chars(at, at + 24, *converters::shown_execution_count(document_.cells[piece.number])).ptr);
            return;
        }
    }
    const notebook::CellOutput& output = *outputs_[piece.number];
    if (converters::shown_as_json(output)) {
        out.put(json_forms[next_json_form++]);
    } else {
        converters::put_fragment(out, output);
    }
}

// Writes the page into [begin, end), which holds its measured length and
// the writers' slack; returns the length written.
std::size_t PageCall::write_into(char* begin, char* end, std::string_view skeleton,
                                 const std::vector<Text>& json_forms) const {
    TextOutput out(begin, end);
    std::size_t next_json_form = 0;
    walk(skeleton, [&out](std::string_view literal) { out.put(literal); },
         [&](const Placeholder& piece) { put_piece(out, piece, json_forms, next_json_form); });
    return static_cast<std::size_t>(out.cursor() - begin);
}

PyRef PageCall::write_page(std::string_view skeleton, bool skeleton_ascii) {
    std::vector<Text> json_forms;
    convert_engine::TextLength length{0, skeleton_ascii};
    walk(skeleton, [&length](std::string_view literal) { length.size += literal.size(); },
         [&](const Placeholder& piece) { length += piece_length(piece, json_forms); });
    const std::size_t room = length.size + TextOutput::kSlack;
    if (!length.ascii) {
        // Written as UTF-8 and decoded once.
        const std::unique_ptr<char[]> page(new char[room]);
        return new_str({page.get(), write_into(page.get(), page.get() + room, skeleton, json_forms)});
    }
    // An ASCII page is written once, straight into the storage of its str.
    PyObject* page = PyUnicode_New(static_cast<Py_ssize_t>(room), 0x7F);
    if (page == nullptr) str_failure();
    PyRef owned = PyRef::steal(page);
    auto* begin = static_cast<char*>(str_data(page));
    const std::size_t written = write_into(begin, begin + room, skeleton, json_forms);
    // The only reference, so the str may still change in place; a failed
    // resize leaves it as it was.
    page = owned.release();
    const int resized = PyUnicode_Resize(&page, static_cast<Py_ssize_t>(written));
    owned = PyRef::steal(page);
    if (resized < 0) str_failure();
    return owned;
}

}  // namespace

convert_engine::Result<PyRef, ConvertError> to_html(const notebook::Notebook& notebook, std::string_view title) {
    PageCall call(notebook, title);
    auto skeleton = call.render();
    if (!skeleton) return std::move(skeleton).error();
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(skeleton.value().get(), &size);
    if (text == nullptr) throw Raised::fetch();
    // The UTF-8 form of an ASCII str is its own storage, one byte a character.
    const bool ascii = PyUnicode_GetLength(skeleton.value().get()) == size;
    return call.write_page({text, static_cast<std::size_t>(size)}, ascii);
}

}  // namespace python_module::page
