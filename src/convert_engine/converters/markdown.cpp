#include <string_view>

#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/converters/white_space.hpp"

namespace convert_engine::converters {
namespace {

using notebook::CellType;

// Appends a fenced block: opening fence with its info text, the body, a line
// feed when the body does not end in one, the closing fence and a blank line.
void append_fenced(Text& out, std::string_view info, std::string_view body) {
    out += "```";
    out += info;
    out.push_back('\n');
    out += body;
    if (!body.empty() && body.back() != '\n') out.push_back('\n');
    out += "```\n\n";
}

}  // namespace

TextResult to_markdown(const notebook::Notebook& notebook, std::pmr::memory_resource* memory) {
    const auto& language = notebook.metadata.languageInfo;
    const std::string_view fence_language = language ? std::string_view(language->name) : "python";

    std::size_t size = 0;
    for (const auto& cell : notebook.cells) size += cell.source.text.size() + fence_language.size() + 16;
    Text out(memory);
    out.reserve(size);

    for (const auto& cell : notebook.cells) {
        const std::string_view source = cell.source.text;
        switch (cell.cell_type) {
            case CellType::Code: append_fenced(out, fence_language, source); break;
            case CellType::Raw: append_fenced(out, "raw", source); break;
            case CellType::Markdown:
                out += source;
                out += "\n\n";
                break;
        }
    }
    trim_white_space_in_place(out);
    return out;
}

}  // namespace convert_engine::converters
