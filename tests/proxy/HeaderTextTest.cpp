#include "proxy/HeaderText.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace meterly::proxy {
namespace {

ByteView bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(HeaderTextTest, LowerCasingFoldsUnicodeLettersAndKeepsWhatIsNotUTF8) {
    struct Case {
        std::string_view text;
        std::string_view expected;
    };
    const Case cases[] = {
        {"Content-Type", "content-type"},
        {"X-ÄÖÜ-Straße", "x-äöü-straße"},
        {"ΑΒΓ Ωmega", "αβγ ωmega"},
        {"ЖУРНАЛ", "журнал"},
        {"日本語-Ok", "日本語-ok"},
        // A stray continuation byte and a truncated sequence pass through as they are.
        {"A\x80Z\xC3", "a\x80z\xC3"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::lowercased(c.text), c.expected) << c.text;
    }
}

TEST(HeaderTextTest, NamesMatchWhenTheirLowerCaseFormsAreEqual) {
    EXPECT_TRUE(text::namesMatch("Content-Length", "content-LENGTH"));
    EXPECT_TRUE(text::namesMatch("X-Ärger", "x-ärger"));
    EXPECT_FALSE(text::namesMatch("Content-Length", "Content-Length "));
    EXPECT_FALSE(text::namesMatch("X-Ärger", "X-Arger"));
    EXPECT_TRUE(text::namesMatch("", ""));
    // First characters that differ only in the bit that case sets apart, but are no letters.
    EXPECT_FALSE(text::namesMatch("@x", "`x"));
    EXPECT_FALSE(text::namesMatch("[x", "{x"));
    EXPECT_TRUE(text::namesMatch("a", "A"));
    // A first character outside ASCII that lower-cases to one inside (U+212A, the Kelvin sign).
    EXPECT_TRUE(text::namesMatch("\xE2\x84\xAA"
                                 "eep-Alive",
                                 "keep-alive"));
    EXPECT_TRUE(text::namesMatch("keep-alive", "\xE2\x84\xAA"
                                               "eep-Alive"));
}

TEST(HeaderTextTest, OneByteOutsideASCIIAnywhereMakesATextNonASCII) {
    for (std::size_t length = 0; length <= 19; ++length) {
        const std::string plain(length, '~');
        EXPECT_TRUE(text::isASCII(plain)) << length;
        for (std::size_t at = 0; at < length; ++at) {
            std::string other = plain;
            other[at] = '\x80';
            EXPECT_FALSE(text::isASCII(other)) << length << " " << at;
        }
    }
}

TEST(HeaderTextTest, TrimmingTakesTabsAndUnicodeSpacesButNotLineBreaks) {
    EXPECT_EQ(text::trimmed(" \t value \t "), "value");
    EXPECT_EQ(text::trimmed("\u00A0\u3000inner space\u2003\u202F"), "inner space");
    EXPECT_EQ(text::trimmed("\r\nvalue\n"), "\r\nvalue\n");
    EXPECT_EQ(text::trimmed(" \xC2"), "\xC2");
    EXPECT_EQ(text::trimmed(" \t "), "");
}

TEST(HeaderTextTest, ReceivedBytesBecomeText) {
    EXPECT_TRUE(text::isValidUTF8(bytes("plain and äöü")));
    EXPECT_FALSE(text::isValidUTF8(bytes("\xC0\xAF")));         // overlong
    EXPECT_FALSE(text::isValidUTF8(bytes("\xED\xA0\x80")));     // surrogate
    EXPECT_FALSE(text::isValidUTF8(bytes("\xF4\x90\x80\x80"))); // past U+10FFFF
    EXPECT_EQ(text::latin1ToUTF8(bytes("caf\xE9 \xFF")), "café ÿ");
}

TEST(HeaderTextTest, IntegersAreSignedDecimalsWithinSixtyFourBits) {
    EXPECT_EQ(text::parseInteger("42"), 42);
    EXPECT_EQ(text::parseInteger("+7"), 7);
    EXPECT_EQ(text::parseInteger("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(text::parseInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    for (const auto* bad :
         {"", "+", "-", "9223372036854775808", " 1", "1 ", "0x10", "--1", "1e3"}) {
        EXPECT_EQ(text::parseInteger(bad), std::nullopt) << bad;
    }
}

} // namespace
} // namespace meterly::proxy
