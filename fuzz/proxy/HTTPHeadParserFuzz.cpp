// Feeds arbitrary bytes to the head parser as a request head and as a response head. Besides
// crashes it checks that the end of a head lies just past a terminator, and that a parsed head
// renders into bytes that parse to the same head. The one difference allowed is surrounding
// whitespace of a value: a line folded onto an empty value gives a value that starts with the
// joining space, which a second reading trims.
//
// It also checks the body framing of every parsed head: it is decided (or, for a request,
// refused as invalid framing) alike after a second reading, and the head the proxy passes on,
// with its own framing fields, is read by the next hop with that same framing.
#include "FuzzCheck.hpp"
#include "proxy/BodyFraming.hpp"
#include "proxy/HTTPHeadParser.hpp"
#include "proxy/HeaderPolicy.hpp"
#include "proxy/HeaderText.hpp"
#include "proxy/ProxyError.hpp"

#include <cstdlib>
#include <optional>
#include <string>

using meterly::proxy::BodyFraming;
using meterly::proxy::ByteView;
using meterly::proxy::HeaderPolicy;
using meterly::proxy::HTTPHeaderField;
using meterly::proxy::HTTPHeaders;
using meterly::proxy::HTTPHeadParser;
using meterly::proxy::HTTPRequestHead;
using meterly::proxy::HTTPResponseHead;
using meterly::proxy::ProxyError;

namespace {

using meterly::fuzzing::check;

HTTPHeaders withTrimmedValues(const HTTPHeaders& headers) {
    std::vector<HTTPHeaderField> fields;
    for (const auto& field : headers.fields()) {
        fields.emplace_back(field.name(),
                            std::string(meterly::proxy::text::trimmed(field.value())));
    }
    return HTTPHeaders(std::move(fields));
}

bool sameHead(const HTTPRequestHead& a, const HTTPRequestHead& b) {
    return a.method() == b.method() && a.target() == b.target() && a.version() == b.version() &&
           withTrimmedValues(a.headers()) == b.headers();
}

bool sameHead(const HTTPResponseHead& a, const HTTPResponseHead& b) {
    return a.version() == b.version() && a.statusCode() == b.statusCode() &&
           a.reasonPhrase() == b.reasonPhrase() && withTrimmedValues(a.headers()) == b.headers();
}

// nullopt: refused as invalid framing.
std::optional<BodyFraming> framing(const HTTPRequestHead& head) {
    try {
        return BodyFraming::forRequest(head);
    } catch (const ProxyError& error) {
        check(error == ProxyError::invalidFraming());
        return std::nullopt;
    }
}

std::optional<BodyFraming> framing(const HTTPResponseHead& head) {
    return BodyFraming::forResponse(head, "GET");
}

// The head as the proxy passes it on, read again.
HTTPRequestHead passedOn(const HTTPRequestHead& head, const BodyFraming& framing) {
    const auto headers = HeaderPolicy::upstreamHeaders(head.headers(), "upstream.test", framing);
    const std::string wire =
        head.method() + " " + head.target() + " HTTP/1.1\r\n" + headers.serialized() + "\r\n";
    return HTTPHeadParser::parseRequest(meterly::proxy::asBytes(wire));
}

HTTPResponseHead passedOn(const HTTPResponseHead& head, const BodyFraming& framing) {
    const HTTPResponseHead downstream(
        "HTTP/1.1", head.statusCode(), head.reasonPhrase(),
        HeaderPolicy::downstreamHeaders(head.headers(), framing, false));
    return HTTPHeadParser::parseResponse(downstream.serialized());
}

template <typename Parse>
void roundTrip(Parse parse, ByteView input) {
    try {
        const auto head = parse(input);
        const auto rendered = head.serialized();
        // A rendered head is complete and ends exactly at its last byte.
        check(HTTPHeadParser::endOfHead(rendered) == rendered.size());
        const auto again = parse(rendered);
        check(sameHead(head, again));
        check(parse(again.serialized()) == again);

        const auto decided = framing(head);
        check(framing(again) == decided);
        if (decided) {
            check(framing(passedOn(head, *decided)) == decided);
        }
    } catch (const ProxyError& error) {
        check(error == ProxyError::malformedHead());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);

    const auto from = size == 0 ? 0 : static_cast<std::ptrdiff_t>(data[0] % 8) - 2;
    if (const auto end = HTTPHeadParser::endOfHead(input, from)) {
        check(*end >= 2 && *end <= size);
        const bool lfLF = input[*end - 2] == '\n' && input[*end - 1] == '\n';
        const bool crlfCRLF = *end >= 4 && input[*end - 4] == '\r' && input[*end - 3] == '\n' &&
                              input[*end - 2] == '\r' && input[*end - 1] == '\n';
        check(lfLF || crlfCRLF);
        roundTrip(HTTPHeadParser::parseRequest, input.first(*end));
    }

    roundTrip(HTTPHeadParser::parseRequest, input);
    roundTrip(HTTPHeadParser::parseResponse, input);
    return 0;
}
