#pragma once

#include <cstddef>
#include <string>

#include "convert_engine/json/messages.hpp"

namespace convert_engine::notebook {

// One failure of JSON reading or writing. line 0 means "not placed yet".
struct JsonError {
    // What failed, for callers that tell failures apart; `message` is its text.
    ErrorKind kind;
    std::string message;
    std::size_t line = 0;
    std::size_t column = 0;

    bool placed() const noexcept { return line != 0; }
    // The message, then " at line L column C" once placed.
    std::string display() const;
};

}  // namespace convert_engine::notebook
