#include "proxy/ChunkedBodyScanner.hpp"

#include "proxy/ProxyError.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace meterly::proxy {
namespace {

// Feeds the text in pieces of `step` bytes (0: all at once). Returns the bytes that belong to
// the body, or nullopt when the scanner rejected it; `complete` tells whether it ended.
std::optional<std::size_t> scan(std::string_view body, std::size_t step, bool& complete) {
    ChunkedBodyScanner scanner;
    std::size_t total = 0;
    try {
        ByteView rest = asBytes(body);
        while (!rest.empty()) {
            const std::size_t size = step == 0 ? rest.size() : std::min(step, rest.size());
            const std::size_t used = scanner.consume(rest.first(size));
            total += used;
            if (used < size) {
                break;
            }
            rest = rest.subspan(size);
        }
    } catch (const ProxyError& error) {
        EXPECT_EQ(error, ProxyError::invalidFraming());
        complete = scanner.isComplete();
        return std::nullopt;
    }
    complete = scanner.isComplete();
    return total;
}

TEST(ChunkedBodyScannerTest, CompleteBodies) {
    struct Case {
        std::string_view body;
        std::string_view after; // bytes that follow the body in the same input
    };
    const Case cases[] = {
        {"0\r\n\r\n", ""},
        {"0\r\n\r\n", "GET / HTTP/1.1\r\n"},
        {"5\r\nhello\r\n0\r\n\r\n", ""},
        {"5\nhello\n0\n\n", "x"},
        {"5;name=value;7\r\nhello\r\n0\r\n\r\n", "next"},
        {"A\r\n0123456789\r\n00000\r\n\r\n", ""},
        {"3\r\nabc\r\n0\r\nExpires: never\r\nX-Sum: 1\r\n\r\n", "rest"},
        {"0;final\r\n\r\n", ""},
        {"0\r\nTrailer: x\n\n", "\r\n"},
    };
    for (const auto& c : cases) {
        const std::string input = std::string(c.body) + std::string(c.after);
        for (std::size_t step : std::initializer_list<std::size_t>{0, 1, 2, 7}) {
            bool complete = false;
            EXPECT_EQ(scan(input, step, complete), c.body.size()) << c.body << " step " << step;
            EXPECT_TRUE(complete) << c.body << " step " << step;
        }
    }
}

TEST(ChunkedBodyScannerTest, IncompleteBodiesAreNotComplete) {
    for (std::string_view body : {"", "5\r\nhel", "5\r\nhello\r\n", "0\r\n", "0\r\nX: y\r\n"}) {
        bool complete = true;
        EXPECT_EQ(scan(body, 0, complete), body.size()) << body;
        EXPECT_FALSE(complete) << body;
    }
}

TEST(ChunkedBodyScannerTest, GrammarViolations) {
    for (std::string_view body : {
             "\r\n",             // no digits
             ";ext\r\n",         // extension without a size
             "5 \r\nhello\r\n",  // space before the line end
             " 5\r\nhello\r\n",  // space before the digits
             "+5\r\nhello\r\n",  // sign
             "g\r\n",            // not a hexadecimal digit
             "5\rhello",         // CR not followed by LF
             "5\r\nhelloX\r\n",  // data not followed by the line end
             "5\r\nhello\r\r\n", // second CR after the data
             "0\r\nX: y\rz\r\n", // CR in a trailer line not followed by LF
             "0\r\n\r\r",        // the same on the final line
         }) {
        for (std::size_t step : std::initializer_list<std::size_t>{0, 1}) {
            bool complete = false;
            EXPECT_EQ(scan(body, step, complete), std::nullopt) << body;
            EXPECT_FALSE(complete);
        }
    }
}

TEST(ChunkedBodyScannerTest, SizeLimit) {
    // 2^63 - 1 is the largest size accepted, with any number of leading zeros.
    for (std::string_view size : {"7fffffffffffffff", "0007FFFFFFFFFFFFFFF"}) {
        ChunkedBodyScanner scanner;
        const std::string line = std::string(size) + "\r\n";
        EXPECT_EQ(scanner.consume(asBytes(line)), line.size());
        EXPECT_FALSE(scanner.isComplete());
    }
    ChunkedBodyScanner scanner;
    EXPECT_EQ(scanner.consume(asBytes("800000000000000")), 15U);
    EXPECT_THROW(scanner.consume(asBytes("0")), ProxyError);
}

TEST(ChunkedBodyScannerTest, TakesNothingOnceComplete) {
    ChunkedBodyScanner scanner;
    EXPECT_EQ(scanner.consume(asBytes("0\r\n\r\n")), 5U);
    ASSERT_TRUE(scanner.isComplete());
    EXPECT_EQ(scanner.consume(asBytes("5\r\nhello")), 0U);
    EXPECT_EQ(scanner.consume(asBytes("zzz")), 0U);
    EXPECT_TRUE(scanner.isComplete());
}

} // namespace
} // namespace meterly::proxy
