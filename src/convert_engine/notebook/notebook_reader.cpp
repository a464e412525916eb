#include <utility>

#include "convert_engine/notebook/parse.hpp"
#include "convert_engine/notebook/record_readers.hpp"

namespace convert_engine::notebook {

namespace detail {

namespace {

constexpr std::size_t kFirstCells = 16;

}  // namespace

Notebook read_notebook(JsonReader& r, ReadOptions options) {
    Notebook notebook;
    read_record<kNotebook>(r, [&](NotebookField field) {
        switch (field) {
            case NotebookField::Metadata:
                notebook.metadata = read_notebook_metadata(r, options.empty_metadata);
                return;
            case NotebookField::Nbformat: notebook.nbformat = r.read_u32(); return;
            case NotebookField::NbformatMinor: notebook.nbformat_minor = r.read_u32(); return;
            case NotebookField::Cells:
                r.read_list([&] {
                    // Room for a small notebook's cells at once.
                    if (notebook.cells.capacity() == 0) notebook.cells.reserve(kFirstCells);
                    read_cell(r, notebook.cells.emplace_back(), options);
                });
                return;
        }
    });
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
