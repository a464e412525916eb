#include <memory>
#include <string_view>

#include <spdlog/logger.h>

#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/converters/white_space.hpp"

namespace convert_engine::converters {
namespace {

using notebook::CellType;

// The converters' logger: level off and no sink, so its events go nowhere.
// Kept out of spdlog's registry so it cannot clash with a host's loggers.
spdlog::logger& converters_logger() {
    static const std::shared_ptr<spdlog::logger> logger = [] {
        auto made = std::make_shared<spdlog::logger>("convert_engine::converters");
        made->set_level(spdlog::level::off);
        return made;
    }();
    return *logger;
}

void warn_skipped_raw_cell() {
    auto& logger = converters_logger();
    if (logger.should_log(spdlog::level::warn)) logger.warn("Skipping raw cell in Python conversion");
}

// Each line of a markdown source as "# " and the line, joined with line
// feeds; a line's own "\r\n" or "\n" ending is dropped. An empty source has
// no lines; a source ending in a line feed has no empty line after it.
void append_comment_lines(std::string& out, std::string_view source) {
    bool first = true;
    while (!source.empty()) {
        const std::size_t feed = source.find('\n');
        std::string_view line = source.substr(0, feed);
        if (feed == std::string_view::npos) {
            source = {};
        } else {
            source.remove_prefix(feed + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        }
        if (!first) out.push_back('\n');
        first = false;
        out += "# ";
        out += line;
    }
}

}  // namespace

TextResult to_python(const notebook::Notebook& notebook) {
    std::size_t size = 128;
    for (const auto& cell : notebook.cells) size += cell.source.text.size() + cell.source.text.size() / 8 + 4;
    std::string out;
    out.reserve(size);

    out += "# -*- coding: utf-8 -*-\n# Converted from Jupyter notebook\n\n";
    if (const auto& language = notebook.metadata.languageInfo) {
        out += "# Language: ";
        out += language->name;
        out.push_back('\n');
        if (language->version) {
            out += "# Version: ";
            out += *language->version;
            out.push_back('\n');
        }
        out.push_back('\n');
    }

    // No separating line feed before the first cell that is written.
    bool at_start = true;
    for (const auto& cell : notebook.cells) {
        const std::string_view source = cell.source.text;
        switch (cell.cell_type) {
            case CellType::Code:
                if (!at_start) out.push_back('\n');
                out += source;
                if (source.empty() || source.back() != '\n') out.push_back('\n');
                at_start = false;
                break;
            case CellType::Markdown:
                if (!at_start) out.push_back('\n');
                append_comment_lines(out, source);
                out += "\n\n";
                at_start = false;
                break;
            case CellType::Raw: warn_skipped_raw_cell(); break;
        }
    }
    trim_white_space_in_place(out);
    return out;
}

}  // namespace convert_engine::converters
