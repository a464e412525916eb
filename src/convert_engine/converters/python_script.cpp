#include <memory>
#include <string_view>

#include <spdlog/logger.h>

#include "convert_engine/byte_blocks.hpp"
#include "convert_engine/converters/text_conversions.hpp"
#include "convert_engine/converters/white_space.hpp"
#include "convert_engine/text_output.hpp"

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
void put_comment_lines(TextOutput& out, std::string_view source) {
    const char* s = source.data();
    const std::size_t n = source.size();
    if (n == 0) return;
    // Each line asks for room for the rest of the source, 3 bytes for the
    // next line's start and 16 for a whole block stored past a line's end.
    constexpr std::size_t kSlack = 3 + 16;
    char* p = out.room(2 + n + kSlack);
    *p++ = '#';
    *p++ = ' ';
    std::size_t i = 0;
    for (;;) {
        out.commit(p);
        p = out.room(n - i + kSlack);
        // Copy up to the next line feed, 16 bytes at a time: each block is
        // stored whole and the cursor kept only up to the feed.
        std::size_t feed = n;
        for (; i + 16 <= n; i += 16, p += 16) {
            const auto v = Blocks::load(s + i);
            Blocks::store(p, v);
            const unsigned mask = Blocks::equal_mask(v, '\n');
            if (mask != 0) {
                const auto k = static_cast<std::size_t>(__builtin_ctz(mask));
                feed = i + k;
                p += k;
                break;
            }
        }
        if (feed == n) {
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
    out.commit(p);
}

}  // namespace

TextResult to_python(const notebook::Notebook& notebook, std::pmr::memory_resource* memory) {
    std::size_t size = 128;
    for (const auto& cell : notebook.cells) size += cell.source.text.size() + cell.source.text.size() / 8 + 4;
    Text out(memory);
    out.reserve(size);

    TextOutput cursor(out);
    cursor.put("# -*- coding: utf-8 -*-\n# Converted from Jupyter notebook\n\n");
    if (const auto& language = notebook.metadata.languageInfo) {
        cursor.put("# Language: ");
        cursor.put(language->name);
        cursor.put('\n');
        if (language->version) {
            cursor.put("# Version: ");
            cursor.put(*language->version);
            cursor.put('\n');
        }
        cursor.put('\n');
    }

    // No separating line feed before the first cell that is written.
    bool at_start = true;
    for (const auto& cell : notebook.cells) {
        const std::string_view source = cell.source.text;
        switch (cell.cell_type) {
            case CellType::Code:
                if (!at_start) cursor.put('\n');
                cursor.put(source);
                if (source.empty() || source.back() != '\n') cursor.put('\n');
                at_start = false;
                break;
            case CellType::Markdown:
                if (!at_start) cursor.put('\n');
                put_comment_lines(cursor, source);
                cursor.put("\n\n");
                at_start = false;
                break;
            case CellType::Raw: warn_skipped_raw_cell(); break;
        }
    }
    cursor.finish();
    trim_white_space_in_place(out);
    return out;
}

}  // namespace convert_engine::converters
