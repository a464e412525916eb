#pragma once

#include <string>

namespace convert_engine::json {

// Appends a finite double in the notebook's number spelling: the shortest
// round-trip digits, plain form for decimal exponents -5..15 ("100.0",
// "0.001", "12.5"), exponent form otherwise ("1e+16", "1.5e-7"); zero is
// "0.0" or "-0.0". A value that is not finite is written "null".
// Used by the JSON writer and by the reader's "floating point `...`" texts.
void append_float(std::string& out, double value);
std::string format_float(double value);

}  // namespace convert_engine::json
