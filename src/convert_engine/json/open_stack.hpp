#pragma once

#include <bit>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

#include "convert_engine/json/mapped_allocator.hpp"

namespace convert_engine::notebook::detail {

// The entries (or elements) of every container being read, the innermost
// on top. It grows by blocks instead of by doubling, so it never holds its
// items twice while growing, and a container taken off the top is moved out
// block by block, each block released once drained: a huge container is at
// no point held both here and in its own storage.
//
// The first block is small and lives on the heap for the whole read. The
// others are mapped from the system one by one and unmapped when released,
// so that their pages do not stay resident while a huge container is moved
// out of them.
template <class T>
class OpenStack {
public:
    static constexpr std::size_t kFirstBlock = 1024;
    // Up to 1 MiB, a power of two of items: finding an item's block is a shift.
    static constexpr std::size_t kBlock = std::bit_floor((std::size_t{1} << 20) / sizeof(T));

    std::size_t size() const noexcept { return size_; }

    void push(T&& item) {
        const std::size_t block = block_of(size_);
        if (block == blocks_.size()) blocks_.emplace_back();
        Block& into = blocks_[block];
        if (into.capacity() == 0) {
            into = Block(MappedAllocator<T>{block != 0});
            into.reserve(block == 0 ? kFirstBlock : kBlock);
        }
        into.push_back(std::move(item));
        ++size_;
    }

    // Moves the items from `mark` to the top onto the end of `out`, in
    // order, and pops them.
    template <class Allocator>
    void take(std::size_t mark, std::vector<T, Allocator>& out) {
        out.reserve(out.size() + (size_ - mark));
        const std::size_t mark_block = block_of(mark);
        const std::size_t top_block = size_ == 0 ? 0 : block_of(size_ - 1);
        for (std::size_t b = mark_block; b <= top_block && b < blocks_.size(); ++b) {
            Block& block = blocks_[b];
            const auto from = block.begin() + static_cast<std::ptrdiff_t>(b == mark_block ? mark - start_of(b) : 0);
            const std::size_t filled = block.size();
            out.insert(out.end(), std::make_move_iterator(from), std::make_move_iterator(block.end()));
            block.erase(from, block.end());
            // A block that holds no item now is released, unless it is the
            // first or one barely filled, kept ready for the next pushes so
            // a stack that hovers at a block's edge does not allocate on
            // every push.
            if (b != 0 && block.empty() && filled > kFirstBlock) Block(block.get_allocator()).swap(block);
        }
        while (!blocks_.empty() && blocks_.back().capacity() == 0) blocks_.pop_back();
        size_ = mark;
    }

private:
    static std::size_t block_of(std::size_t index) noexcept {
        return index < kFirstBlock ? 0 : 1 + (index - kFirstBlock) / kBlock;
    }
    static std::size_t start_of(std::size_t block) noexcept {
        return block == 0 ? 0 : kFirstBlock + (block - 1) * kBlock;
    }

    using Block = std::vector<T, MappedAllocator<T>>;
    std::vector<Block> blocks_;
    std::size_t size_ = 0;
};

}  // namespace convert_engine::notebook::detail
