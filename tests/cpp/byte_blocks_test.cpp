// The SSE2 block operations against their scalar twin, and the scans built
// on them against a byte-at-a-time reading of the escape tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "convert_engine/byte_blocks.hpp"
#include "convert_engine/text_output.hpp"

namespace convert_engine {
namespace {

// Bytes around which the operations change their answer.
constexpr unsigned char kEdgeBytes[] = {0x00, 0x1F, 0x20, '"', '\\', '&', '<', '>', '\n', '\r', 'a',
                                        0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xEF, 0xF4, 0xFF};

// Texts of 0 to 48 bytes of plain filler with one edge byte at each offset,
// and with a run of two to four edge bytes crossing each block end.
std::vector<std::string> texts() {
    std::vector<std::string> found;
    for (std::size_t n = 0; n <= 48; ++n) {
        found.emplace_back(n, 'x');
        for (const unsigned char c : kEdgeBytes) {
            found.emplace_back(n, static_cast<char>(c));
            for (std::size_t at = 0; at < n; ++at) {
                std::string text(n, 'x');
                text[at] = static_cast<char>(c);
                found.push_back(text);
            }
            for (const std::size_t end : {16U, 32U})
                for (std::size_t run = 2; run <= 4 && end + run / 2 <= n; ++run)
                    found.push_back(std::string(n, 'x').replace(end - run / 2, run, run, static_cast<char>(c)));
        }
    }
    return found;
}

// The escaped text, read byte by byte from the table.
template <class Escaping>
std::string reference_escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const std::uint64_t entry = Escaping::table[static_cast<unsigned char>(c)];
        if (entry == 0) out.push_back(c);
        for (std::size_t k = 0; k < (entry >> 56); ++k) out.push_back(static_cast<char>(entry >> (8 * k)));
    }
    return out;
}

template <class Escaping, class B>
std::string escaped(std::string_view text) {
    std::string out(Escaping::kMaxLength * text.size() + TextOutput::kSlack, '\0');
    out.resize(static_cast<std::size_t>(write_escaped<Escaping, B>(out.data(), text) - out.data()));
    return out;
}

// The text's plain prefix as copied (its length, then the bytes copied).
template <class Escaping, class B>
std::string plain_prefix(std::string_view text) {
    std::string out(text.size() + 16, '\0');
    out.resize(copy_plain_prefix<Escaping, B>(out.data(), text));
    return out;
}

template <class Escaping>
void expect_escaping_matches_table(const std::string& text) {
    const std::string want = reference_escaped<Escaping>(text);
    ASSERT_EQ((escaped<Escaping, Blocks>(text)), want) << testing::PrintToString(text);
    const std::size_t plain = static_cast<std::size_t>(
        std::find_if(text.begin(), text.end(),
                     [](char c) { return Escaping::table[static_cast<unsigned char>(c)] != 0; }) -
        text.begin());
    ASSERT_EQ((plain_prefix<Escaping, Blocks>(text)), text.substr(0, plain)) << testing::PrintToString(text);
}

