#pragma once

#include <cstddef>
#include <string>

#include "convert_engine/json/messages.hpp"

namespace convert_engine::json {

// One failure of JSON reading or writing. line 0 means "not placed yet".
struct JsonError {
    // What failed and its details, for callers that tell failures apart;
    // the text is made from them when shown.
    Message what;
    std::size_t line = 0;
    std::size_t column = 0;

    ErrorKind kind() const noexcept { return what.kind; }
    std::string message() const { return what.text(); }
    bool placed() const noexcept { return line != 0; }
    // The message, then " at line L column C" once placed.
    std::string display() const;
};

}  // namespace convert_engine::json
