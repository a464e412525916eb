#include <utility>

#include "convert_engine/notebook/record_readers.hpp"

namespace convert_engine::notebook::detail {

namespace {

KernelInfo read_kernel_info(JsonReader& r) {
    KernelInfo info;
    read_record<kKernelInfo>(r, [&](KernelInfoField field) {
        switch (field) {
            case KernelInfoField::Name: info.name = r.read_text(); return;
        }
    });
    return info;
}

LanguageInfo read_language_info(JsonReader& r) {
    LanguageInfo info;
    read_record<kLanguageInfo>(r, [&](LanguageInfoField field) {
        switch (field) {
            case LanguageInfoField::Name: info.name = r.read_text(); return;
            case LanguageInfoField::Version: info.version = read_optional_text(r); return;
            case LanguageInfoField::CodemirrorMode: info.codemirrorMode = read_optional_value(r); return;
            case LanguageInfoField::FileExtension: info.fileExtension = read_optional_text(r); return;
            case LanguageInfoField::Mimetype: info.mimetype = read_optional_text(r); return;
        }
    });
    return info;
}

}  // namespace

NotebookMetadata read_notebook_metadata(JsonReader& r, bool empty_extra) {
    NotebookMetadata metadata;
    // The other keys' entries wait on the reader's stack until the object
    // closes.
    const std::size_t mark = r.entries_mark();
    read_record<kNotebookMetadata>(
        r,
        [&](NotebookMetadataField field) {
            if (r.take_null()) return;
            switch (field) {
                case NotebookMetadataField::KernelInfo: metadata.kernelInfo = read_kernel_info(r); return;
                case NotebookMetadataField::LanguageInfo: metadata.languageInfo = read_language_info(r); return;
            }
        },
        [&](std::string_view key) {
            if (empty_extra) {
                r.object_colon();
                r.check_value();
                return;
            }
            // Every other key is kept, its whole value read; the last of a
            // repeated key wins.
            CompactString name = r.keep_string(key);
            r.object_colon();
            r.read_entry(std::move(name));
        });
    metadata.extra = r.take_entries(mark);
    return metadata;
}

}  // namespace convert_engine::notebook::detail