TEST(ByteBlocks, ScansMatchTheTablesByteByByte) {
    for (const std::string& text : texts()) {
        expect_escaping_matches_table<JsonEscaping>(text);
        expect_escaping_matches_table<HtmlEscaping>(text);
        expect_escaping_matches_table<JsonInHtmlEscaping>(text);
        const std::string html = reference_escaped<HtmlEscaping>(text);
        ASSERT_EQ(escaped_size<HtmlEscaping>(text), html.size());
        const TextLength length = html_escaped_length(text);
        ASSERT_EQ(length.size, html.size());
        ASSERT_EQ(length.ascii, std::none_of(text.begin(), text.end(),
                                             [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
        for (std::size_t from = 0; from <= text.size(); ++from) {
            std::size_t want = from;
            while (want < text.size() && !is_json_string_special(static_cast<unsigned char>(text[want]))) ++want;
            ASSERT_EQ(find_json_string_special(text.data(), from, text.size()), want);
        }
    }
}

#if defined(QC_SSE2_BLOCKS)
using S = ScalarBlocks;
using V = Sse2Blocks;

// Every byte value in every lane, over three fillers: plain, special, high.
std::vector<std::string> single_byte_blocks() {
    std::vector<std::string> blocks;
    for (const char filler : {'a', '"', static_cast<char>(0x80)})
        for (std::size_t lane = 0; lane < 16; ++lane)
            for (unsigned c = 0; c < 256; ++c) {
                std::string block(16, filler);
                block[lane] = static_cast<char>(c);
                blocks.push_back(block);
            }
    return blocks;
}

template <class B, class Char>
std::vector<Char> widened(const char* block) {
    std::vector<Char> out(16);
    B::widen(out.data(), B::load(block));
    return out;
}

TEST(ByteBlocks, Sse2BlockOperationsMatchTheScalarTwin) {
    for (const std::string& block : single_byte_blocks()) {
        const char* p = block.data();
        SCOPED_TRACE(testing::PrintToString(block));
        unsigned scalar_backslashes = 0;
        unsigned sse2_backslashes = 0;
        ASSERT_EQ(S::json_string_special_mask(S::load(p), scalar_backslashes),
                  V::json_string_special_mask(V::load(p), sse2_backslashes));
        ASSERT_EQ(scalar_backslashes, sse2_backslashes);
        ASSERT_EQ(S::html_special_mask(S::load(p)), V::html_special_mask(V::load(p)));
        ASSERT_EQ(S::high_bit_mask(S::load(p)), V::high_bit_mask(V::load(p)));
        for (const unsigned char c : kEdgeBytes)
            ASSERT_EQ(S::equal_mask(S::load(p), static_cast<char>(c)), V::equal_mask(V::load(p), static_cast<char>(c)));
        ASSERT_EQ(S::total(S::add_html_added(S::no_sum(), S::load(p))),
                  V::total(V::add_html_added(V::no_sum(), V::load(p))));
        ASSERT_EQ((widened<S, char16_t>(p)), (widened<V, char16_t>(p)));
        ASSERT_EQ((widened<S, char32_t>(p)), (widened<V, char32_t>(p)));
        // Put together from parts: the masks tell the parts' order.
        ASSERT_EQ(S::html_special_mask(S::either(S::load(p), S::load_halves(p + 3, p + 8))),
                  V::html_special_mask(V::either(V::load(p), V::load_halves(p + 3, p + 8))));
        std::uint32_t a;
        std::uint32_t b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + 12, 4);
        ASSERT_EQ(S::json_string_special_mask(S::repeat_words(a, b)),
                  V::json_string_special_mask(V::repeat_words(a, b)));
    }
    char scalar_words[16];
    char sse2_words[16];
    S::store_words(scalar_words, 0x0706050403020100U, 0x8F8E8D8C8B8A8988U);
    V::store_words(sse2_words, 0x0706050403020100U, 0x8F8E8D8C8B8A8988U);
    EXPECT_EQ(std::string_view(scalar_words, 16), std::string_view(sse2_words, 16));
}

// The SSE2 survey counts per lane in bytes for up to 255 blocks at a time.
TEST(ByteBlocks, Sse2SurveyMatchesTheScalarTwinOverLongRuns) {
    for (const std::size_t blocks : {0U, 1U, 254U, 255U, 256U, 510U, 511U, 700U})
        for (const unsigned char c : kEdgeBytes) {
            std::string text(16 * blocks, static_cast<char>(c));
            if (!text.empty()) text[text.size() / 2] = static_cast<char>(0xF0);
            const auto* data = reinterpret_cast<const unsigned char*>(text.data());
            unsigned char scalar_largest = 0;
            unsigned char sse2_largest = 0;
            std::size_t scalar_count = 1;
            std::size_t sse2_count = 1;
            S::survey(data, blocks, scalar_largest, scalar_count);
            V::survey(data, blocks, sse2_largest, sse2_count);
            ASSERT_EQ(scalar_largest, sse2_largest) << blocks << " blocks of " << unsigned{c};
            ASSERT_EQ(scalar_count, sse2_count) << blocks << " blocks of " << unsigned{c};
        }
}

template <class Escaping>
void expect_twins_escape_alike(const std::string& text) {
    ASSERT_EQ((escaped<Escaping, S>(text)), (escaped<Escaping, V>(text))) << testing::PrintToString(text);
    ASSERT_EQ((plain_prefix<Escaping, S>(text)), (plain_prefix<Escaping, V>(text))) << testing::PrintToString(text);
    if (text.empty() || text.size() > 31) return;
    std::string scalar_tail(32, '\0');
    std::string sse2_tail(32, '\0');
    ASSERT_EQ((copy_plain_tail<Escaping, S>(scalar_tail.data(), text.data(), text.size())),
              (copy_plain_tail<Escaping, V>(sse2_tail.data(), text.data(), text.size())));
    ASSERT_EQ(scalar_tail, sse2_tail);
}

TEST(ByteBlocks, Sse2ScansMatchTheScalarTwin) {
    for (const std::string& text : texts()) {
        expect_twins_escape_alike<JsonEscaping>(text);
        expect_twins_escape_alike<HtmlEscaping>(text);
        expect_twins_escape_alike<JsonInHtmlEscaping>(text);
        ASSERT_EQ((escaped_size<HtmlEscaping, S>(text)), (escaped_size<HtmlEscaping, V>(text)));
        const TextLength scalar = html_escaped_length<S>(text);
        const TextLength sse2 = html_escaped_length<V>(text);
        ASSERT_EQ(scalar.size, sse2.size);
        ASSERT_EQ(scalar.ascii, sse2.ascii);
        const auto* data = reinterpret_cast<const unsigned char*>(text.data());
        ASSERT_EQ(ascii_prefix<S>(data, text.size()), ascii_prefix<V>(data, text.size()));
        for (std::size_t from = 0; from <= text.size(); ++from)
            ASSERT_EQ(find_json_string_special<S>(text.data(), from, text.size()),
                      find_json_string_special<V>(text.data(), from, text.size()));
    }
}
#endif

}  // namespace
}  // namespace convert_engine
