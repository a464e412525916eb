#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

#include <sys/mman.h>

namespace convert_engine::json::detail {

// Allocates from the heap, or, when `mapped`, straight from the system: for
// large buffers that live briefly. Freed heap memory stays resident (the
// allocator keeps it for later requests), so a large temporary on the heap
// would go on counting while the rest of a call runs; mapped pages go back
// when the buffer is freed.
template <class T>
struct MappedAllocator {
    using value_type = T;
    // A container keeps the way it was allocated when it is replaced.
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    bool mapped = false;

    MappedAllocator() noexcept = default;
    explicit MappedAllocator(bool map) noexcept : mapped(map) {}
    template <class U>
    MappedAllocator(const MappedAllocator<U>& other) noexcept : mapped(other.mapped) {}

    T* allocate(std::size_t n) {
        if (!mapped) return std::allocator<T>().allocate(n);
        void* pages = mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) throw std::bad_alloc();
        return static_cast<T*>(pages);
    }
    void deallocate(T* items, std::size_t n) noexcept {
        if (mapped) {
            munmap(items, n * sizeof(T));
        } else {
            std::allocator<T>().deallocate(items, n);
        }
    }
    friend bool operator==(const MappedAllocator& a, const MappedAllocator& b) noexcept { return a.mapped == b.mapped; }
};

}  // namespace convert_engine::json::detail
