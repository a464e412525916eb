#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

namespace convert_engine::json {

// Memory for the strings and containers of one document, handed out in
// order and given back all at once when the arena goes. A document's parts
// are many and small (a key, a string of 16 bytes or more, one object's
// entries) and all live exactly as long as the document: taking them from
// here costs a pointer bump each, instead of a malloc and a free.
//
// Nothing taken from an arena is given back before the arena goes, so it
// suits memory made once at its final size, not buffers that grow. All of
// it goes back to the heap with the arena: nothing is kept for later ones.
class Arena {
public:
    Arena() noexcept = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();

    // Sizes the first chunk (within the smallest and the largest chunk
    // sizes) to `bytes`, when nothing has been taken yet: a caller that
    // knows about what it will take then gets it in one request, not from a
    // chain of chunks grown from the smallest. A piece takes a chunk of its
    // own when it is larger than half the chunk it would go in.
    void expect(std::size_t bytes) noexcept;

    void* allocate(std::size_t bytes, std::size_t align) {
        const std::size_t skip = (align - reinterpret_cast<std::uintptr_t>(cursor_) % align) % align;
        if (static_cast<std::size_t>(end_ - cursor_) >= bytes + skip && bytes + skip >= bytes) {
            char* at = cursor_ + skip;
            cursor_ = at + bytes;
            return at;
        }
        return allocate_slow(bytes, align);
    }

private:
    struct Chunk {
        Chunk* next;
        std::size_t size;  // the whole chunk, this header included
    };

    void* allocate_slow(std::size_t bytes, std::size_t align);
    Chunk* new_chunk(std::size_t size);

    char* cursor_ = nullptr;
    char* end_ = nullptr;
    Chunk* chunks_ = nullptr;
    std::size_t next_size_ = 0;
};

// An allocator for the containers of a document: from `arena` when it has
// one, else from the heap. Memory from an arena is given back with the
// arena, never one piece at a time. A copy of a container goes to the heap,
// so it may outlive the arena; a moved one keeps its allocator.
template <class T>
class ArenaAllocator {
public:
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using propagate_on_container_copy_assignment = std::false_type;
    using is_always_equal = std::false_type;

    ArenaAllocator() noexcept = default;
    explicit ArenaAllocator(Arena* arena) noexcept : arena_(arena) {}
    template <class U>
    ArenaAllocator(const ArenaAllocator<U>& other) noexcept : arena_(other.arena()) {}

    T* allocate(std::size_t n) {
        if (arena_ == nullptr) return std::allocator<T>().allocate(n);
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(arena_->allocate(n * sizeof(T), alignof(T)));
    }
    void deallocate(T* items, std::size_t n) noexcept {
        if (arena_ == nullptr) std::allocator<T>().deallocate(items, n);
    }
    // Everything an arena's container holds lives in that arena too (its
    // strings, its nested containers), so its items need no destructor: a
    // document goes without a visit to each of its values. Only an empty,
    // moved-from or arena-held value may be stored into such a container.
    template <class U>
    void destroy(U* item) noexcept {
        if (arena_ == nullptr) item->~U();
    }
    ArenaAllocator select_on_container_copy_construction() const noexcept { return ArenaAllocator(); }

    Arena* arena() const noexcept { return arena_; }
    friend bool operator==(const ArenaAllocator& a, const ArenaAllocator& b) noexcept { return a.arena_ == b.arena_; }

private:
    Arena* arena_ = nullptr;
};

}  // namespace convert_engine::json
