#include "convert_engine/json/arena.hpp"

#include <algorithm>
#include <cstdlib>

namespace convert_engine::json {

namespace {

// The smallest is among the sizes the heap serves from its cache of freed
// blocks: the arena of a small notebook costs next to nothing.
constexpr std::size_t kSmallestChunk = std::size_t{1} << 10;
constexpr std::size_t kLargestChunk = std::size_t{1} << 20;

}  // namespace

Arena::~Arena() {
    for (Chunk* chunk = chunks_; chunk != nullptr;) {
        Chunk* next = chunk->next;
        std::free(chunk);
        chunk = next;
    }
}

void Arena::expect(std::size_t bytes) noexcept {
    if (chunks_ == nullptr) next_size_ = std::clamp(bytes, kSmallestChunk, kLargestChunk);
}

Arena::Chunk* Arena::new_chunk(std::size_t size) {
    void* memory = std::malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    Chunk* chunk = ::new (memory) Chunk{chunks_, size};
    chunks_ = chunk;
    return chunk;
}

void* Arena::allocate_slow(std::size_t bytes, std::size_t align) {
    const std::size_t room = sizeof(Chunk) + align + bytes;
    if (room < bytes) throw std::bad_alloc();
    if (next_size_ == 0) next_size_ = kSmallestChunk;
    if (room > next_size_ / 2) {
        // A large piece gets a chunk of its own; the current one goes on
        // serving the small pieces.
        Chunk* chunk = new_chunk(room);
        auto at = reinterpret_cast<std::uintptr_t>(chunk + 1);
        at += (align - at % align) % align;
        return reinterpret_cast<void*>(at);
    }
    Chunk* chunk = new_chunk(next_size_);
    cursor_ = reinterpret_cast<char*>(chunk + 1);
    end_ = reinterpret_cast<char*>(chunk) + next_size_;
    next_size_ = std::min(next_size_ * 2, kLargestChunk);
    return allocate(bytes, align);
}

}  // namespace convert_engine::json
