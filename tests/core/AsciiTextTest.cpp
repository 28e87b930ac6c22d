#include "core/AsciiText.hpp"

#include <gtest/gtest.h>

namespace meterly::core {
namespace {

TEST(AsciiTextTest, OnlyAsciiLettersChangeCaseWhateverTheLocale) {
    // A Latin-1 locale would lower-case byte 0xC4 ("Ä") with std::tolower; these never do.
    EXPECT_EQ(ascii::lowercased("Keep-Alive \xC4\xD6 \xC3\x84"), "keep-alive \xC4\xD6 \xC3\x84");
    EXPECT_EQ(ascii::uppercased("http/1.0 \xE4"), "HTTP/1.0 \xE4");
    EXPECT_EQ(ascii::lowered('@'), '@');
    EXPECT_EQ(ascii::lowered('['), '[');
    EXPECT_EQ(ascii::uppered('`'), '`');
    EXPECT_EQ(ascii::uppered('{'), '{');
}

TEST(AsciiTextTest, HexDigitsInEitherCase) {
    EXPECT_EQ(ascii::hexDigitValue('0'), 0);
    EXPECT_EQ(ascii::hexDigitValue('9'), 9);
    EXPECT_EQ(ascii::hexDigitValue('a'), 10);
    EXPECT_EQ(ascii::hexDigitValue('F'), 15);
    for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0'}) {
        EXPECT_EQ(ascii::hexDigitValue(c), -1) << static_cast<int>(c);
        EXPECT_FALSE(ascii::isHexDigit(c)) << static_cast<int>(c);
    }
}

TEST(AsciiTextTest, TrimmingTakesOnlyTheChosenCharacters) {
    EXPECT_EQ(ascii::trimmed("\t\n\v\f\r value \r\n"), "value");
    EXPECT_EQ(ascii::trimmed(" \tvalue\n", ascii::isBlank), "value\n");
    EXPECT_EQ(ascii::trimmed("\xC2\xA0value"), "\xC2\xA0value");
    EXPECT_EQ(ascii::trimmed(" \t "), "");
}

} // namespace
} // namespace meterly::core
