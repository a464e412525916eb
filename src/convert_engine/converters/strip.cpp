#include "convert_engine/converters/text_conversions.hpp"

namespace convert_engine::converters {

notebook::Notebook strip_outputs(const notebook::Notebook& notebook) { return notebook; }

}  // namespace convert_engine::converters
