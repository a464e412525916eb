#include <algorithm>
#include <cstring>
#include <memory>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
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

// The offset of the first line feed at or after `i`, or `n` when there is
// none; 16 bytes at a time where SSE2 is available.
std::size_t find_line_feed(const char* s, std::size_t i, std::size_t n) noexcept {
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        const auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), feed)));
        if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
#endif
    for (; i < n; ++i)
        if (s[i] == '\n') return i;
    return n;
}

// Each line of a markdown source as "# " and the line, joined with line
// feeds; a line's own "\r\n" or "\n" ending is dropped. An empty source has
// no lines; a source ending in a line feed has no empty line after it.
void append_comment_lines(std::string& out, std::string_view source) {
    const char* s = source.data();
    const std::size_t n = source.size();
    // Written through a cursor into room made ahead, cut back at the end.
    // Each line asks for its own length and 3 bytes, plus 16 for a short
    // line copied as one block.
    constexpr std::size_t kSlack = 16;
    std::size_t used = out.size();
    out.resize(used + n + 256);
    std::size_t start = 0;  // of the current line
    while (start < n) {
        const std::size_t feed = find_line_feed(s, start, n);
        std::size_t end = feed;
        if (feed != n && end > start && s[end - 1] == '\r') --end;
        const std::size_t length = end - start;
        if (out.size() - used < length + 3 + kSlack)
            out.resize(std::max(2 * out.size(), used + length + 3 + kSlack + (n - start)));
        char* p = out.data() + used;
        if (start != 0) *p++ = '\n';
        *p++ = '#';
        *p++ = ' ';
        if (length <= kSlack && n - start >= kSlack) std::memcpy(p, s + start, kSlack);
        else std::memcpy(p, s + start, length);
        used = static_cast<std::size_t>(p + length - out.data());
        start = feed + 1;
    }
    out.resize(used);
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
