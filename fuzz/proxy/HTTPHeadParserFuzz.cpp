// Feeds arbitrary bytes to the head parser as a request head and as a response head. Besides
// crashes it checks that the end of a head lies just past a terminator, and that a parsed head
// renders into bytes that parse to the same head. The one difference allowed is surrounding
// whitespace of a value: a line folded onto an empty value gives a value that starts with the
// joining space, which a second reading trims.
#include "FuzzCheck.hpp"
#include "proxy/HTTPHeadParser.hpp"
#include "proxy/HeaderText.hpp"
#include "proxy/ProxyError.hpp"

#include <cstdlib>

using meterly::proxy::ByteView;
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
