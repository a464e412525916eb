#include "convert_engine/json/float_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace convert_engine::json {

void append_float(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (std::signbit(value)) out += '-';
    if (value == 0.0) {
        out += "0.0";
        return;
    }
    // Shortest round-trip digits in scientific form: d[.ddd]e(+|-)XX
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    const auto e_pos = sci.find('e');
    char digits[20];
    int n = 0;
    for (std::size_t i = 0; i < e_pos; ++i)
        if (sci[i] != '.') digits[n++] = sci[i];
    int exp = 0;
    std::from_chars(sci.data() + e_pos + (sci[e_pos + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exp);

    if (exp >= -5 && exp <= 15) {
        if (exp < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exp - 1), '0');
            out.append(digits, static_cast<std::size_t>(n));
        } else if (exp >= n - 1) {
            out.append(digits, static_cast<std::size_t>(n));
            out.append(static_cast<std::size_t>(exp - n + 1), '0');
            out += ".0";
        } else {
            out.append(digits, static_cast<std::size_t>(exp + 1));
            out += '.';
            out.append(digits + exp + 1, static_cast<std::size_t>(n - exp - 1));
        }
        return;
    }
    out += digits[0];
    if (n > 1) {
        out += '.';
        out.append(digits + 1, static_cast<std::size_t>(n - 1));
    }
    out += 'e';
    out += exp < 0 ? '-' : '+';
    char ebuf[8];
    auto eres = std::to_chars(ebuf, ebuf + sizeof ebuf, std::abs(exp));
    out.append(ebuf, eres.ptr);
}

std::string format_float(double value) {
    std::string out;
    append_float(out, value);
    return out;
}

}  // namespace convert_engine::json
