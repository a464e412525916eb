#include "python_module/dispatch.hpp"

#include <utility>

#include "python_module/page/html_page.hpp"
#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/notebook/json_writer.hpp"
#include "convert_engine/notebook/parse.hpp"

namespace python_module {

namespace {

namespace json = convert_engine::json;
namespace converters = convert_engine::converters;
namespace notebook = convert_engine::notebook;

template <class T>
Outcome<Converted> text_or_failure(convert_engine::Result<T, convert_engine::error::ConvertError> result,
                                   const char* prefix) {
    if (!result) {
        return Failure::value_error(prefix + result.error().display());
    }
    return Converted(std::move(result).value());
}

}  // namespace

Outcome<Converted> convert_text(std::string_view notebook_text, std::string_view format,
                                const std::optional<std::string>& title, std::pmr::memory_resource* result_memory) {
    // Strip drops the outputs of code cells, and Markdown and the script
    // never show them: only the page needs them. Only strip writes metadata
    // back.
    notebook::ReadOptions options;
    options.drop_code_outputs = format == "strip" || format == "markdown" || format == "python";
    options.empty_metadata = format != "strip";
    // The document's parts live in one arena, given back at once when the
    // call ends; it outlives the document, declared before it.
    json::Arena arena;
    options.arena = &arena;
    auto parsed = notebook::parse_notebook(notebook_text, options);
    if (!parsed) {
        return Failure::value_error("Failed to parse notebook: " + parsed.error().display());
    }
    notebook::Notebook& document = parsed.value();

    if (format == "html") {
        const std::string_view page_title = title ? std::string_view(*title) : std::string_view("Notebook");
        return text_or_failure(page::to_html(document, page_title), "HTML conversion failed: ");
    }
    if (format == "markdown") {
        return text_or_failure(converters::to_markdown(document, result_memory), "Markdown conversion failed: ");
    }
    if (format == "python") {
        return text_or_failure(converters::to_python(document, result_memory), "Python conversion failed: ");
    }
    if (format == "strip") {
        // The document is not needed afterwards: strip it in place.
        auto written = notebook::to_vec_pretty(converters::strip_outputs(std::move(document)), result_memory);
        if (!written) {
            return Failure::value_error("JSON serialization failed: " + written.error().display());
        }
        return Converted(std::move(written).value());
    }
    return Failure::value_error("Unknown format: " + std::string(format));
}

}  // namespace python_module
