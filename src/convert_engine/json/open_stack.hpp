#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "convert_engine/json/json_value.hpp"
#include "convert_engine/json/mapped_allocator.hpp"

namespace convert_engine::json::detail {

// Whether a T may be moved by copying its bytes, the old bytes then
// forgotten without a destructor: true of the values of a document, which
// point at nothing inside themselves.
template <class T>
inline constexpr bool kRelocatable = false;
template <>
inline constexpr bool kRelocatable<CompactString> = true;
template <>
inline constexpr bool kRelocatable<JsonValue> = true;
template <>
inline constexpr bool kRelocatable<JsonObject::value_type> = true;

// The entries (or elements) of every container being read, the innermost
// on top. Past its first block it grows by blocks instead of by doubling,
// so it never holds a large stack twice while growing, and a container
// taken off the top gives back the blocks it alone filled as soon as it has
// left them.
//
// The first block is small and on the heap, taken at the first push and
// kept for the whole read. It starts at about 1 KiB, what the heap serves
// fastest, and doubles up to kFirstBlock items, its items moved as bytes:
// most reads never hold more than a few items at once. The others are
// mapped from the system one by one and unmapped when released, so that
// their pages do not stay resident while a huge container is moved out of
// them.
template <class T>
class OpenStack {
    static_assert(kRelocatable<T>, "items leave the stack as bytes");

public:
    static constexpr std::size_t kFirstBlock = 1024;
    static constexpr std::size_t kFirstRoom = std::max<std::size_t>(1, std::bit_floor(std::size_t{1024} / sizeof(T)));
    // Up to 1 MiB, a power of two of items: finding an item's block is a shift.
    static constexpr std::size_t kBlock = std::bit_floor((std::size_t{1} << 20) / sizeof(T));

    OpenStack() = default;
    OpenStack(const OpenStack&) = delete;
    OpenStack& operator=(const OpenStack&) = delete;
    ~OpenStack() {
        for (std::size_t i = 0; i < size_; ++i) item(i).~T();
        for (std::size_t b = 0; b < blocks_.size(); ++b) release(b);
    }

    std::size_t size() const noexcept { return size_; }
    const T& operator[](std::size_t index) const noexcept { return item(index); }
    // The top item; the stack must not be empty.
    T& back() noexcept { return item(size_ - 1); }

    template <class... Args>
    void push(Args&&... args) {
        if (top_ == top_end_) open_block();
        ::new (static_cast<void*>(top_)) T(std::forward<Args>(args)...);
        ++top_;
        ++size_;
    }

    // Moves the items from `mark` to the top onto the end of `out`, in
    // order, and pops them.
    template <class Allocator>
    void take(std::size_t mark, std::vector<T, Allocator>& out) {
        const std::size_t at = out.size();
        out.resize(at + (size_ - mark));
        take(mark, out.data() + at);
    }
    // The same into `dest`, room for the items that holds empty ones (which
    // own nothing): their bytes are copied over them, and the stack forgets
    // them.
    void take(std::size_t mark, T* dest) {
        if (size_ == mark) return;
        if (size_ <= kFirstBlock) {
            // All in the first block, as nearly always.
            std::memcpy(static_cast<void*>(dest), static_cast<const void*>(blocks_[0].items + mark), (size_ - mark) * sizeof(T));
            size_ = mark;
            top_ = blocks_[0].items + mark;
            top_end_ = blocks_[0].items + first_room_;
            return;
        }
        auto* to = reinterpret_cast<unsigned char*>(dest);
        for (std::size_t index = mark; index < size_;) {
            const std::size_t b = block_of(index);
            const std::size_t start = start_of(b);
            const std::size_t end = std::min(size_, start + capacity_of(b));
            const std::size_t bytes = (end - index) * sizeof(T);
            std::memcpy(to, static_cast<const void*>(blocks_[b].items + (index - start)), bytes);
            to += bytes;
            index = end;
        }
        pop_taken(mark);
    }

