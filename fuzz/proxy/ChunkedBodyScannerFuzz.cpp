// Feeds arbitrary bytes to the chunked-body scanner in pieces chosen by the first input byte and
// checks that the split changes nothing: the same bytes are taken, and the body completes or is
// rejected alike, as when the whole input is fed at once or byte by byte.
#include "proxy/ChunkedBodyScanner.hpp"
#include "proxy/ProxyError.hpp"

#include <algorithm>
#include <cstdlib>
#include <optional>

using meterly::proxy::ByteView;
using meterly::proxy::ChunkedBodyScanner;
using meterly::proxy::ProxyError;

namespace {

struct Outcome {
    std::optional<std::size_t> taken; // nullopt: rejected
    bool complete;
    bool operator==(const Outcome&) const = default;
};

Outcome scan(ByteView body, std::size_t step) {
    ChunkedBodyScanner scanner;
    std::size_t taken = 0;
    try {
        while (!body.empty()) {
            const std::size_t size = std::min(step, body.size());
            const std::size_t used = scanner.consume(body.first(size));
            if (used > size) {
                std::abort();
            }
            taken += used;
            if (used < size) {
                if (!scanner.isComplete() || scanner.consume(body.subspan(used)) != 0) {
                    std::abort();
                }
                break;
            }
            body = body.subspan(size);
        }
    } catch (const ProxyError& error) {
        if (!(error == ProxyError::invalidFraming())) {
            std::abort();
        }
        return {std::nullopt, false};
    }
    return {taken, scanner.isComplete()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t step = data[0] % 16 + 1;
    const ByteView body(data + 1, size - 1);
    const Outcome whole = scan(body, body.size() + 1);
    if (!(scan(body, step) == whole) || !(scan(body, 1) == whole)) {
        std::abort();
    }
    return 0;
}
