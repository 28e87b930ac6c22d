#include "proxy/ChunkedBodyScanner.hpp"

#include "core/AsciiText.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>

namespace meterly::proxy {

namespace {

constexpr std::uint8_t CR = '\r';
constexpr std::uint8_t LF = '\n';
// A size this large cannot take another hexadecimal digit without passing 2^63 - 1.
constexpr std::int64_t sizeLimit = std::int64_t{1} << 59;

} // namespace

std::size_t ChunkedBodyScanner::consume(ByteView bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ != State::complete) {
        if (state_ == State::data) {
            // Chunk data is skipped in one stride; it needs no look at its bytes.
            const auto left = static_cast<std::int64_t>(bytes.size() - used);
            const std::int64_t stride = std::min(left, remaining_);
            remaining_ -= stride;
            used += static_cast<std::size_t>(stride);
            if (remaining_ == 0) {
                state_ = State::dataTrailingCRLF;
                seen_ = 0;
            }
            continue;
        }
        step(bytes[used]);
        ++used;
    }
    return used;
}

void ChunkedBodyScanner::step(std::uint8_t byte) {
    switch (state_) {
    case State::size:
        if (sawCR_) {
            if (byte != LF) {
                throw ProxyError::invalidFraming();
            }
            endSizeLine();
        } else if (byte == LF) {
            endSizeLine();
        } else if (byte == ';') {
            inExtension_ = true;
            sawCR_ = false;
        } else if (byte == CR) {
            sawCR_ = true;
        } else if (inExtension_) {
            // Extension text is skipped.
        } else {
            const int digit = core::ascii::hexDigitValue(static_cast<char>(byte));
            if (digit < 0 || accumulated_ >= sizeLimit) {
                throw ProxyError::invalidFraming();
            }
            accumulated_ = accumulated_ * 16 + digit;
            sawDigits_ = true;
        }
        return;
    case State::data:
        // consume() strides over data; one byte at a time is the same walk.
        if (--remaining_ == 0) {
            state_ = State::dataTrailingCRLF;
            seen_ = 0;
        }
        return;
    case State::dataTrailingCRLF:
        if (seen_ == 0 && byte == CR) {
            seen_ = 1;
        } else if (byte == LF) {
            state_ = State::size;
            accumulated_ = 0;
            sawDigits_ = false;
            inExtension_ = false;
            sawCR_ = false;
        } else {
            throw ProxyError::invalidFraming();
        }
        return;
    case State::trailer:
        if (sawCR_) {
            if (byte != LF) {
                throw ProxyError::invalidFraming();
            }
            endTrailerLine();
        } else if (byte == LF) {
            endTrailerLine();
        } else if (byte == CR) {
            sawCR_ = true;
        } else {
            ++lineLength_;
        }
        return;
    case State::complete:
        return;
    }
}

void ChunkedBodyScanner::endSizeLine() {
    if (!sawDigits_) {
        throw ProxyError::invalidFraming();
    }
    sawCR_ = false;
    if (accumulated_ == 0) {
        state_ = State::trailer;
        lineLength_ = 0;
        return;
    }
    state_ = State::data;
    remaining_ = accumulated_;
}

void ChunkedBodyScanner::endTrailerLine() {
    sawCR_ = false;
    if (lineLength_ == 0) {
        state_ = State::complete;
        return;
    }
    lineLength_ = 0;
}

} // namespace meterly::proxy
