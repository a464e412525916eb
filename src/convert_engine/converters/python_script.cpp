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

// Each line of a markdown source as "# " and the line, joined with line
// feeds; a line's own "\r\n" or "\n" ending is dropped. An empty source has
// no lines; a source ending in a line feed has no empty line after it.
void append_comment_lines(Text& out, std::string_view source) {
    const char* s = source.data();
    const std::size_t n = source.size();
    if (n == 0) return;
    // Written through a cursor into room made ahead, cut back at the end:
    // the rest of the source, 3 bytes for the next line's start and 16 for
    // a whole block stored past a line's end.
    constexpr std::size_t kSlack = 3 + 16;
    std::size_t used = out.size();
    out.resize(used + n + 256);
    char* p = out.data() + used;
    *p++ = '#';
    *p++ = ' ';
    std::size_t i = 0;
    for (;;) {
        // Room for the rest of the source as it stands, with its slack.
        if (out.size() - static_cast<std::size_t>(p - out.data()) < n - i + kSlack) {
            used = static_cast<std::size_t>(p - out.data());
            out.resize(std::max(2 * out.size(), used + n - i + kSlack + 256));
            p = out.data() + used;
        }
        // Copy up to the next line feed, 16 bytes at a time: each block is
        // stored whole and the cursor kept only up to the feed.
        std::size_t feed = n;
#if defined(__SSE2__)
        const __m128i lf = _mm_set1_epi8('\n');
        for (; i + 16 <= n; i += 16, p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
            if (mask != 0) {
                const auto k = static_cast<std::size_t>(__builtin_ctz(mask));
                feed = i + k;
                p += k;
                break;
            }
        }
        if (feed == n)
#endif
        {
            for (; i < n && s[i] != '\n'; ++i) *p++ = s[i];
            feed = i;
        }
        if (feed == n) break;  // the last line, with no line feed of its own
        // A line ending "\r\n" drops both; the '\r' is the byte just written
        // (before an empty line's feed stands the previous feed).
        if (feed > 0 && s[feed - 1] == '\r') --p;
        if (feed + 1 == n) break;  // the source ends with this line's feed
        *p++ = '\n';
        *p++ = '#';
        *p++ = ' ';
        i = feed + 1;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace

TextResult to_python(const notebook::Notebook& notebook, std::pmr::memory_resource* memory) {
    std::size_t size = 128;
    for (const auto& cell : notebook.cells) size += cell.source.text.size() + cell.source.text.size() / 8 + 4;
    Text out(memory);
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
