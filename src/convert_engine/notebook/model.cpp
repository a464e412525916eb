#include "convert_engine/notebook/model.hpp"

namespace convert_engine::notebook {

const char* cell_type_name(CellType type) noexcept {
    switch (type) {
        case CellType::Code: return "code";
        case CellType::Markdown: return "markdown";
        case CellType::Raw: return "raw";
    }
    return "code";
}

}  // namespace convert_engine::notebook
