#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <memory_resource>
#include <string_view>
#include <vector>

#include "convert_engine/text.hpp"
#include "python_module/py_ref.hpp"

namespace python_module {

// A new str holding the UTF-8 text, built at its final kind and length in
// one pass after a survey of the bytes: a run of 16 ASCII bytes is stored
// as a block, widened to the kind. Text that is not well-formed goes to the
// interpreter's decoder and fails as it would there. Null with the
// exception set on failure.
PyObject* str_from_utf8(std::string_view text);

// The characters of a str, for filling one just made.
void* str_data(PyObject* str) noexcept;

// Memory for a result text in which each large block is the storage of a
// new str: when the finished text is all ASCII, the str that holds it
// becomes the result as it stands, cut to the text's length, so a long
// result is neither copied nor paged in twice. Small blocks come from the
// heap. The interpreter lock is held while it serves, and it outlives the
// texts it serves.
class StrMemory final : public std::pmr::memory_resource {
public:
    StrMemory() = default;
    StrMemory(const StrMemory&) = delete;
    StrMemory& operator=(const StrMemory&) = delete;
    ~StrMemory() override;

    // The str of a text written in this memory, which is let go: its own
    // block when the text is ASCII, else a new str. Throws as new_str().
    // `ascii` tells that the writer knows the text is all ASCII, which saves
    // looking.
    PyRef str_of(convert_engine::Text&& text, bool ascii = false);

private:
    // Blocks of at least this many bytes are strs.
    static constexpr std::size_t kStrBlock = std::size_t{64} << 10;

    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
    // The str whose storage starts at `block`, or null.
    PyObject* str_at(const void* block) const noexcept;

    std::vector<PyObject*> strs_;  // those whose storage is out; rarely more than two
};

}  // namespace python_module
