#pragma once

#include <cstddef>

#include "convert_engine/byte_blocks.hpp"

namespace convert_engine::json::detail {

// The reader's view of a string's bytes, 16 at a time: which of them end a
// plain run (a double quote, a backslash or a control byte below 0x20).
struct StringBlock {
    static constexpr std::size_t kSize = 16;

    // Copies the 16 bytes at `src` to `dest` whole and returns the mask of
    // the special ones, bit k for byte k; `backslashes` gets the mask of the
    // backslashes alone. Both need 16 readable or writable bytes.
    static unsigned copy(const char* src, char* dest, unsigned& backslashes) noexcept {
        const auto v = Blocks::load(src);
        Blocks::store(dest, v);
        return Blocks::json_string_special_mask(v, backslashes);
    }
};

}  // namespace convert_engine::json::detail
