#pragma once

#include <string>
#include <string_view>

#include "convert_engine/result.hpp"

namespace python_module {

// Why a file could not be read: the text that follows "Failed to read file: ".
struct ReadError {
    std::string reason;
};

// Reads a whole file as UTF-8 text. The path is used byte for byte. What a
// signal handler raises meanwhile is thrown as Raised.
convert_engine::Result<std::string, ReadError> read_text_file(std::string_view path);

}  // namespace python_module
