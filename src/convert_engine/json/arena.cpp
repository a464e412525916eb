#include "convert_engine/json/arena.hpp"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace convert_engine::notebook {

namespace {

constexpr std::size_t kFirstChunk = std::size_t{8} << 10;
constexpr std::size_t kLargestChunk = std::size_t{1} << 20;
constexpr int kSizeClasses = 8;  // kFirstChunk << 0 .. kLargestChunk

// The chunks of the standard sizes that finished arenas gave back, kept for
// the next ones, up to kKeptBytes in all for the whole process. Without them
// a call on a notebook of a few MB takes its arena from the system and the
// heap hands it back on return, every time: a page fault for every 4 KB,
// which doubled the time of such a call made in a loop. Builds with
// AddressSanitizer keep nothing, so that every arena's memory is new and a
// use after the end of its call is caught.
class KeptChunks {
public:
    // A kept chunk of class k, or null.
    void* take(int k) {
        const std::lock_guard<std::mutex> lock(mutex_);
        void* chunk = lists_[k];
        if (chunk != nullptr) {
            lists_[k] = *static_cast<void**>(chunk);
            bytes_ -= kFirstChunk << k;
        }
        return chunk;
    }
    // False when the chunk of class k is not kept (the caller frees it).
    bool keep([[maybe_unused]] void* chunk, [[maybe_unused]] int k) {
#if defined(__SANITIZE_ADDRESS__)
        return false;
#else
        const std::lock_guard<std::mutex> lock(mutex_);
        if (bytes_ + (kFirstChunk << k) > kKeptBytes) return false;
        *static_cast<void**>(chunk) = lists_[k];
        lists_[k] = chunk;
        bytes_ += kFirstChunk << k;
        return true;
#endif
    }

private:
    static constexpr std::size_t kKeptBytes = std::size_t{16} << 20;
    std::mutex mutex_;
    void* lists_[kSizeClasses] = {};
    std::size_t bytes_ = 0;
};

// Never destroyed: a thread may still end a call while the process exits.
KeptChunks& kept_chunks() {
    static KeptChunks* const chunks = new KeptChunks;
    return *chunks;
}

// The class of a chunk of the standard sizes, or -1.
int size_class(std::size_t size) noexcept {
    for (int k = 0; k < kSizeClasses; ++k)
        if (size == (kFirstChunk << k)) return k;
    return -1;
}

}  // namespace

Arena::~Arena() {
    for (Chunk* chunk = chunks_; chunk != nullptr;) {
        Chunk* next = chunk->next;
        const int k = size_class(chunk->size);
        if (k < 0 || !kept_chunks().keep(chunk, k)) std::free(chunk);
        chunk = next;
    }
}

// Kept from an earlier arena, else from the heap (large chunks included).
Arena::Chunk* Arena::new_chunk(std::size_t size) {
    const int k = size_class(size);
    void* memory = k < 0 ? nullptr : kept_chunks().take(k);
    if (memory == nullptr) memory = std::malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    Chunk* chunk = ::new (memory) Chunk{chunks_, size};
    chunks_ = chunk;
    return chunk;
}

void* Arena::allocate_slow(std::size_t bytes, std::size_t align) {
    const std::size_t room = sizeof(Chunk) + align + bytes;
    if (room < bytes) throw std::bad_alloc();
    if (next_size_ == 0) next_size_ = kFirstChunk;
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

}  // namespace convert_engine::notebook
