#pragma once

#include <memory_resource>
#include <string>

namespace convert_engine {

// A text the engine writes: a result or a fragment of one. Its memory comes
// from a resource the caller may choose, so that a long result can be
// written straight into the place it is handed over in, not copied there.
using Text = std::pmr::string;

// Where a text's memory comes from when the caller does not say.
inline std::pmr::memory_resource* default_text_memory() noexcept { return std::pmr::get_default_resource(); }

}  // namespace convert_engine
