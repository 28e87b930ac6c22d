#pragma once

#include "proxy/Bytes.hpp"

#include <cstddef>
#include <cstdint>

namespace meterly::proxy {

// Follows a body in chunked transfer coding as it streams past, checks it against the chunked
// grammar and says where it ends. It never stores or alters the bytes: its only memory is the
// few words of state below. One scanner per body.
class ChunkedBodyScanner {
public:
    ChunkedBodyScanner() = default;

    // Takes the next bytes of the body and returns how many of them belong to it: all of them, or
    // fewer when the body completes inside them. Throws ProxyError::invalidFraming() at the first
    // byte that breaks the grammar or makes a chunk size larger than 2^63 - 1.
    std::size_t consume(ByteView bytes);

    bool isComplete() const { return state_ == State::complete; }

private:
    enum class State : std::uint8_t { size, data, dataTrailingCRLF, trailer, complete };

    void step(std::uint8_t byte);
    void endSizeLine();
    void endTrailerLine();

    State state_ = State::size;
    // size: the chunk size read so far and what the line has shown.
    std::int64_t accumulated_ = 0;
    bool sawDigits_ = false;
    bool inExtension_ = false;
    // size and trailer: a CR arrived and must be followed by LF.
    bool sawCR_ = false;
    // data: bytes of the chunk still to come.
    std::int64_t remaining_ = 0;
    // dataTrailingCRLF: 1 once the CR after the data has arrived.
    int seen_ = 0;
    // trailer: bytes of the current trailer line, CR excluded.
    std::int64_t lineLength_ = 0;
};

} // namespace meterly::proxy
