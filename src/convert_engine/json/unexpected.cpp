#include "convert_engine/json/unexpected.hpp"

#include <utf8proc.h>

#include <charconv>
#include <variant>

#include "convert_engine/json/float_format.hpp"

namespace convert_engine::json {

namespace {

template <class Int>
std::string integer_text(Int value) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    std::string out = "integer `";
    out.append(buf, res.ptr);
    out += '`';
    return out;
}

void append_unicode_escape(std::string& out, std::uint32_t cp) {
    char buf[8];
    const auto res = std::to_chars(buf, buf + sizeof buf, cp, 16);
    out += "\\u{";
    out.append(buf, res.ptr);
    out += '}';
}

// Not printable: controls, format characters, surrogates, private use,
// unassigned code points and separators; also every grapheme extender.
bool needs_escape(utf8proc_int32_t cp) {
    const utf8proc_property_t* prop = utf8proc_get_property(cp);
    // The grapheme-cluster "Extend" class also holds the emoji modifiers
    // (a symbol category), which do not extend graphemes.
    if (prop->boundclass == UTF8PROC_BOUNDCLASS_EXTEND && prop->category != UTF8PROC_CATEGORY_SK) return true;
    switch (prop->category) {
        case UTF8PROC_CATEGORY_CN:
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
        case UTF8PROC_CATEGORY_CS:
        case UTF8PROC_CATEGORY_CO:
        case UTF8PROC_CATEGORY_ZS:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string unexpected_bool(bool value) { return value ? "boolean `true`" : "boolean `false`"; }

std::string unexpected_unsigned(std::uint64_t value) { return integer_text(value); }

std::string unexpected_signed(std::int64_t value) { return integer_text(value); }

std::string unexpected_float(double value) {
    std::string out = "floating point `";
    append_float(out, value);
    out += '`';
    return out;
}

std::string unexpected_string(std::string_view text) {
    std::string out = "string ";
    append_quoted(out, text);
    return out;
}

std::string unexpected_value(const JsonValue& value) {
    struct Show {
        std::string operator()(std::nullptr_t) const { return "null"; }
        std::string operator()(bool b) const { return unexpected_bool(b); }
        std::string operator()(std::uint64_t u) const { return unexpected_unsigned(u); }
        std::string operator()(std::int64_t i) const { return unexpected_signed(i); }
        std::string operator()(double d) const { return unexpected_float(d); }
        std::string operator()(const CompactString& s) const { return unexpected_string(s); }
        std::string operator()(const Boxed<JsonArray>&) const { return "sequence"; }
        std::string operator()(const Boxed<JsonObject>&) const { return "map"; }
    };
    return std::visit(Show{}, value.value);
}

void append_quoted(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size() + 2);
    out += '"';
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\t': out += "\\t"; break;
                case '\r': out += "\\r"; break;
                case '\n': out += "\\n"; break;
                case '\0': out += "\\0"; break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        append_unicode_escape(out, c);
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t len = utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(n - i), &cp);
        if (len <= 0) {
            // Not UTF-8: shown as the replacement character.
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (needs_escape(cp)) {
            append_unicode_escape(out, static_cast<std::uint32_t>(cp));
        } else {
            out.append(text.data() + i, static_cast<std::size_t>(len));
        }
        i += static_cast<std::size_t>(len);
    }
    out += '"';
}

}  // namespace convert_engine::json
