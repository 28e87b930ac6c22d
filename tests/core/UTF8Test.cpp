#include "core/UTF8.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::core::utf8 {
namespace {

TEST(UTF8Test, AcceptsOnlyWellFormedText) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xC3\xA9", true},             // é
        {"\xE2\x82\xAC", true},         // €
        {"\xF0\x9F\x98\x80", true},     // an emoji
        {"\xF4\x8F\xBF\xBF", true},     // U+10FFFF
        {"\xC0\xAF", false},            // overlong "/"
        {"\xE0\x80\xAF", false},        // overlong three-byte form
        {"\xF0\x80\x80\xAF", false},    // overlong four-byte form
        {"\xED\xA0\x80", false},        // a surrogate
        {"\xF4\x90\x80\x80", false},    // past U+10FFFF
        {"\xC3", false},                // cut short
        {"a\xE2\x82", false},           // cut short at the end
        {"\x80", false},                // a lone continuation byte
        {"\xFF", false},                // never a lead byte
        {std::string("a\0b", 3), true}, // NUL is a scalar like any other
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isValid(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    }
}

TEST(UTF8Test, AnIllFormedSequenceReportsItsMaximalSubpart) {
    EXPECT_EQ(decodeOne("\xE2\x82x", 0).length, 2u);
    EXPECT_FALSE(decodeOne("\xE2\x82x", 0).valid);
    EXPECT_EQ(decodeOne("\xF0\x9F\x98\x80", 0).scalar, U'\U0001F600');
    EXPECT_EQ(decodeOne("\xF0\x9F\x98\x80", 0).length, 4u);
}

} // namespace
} // namespace meterly::core::utf8