    // The same, the k-th item into dest[k] being the one at mark + order[k]
    // (`order` a permutation of 0 .. size() - mark - 1).
    template <class Order>
    void take_ordered(std::size_t mark, T* dest, const Order& order) {
        // The items are fetched ahead of their turn: the order jumps all
        // over the stack.
        constexpr std::size_t kAhead = 16;
        const std::size_t count = size_ - mark;
        for (std::size_t k = 0; k < count; ++k) {
            if (k + kAhead < count) __builtin_prefetch(&item(mark + order[k + kAhead]));
            std::memcpy(static_cast<void*>(dest + k), static_cast<const void*>(&item(mark + order[k])), sizeof(T));
        }
        pop_taken(mark);
    }

private:
    // The items from `mark` to the top have been taken: each block that holds
    // none now is released, unless it is the first or one barely filled,
    // kept ready for the next pushes so a stack that hovers at a block's edge
    // does not allocate on every push.
    void pop_taken(std::size_t mark) noexcept {
        for (std::size_t index = mark; index < size_;) {
            const std::size_t b = block_of(index);
            const std::size_t start = start_of(b);
            const std::size_t end = std::min(size_, start + capacity_of(b));
            if (b != 0 && index == start && end - start > kFirstBlock) release(b);
            index = end;
        }
        if (blocks_.size() > 1) {
            while (blocks_.back().items == nullptr) blocks_.pop_back();
        }
        size_ = mark;
        const std::size_t b = block_of(size_);
        if (b < blocks_.size() && blocks_[b].items != nullptr) {
            top_ = blocks_[b].items + (size_ - start_of(b));
            top_end_ = blocks_[b].items + room_of(b);
        } else {
            top_ = top_end_ = nullptr;
        }
    }

    struct Block {
        T* items = nullptr;
    };

    static std::size_t block_of(std::size_t index) noexcept {
        return index < kFirstBlock ? 0 : 1 + (index - kFirstBlock) / kBlock;
    }
    static std::size_t start_of(std::size_t block) noexcept {
        return block == 0 ? 0 : kFirstBlock + (block - 1) * kBlock;
    }
    static std::size_t capacity_of(std::size_t block) noexcept { return block == 0 ? kFirstBlock : kBlock; }
    // What a block holds now: less than its capacity for a first block
    // still growing.
    std::size_t room_of(std::size_t block) const noexcept { return block == 0 ? first_room_ : kBlock; }

    // The stack owns its items through the blocks' pointers, so this serves
    // the const members too.
    T& item(std::size_t index) const noexcept {
        const std::size_t b = block_of(index);
        return blocks_[b].items[index - start_of(b)];
    }
    // The top is at the start of a block, or of the stack: makes that
    // block ready.
    void open_block() {
        const std::size_t b = block_of(size_);
        if (b == blocks_.size()) blocks_.emplace_back();
        Block& block = blocks_[b];
        if (b == 0) {
            grow_first_block();
        } else if (block.items == nullptr) {
            block.items = MappedAllocator<T>{true}.allocate(kBlock);
        }
        top_ = block.items + (size_ - start_of(b));
        top_end_ = block.items + room_of(b);
    }
    // The first block is full below its capacity, or not there yet: its
    // items move to one of twice the room.
    void grow_first_block() {
        const std::size_t room = first_room_ == 0 ? kFirstRoom : std::min(2 * first_room_, kFirstBlock);
        T* items = MappedAllocator<T>{false}.allocate(room);
        if (size_ != 0) std::memcpy(static_cast<void*>(items), static_cast<const void*>(blocks_[0].items), size_ * sizeof(T));
        release(0);
        blocks_[0].items = items;
        first_room_ = room;
    }
    void release(std::size_t b) noexcept {
        T* items = std::exchange(blocks_[b].items, nullptr);
        if (items != nullptr) MappedAllocator<T>{b != 0}.deallocate(items, room_of(b));
    }

    std::vector<Block> blocks_;
    T* top_ = nullptr;  // where the next item goes, in its block
    T* top_end_ = nullptr;
    std::size_t size_ = 0;
    std::size_t first_room_ = 0;
};

}  // namespace convert_engine::json::detail
