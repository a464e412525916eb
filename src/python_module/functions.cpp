#include "python_module/functions.hpp"

#include "python_module/arguments.hpp"
#include "python_module/boundary.hpp"
#include "python_module/dispatch.hpp"
#include "python_module/file_reading.hpp"
#include "python_module/utf8_str.hpp"

namespace python_module {

namespace {

// The first lines of each help text are the signature the interpreter
// shows as __text_signature__.
constexpr const char convert_notebook_help[] =
    "convert_notebook(notebook_path, format, title)\n"
    "--\n"
    "\n"
    "Parse and convert a Jupyter notebook.\n"
    "\n"
    "# Arguments\n"
    "* `notebook_path` - Path to .ipynb file as string\n"
    "* `format` - Output format: \"html\", \"markdown\", or \"python\"\n"
    "* `title` - Optional title for HTML output\n"
    "\n"
    "# Example\n"
    "```python\n"
    "from quorvelin_convert import convert_notebook\n"
    "\n"
    "html = convert_notebook(\"notebook.ipynb\", \"html\")\n"
    "markdown = convert_notebook(\"notebook.ipynb\", \"markdown\")\n"
    "python = convert_notebook(\"notebook.ipynb\", \"python\")\n"
    "```";

constexpr const char convert_notebook_from_json_help[] =
    "convert_notebook_from_json(notebook_json, format, title)\n"
    "--\n"
    "\n"
    "Parse and convert a notebook from JSON string.\n"
    "\n"
    "# Arguments\n"
    "* `notebook_json` - JSON string of notebook content\n"
    "* `format` - Output format: \"html\", \"markdown\", \"python\", or \"strip\"\n"
    "* `title` - Optional title for HTML output";

constexpr const char version_help[] = "version()\n--\n\n";

static_assert(sizeof convert_notebook_help - 1 == 489);
static_assert(sizeof convert_notebook_from_json_help - 1 == 284);

constexpr Signature convert_notebook_signature{"convert_notebook", {"notebook_path", "format", "title"}};
constexpr Signature convert_notebook_from_json_signature{"convert_notebook_from_json",
                                                         {"notebook_json", "format", "title"}};

// The bound and converted arguments of one call: the first two borrowed from
// their str objects, the title copied.
struct CallArguments {
    std::string_view first;
    std::string_view format;
    std::optional<std::string> title;
};

Outcome<CallArguments> call_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    auto slots = bind_arguments(signature, args, nargs, kwnames);
    if (!slots) {
        return std::move(slots).error();
    }
    auto first = text_argument(slots.value()[0], signature.parameters[0]);
    if (!first) {
        return std::move(first).error();
    }
    auto format = text_argument(slots.value()[1], signature.parameters[1]);
    if (!format) {
        return std::move(format).error();
    }
    auto title = optional_text_argument(slots.value()[2], signature.parameters[2]);
    if (!title) {
        return std::move(title).error();
    }
    return CallArguments{first.value(), format.value(), std::move(title).value()};
}

// Converts, then makes the str of the converted text once the notebook is
// let go. A long text is written in the storage of its str.
Outcome<PyRef> converted_str(std::string_view notebook_text, const CallArguments& call) {
    StrMemory memory;
    Outcome<Converted> converted = convert_text(notebook_text, call.format, call.title, &memory);
    if (!converted) {
        return std::move(converted).error();
    }
    if (auto* page = std::get_if<PyRef>(&converted.value())) {
        return std::move(*page);
    }
    return memory.str_of(std::move(std::get<convert_engine::Text>(converted.value())));
}

PyObject* convert_notebook(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_entry([&]() -> Outcome<PyRef> {
        auto arguments = call_arguments(convert_notebook_signature, args, nargs, kwnames);
        if (!arguments) {
            return std::move(arguments).error();
        }
        const CallArguments& call = arguments.value();
        auto text = read_text_file(call.first);
        if (!text) {
            return Failure::value_error("Failed to read file: " + text.error().reason);
        }
        return converted_str(text.value(), call);
    });
}

PyObject* convert_notebook_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return run_entry([&]() -> Outcome<PyRef> {
        auto arguments = call_arguments(convert_notebook_from_json_signature, args, nargs, kwnames);
        if (!arguments) {
            return std::move(arguments).error();
        }
        const CallArguments& call = arguments.value();
        return converted_str(call.first, call);
    });
}

PyObject* version(PyObject*, PyObject*) {
    return run_entry([]() -> Outcome<PyRef> { return new_str(version_text); });
}

// The interpreter calls each entry through the generic PyCFunction type.
template <class Function>
PyCFunction as_cfunction(Function* function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef records[] = {
    {"convert_notebook", as_cfunction(convert_notebook), METH_FASTCALL | METH_KEYWORDS, convert_notebook_help},
    {"convert_notebook_from_json", as_cfunction(convert_notebook_from_json), METH_FASTCALL | METH_KEYWORDS,
     convert_notebook_from_json_help},
    {"version", as_cfunction(version), METH_NOARGS, version_help},
};

}  // namespace

std::span<PyMethodDef> function_records() noexcept { return records; }

}  // namespace python_module
