#include <utility>

#include "convert_engine/converters/text_conversions.hpp"

namespace convert_engine::converters {

using notebook::Cell;
using notebook::CellType;
using notebook::Notebook;

Notebook strip_outputs(const Notebook& notebook) {
    Notebook stripped;
    stripped.cells.reserve(notebook.cells.size());
    for (const Cell& cell : notebook.cells) {
        Cell& copy = stripped.cells.emplace_back();
        copy.cell_type = cell.cell_type;
        copy.source = cell.source;
        copy.metadata = cell.metadata;
        copy.id = cell.id;
        // Code cells leave their count and outputs behind; nothing else does.
        if (cell.cell_type != CellType::Code) {
            copy.execution_count = cell.execution_count;
            copy.outputs = cell.outputs;
        }
    }
    stripped.metadata = notebook.metadata;
    stripped.nbformat = notebook.nbformat;
    stripped.nbformat_minor = notebook.nbformat_minor;
    return stripped;
}

Notebook strip_outputs(Notebook&& notebook) {
    for (Cell& cell : notebook.cells) {
        if (cell.cell_type != CellType::Code) continue;
        cell.execution_count.reset();
        cell.outputs.clear();
    }
    return std::move(notebook);
}

}  // namespace convert_engine::converters
