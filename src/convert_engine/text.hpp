#pragma once

#include <cstddef>
#include <memory_resource>
#include <new>
#include <string>

namespace convert_engine {

// A text the engine writes: a result or a fragment of one. Its memory comes
// from a resource the caller may choose, so that a long result can be
// written straight into the place it is handed over in, not copied there.
using Text = std::pmr::string;

// The heap by plain operator new, for texts of chars. The standard
// new_delete_resource() asks for every block by its alignment, which
// glibc serves by its slower aligned path.
class HeapTextMemory final : public std::pmr::memory_resource {
private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__) return ::operator new(bytes, std::align_val_t(alignment));
        return ::operator new(bytes);
    }
    void do_deallocate(void* block, std::size_t, std::size_t alignment) override {
        if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
            ::operator delete(block, std::align_val_t(alignment));
        } else {
            ::operator delete(block);
        }
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

// Where a text's memory comes from when the caller does not say.
inline std::pmr::memory_resource* default_text_memory() noexcept {
    static constinit HeapTextMemory heap;
    return &heap;
}

}  // namespace convert_engine
