#include <array>
#include <utility>

#include "convert_engine/notebook/parse.hpp"
#include "convert_engine/notebook/record_readers.hpp"

namespace convert_engine::notebook {

namespace detail {

namespace {

constexpr std::size_t kFirstCells = 16;
constexpr std::array<std::string_view, 4> kNotebookKeys = {"metadata", "nbformat", "nbformat_minor", "cells"};

void read_notebook_field(JsonReader& r, Notebook& notebook, std::size_t index, ReadOptions options) {
    switch (index) {
        case 0: notebook.metadata = read_notebook_metadata(r, options.empty_metadata); break;
        case 1: notebook.nbformat = r.read_u32(); break;
        case 2: notebook.nbformat_minor = r.read_u32(); break;
        default:
            r.read_list([&] {
                // Room for a small notebook's cells at once.
                if (notebook.cells.capacity() == 0) notebook.cells.reserve(kFirstCells);
                read_cell(r, notebook.cells.emplace_back(), options);
            });
            break;
    }
}

}  // namespace

Notebook read_notebook(JsonReader& r, ReadOptions options) {
    Notebook notebook;
    const int c = r.peek_value();
    if (c == '{') {
        r.enter();
        r.within_object([&] {
            const auto seen =
                read_declared_members(r, kNotebookKeys, [&](std::size_t i) { read_notebook_field(r, notebook, i, options); });
            // An absent "metadata" keeps its default.
            for (std::size_t i = 1; i < kNotebookKeys.size(); ++i)
                if (!seen[i]) JsonReader::fail_unplaced(missing_field(kNotebookKeys[i]));
        });
    } else if (c == '[') {
        r.enter();
        r.within_array([&] {
            ArrayFields fields(r);
            std::size_t i = 0;
            for (; i < kNotebookKeys.size() && fields.next(); ++i) read_notebook_field(r, notebook, i, options);
            // An array that ends before the metadata gets the default
            // metadata, and then lacks nbformat.
            if (i < kNotebookKeys.size())
                JsonReader::fail_unplaced(invalid_length(i == 0 ? 1 : i, "struct Notebook with 4 elements"));
            fields.finish();
        });
    } else {
        r.fail_invalid_type("struct Notebook");
    }
    r.leave();
    return notebook;
}

}  // namespace detail

Result<Notebook, json::JsonError> parse_notebook(std::string_view text, ReadOptions options) {
    json::JsonReader reader(text, options.arena);
    try {
        Notebook notebook = detail::read_notebook(reader, options);
        if (reader.peek() >= 0) reader.fail_syntax(reader.offset(), json::ErrorKind::TrailingCharacters);
        return Result<Notebook, json::JsonError>(std::move(notebook));
    } catch (json::ReadError& e) {
        const std::size_t point = e.placed ? e.point : reader.offset();
        return json::JsonReader::place(text, point, std::move(e));
    }
}

}  // namespace convert_engine::notebook
