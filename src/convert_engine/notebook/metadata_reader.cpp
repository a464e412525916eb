#include <array>

#include "convert_engine/notebook/record_readers.hpp"

namespace convert_engine::notebook::detail {

namespace {

constexpr std::array<std::string_view, 1> kKernelKeys = {"name"};

KernelInfo read_kernel_info(JsonReader& r) {
    KernelInfo info;
    const int c = r.peek_value();
    if (c == '{') {
        r.enter();
        r.within_object([&] {
            const auto seen = read_declared_members(r, kKernelKeys, [&](std::size_t) { info.name = r.read_text(); });
            if (!seen[0]) JsonReader::fail_unplaced(missing_field("name"));
        });
    } else if (c == '[') {
        r.enter();
        r.within_array([&] {
            ArrayFields fields(r);
            if (!fields.next()) JsonReader::fail_unplaced(invalid_length(0, "struct KernelInfo with 1 element"));
            info.name = r.read_text();
            fields.finish();
        });
    } else {
        r.fail_invalid_type("struct KernelInfo");
    }
    r.leave();
    return info;
}

constexpr std::array<std::string_view, 5> kLanguageKeys = {"name", "version", "codemirrorMode", "fileExtension",
                                                           "mimetype"};

void read_language_field(JsonReader& r, LanguageInfo& info, std::size_t index) {
    switch (index) {
        case 0: info.name = r.read_text(); break;
        case 1: info.version = read_optional_text(r); break;
        case 2: info.codemirrorMode = read_optional_value(r); break;
        case 3: info.fileExtension = read_optional_text(r); break;
        default: info.mimetype = read_optional_text(r); break;
    }
}

LanguageInfo read_language_info(JsonReader& r) {
    LanguageInfo info;
    const int c = r.peek_value();
    if (c == '{') {
        r.enter();
        r.within_object([&] {
            const auto seen =
                read_declared_members(r, kLanguageKeys, [&](std::size_t i) { read_language_field(r, info, i); });
            if (!seen[0]) JsonReader::fail_unplaced(missing_field("name"));
        });
    } else if (c == '[') {
        r.enter();
        r.within_array([&] {
            ArrayFields fields(r);
            if (!fields.next()) JsonReader::fail_unplaced(invalid_length(0, "struct LanguageInfo with 5 elements"));
            read_language_field(r, info, 0);
            // The other four default to none when the array ends early.
            for (std::size_t index = 1; index < kLanguageKeys.size() && fields.next(); ++index) read_language_field(r, info, index);
            fields.finish();
        });
    } else {
        r.fail_invalid_type("struct LanguageInfo");
    }
    r.leave();
    return info;
}

}  // namespace

NotebookMetadata read_notebook_metadata(JsonReader& r, bool empty_extra) {
    if (r.peek_value() != '{') r.fail_invalid_type("struct NotebookMetadata");
    r.enter();
    NotebookMetadata metadata;
    r.within_object([&] {
        const std::size_t mark = r.entries_mark();
        bool first = true;
        bool seen_kernel = false;
        bool seen_language = false;
        while (r.object_next(first)) {
            const std::string_view key = r.read_key();
            if (key == "kernelInfo") {
                if (seen_kernel) JsonReader::fail_unplaced(duplicate_field(key));
                seen_kernel = true;
                r.object_colon();
                if (!r.take_null()) metadata.kernelInfo = read_kernel_info(r);
            } else if (key == "languageInfo") {
                if (seen_language) JsonReader::fail_unplaced(duplicate_field(key));
                seen_language = true;
                r.object_colon();
                if (!r.take_null()) metadata.languageInfo = read_language_info(r);
            } else if (empty_extra) {
                r.object_colon();
                r.check_value();
            } else {
                // Every other key is kept, its whole value read; the last of
                // a repeated key wins.
                CompactString name = r.keep_string(key);
                r.object_colon();
                r.read_entry(std::move(name));
            }
        }
        metadata.extra = r.take_entries(mark);
    });
    r.leave();
    return metadata;
}

}  // namespace convert_engine::notebook::detail
