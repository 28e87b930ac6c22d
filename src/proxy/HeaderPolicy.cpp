#include "proxy/HeaderPolicy.hpp"

#include "proxy/HeaderText.hpp"

#include <vector>

namespace meterly::proxy {

namespace {

// Appends the field that announces the framing. A body-less message gets "Content-Length: 0"
// only when it came with a length field of its own.
void appendFraming(HTTPHeaders& out, const BodyFraming& framing, bool hadContentLength) {
    switch (framing.kind()) {
    case BodyFraming::Kind::contentLength:
        out.append("Content-Length", std::to_string(framing.length()));
        break;
    case BodyFraming::Kind::none:
        if (hadContentLength) {
            out.append("Content-Length", "0");
        }
        break;
    case BodyFraming::Kind::chunked:
        out.append("Transfer-Encoding", "chunked");
        break;
    case BodyFraming::Kind::untilClose:
        break;
    }
}

} // namespace

const std::set<std::string, std::less<>>& HeaderPolicy::hopByHopNames() {
    static const std::set<std::string, std::less<>> names{"connection", "transfer-encoding",
                                                          "keep-alive", "upgrade"};
    return names;
}

namespace {

// What the policy does with a field, by its name.
enum class NameRole { other, hopByHop, contentLength, host };

// The role of a name whose ASCII letters may be in either case; names with other characters are
// "other" here.
NameRole asciiRole(std::string_view name) {
    using text::equalsLowerASCII;
    switch (name.size()) {
    case 4:
        return equalsLowerASCII(name, "host") ? NameRole::host : NameRole::other;
    case 7:
        return equalsLowerASCII(name, "upgrade") ? NameRole::hopByHop : NameRole::other;
    case 10:
        if (equalsLowerASCII(name, "connection") || equalsLowerASCII(name, "keep-alive")) {
            return NameRole::hopByHop;
        }
        break;
    case 14:
        if (equalsLowerASCII(name, "content-length")) {
            return NameRole::contentLength;
        }
        break;
    case 17:
        if (equalsLowerASCII(name, "transfer-encoding")) {
            return NameRole::hopByHop;
        }
        break;
    default:
        break;
    }
    constexpr std::string_view proxyPrefix = "proxy-";
    return name.size() >= proxyPrefix.size() &&
                   equalsLowerASCII(name.substr(0, proxyPrefix.size()), proxyPrefix)
               ? NameRole::hopByHop
               : NameRole::other;
}

// The role of any name, compared by its full lower-case form. Every name of a message passes
// here, so the plain ASCII names are compared in place.
NameRole roleOf(std::string_view name) {
    const NameRole role = asciiRole(name);
    if (role != NameRole::other || text::isASCII(name)) {
        return role;
    }
    // Other characters may lower-case to ASCII letters.
    return asciiRole(text::lowercased(name));
}

// One pass over a head: hop-by-hop fields and Content-Length are left out, and Host unless
// `keepHost`; the rest keep their order. Says whether a Content-Length was among them.
std::vector<HTTPHeaderField> passingFields(const HTTPHeaders& headers, bool keepHost,
                                           bool& hadContentLength) {
    std::vector<HTTPHeaderField> fields;
    fields.reserve(headers.fields().size() + 2);
    hadContentLength = false;
    for (const auto& field : headers.fields()) {
        const NameRole role = roleOf(field.name());
        if (role == NameRole::contentLength) {
            hadContentLength = true;
        } else if (role == NameRole::other || (keepHost && role == NameRole::host)) {
            fields.push_back(field);
        }
    }
    return fields;
}

} // namespace

bool HeaderPolicy::isHopByHop(std::string_view name) {
    return roleOf(name) == NameRole::hopByHop;
}

HTTPHeaders HeaderPolicy::stripHopByHop(const HTTPHeaders& headers) {
    return headers.filtered([](const HTTPHeaderField& field) { return !isHopByHop(field.name()); });
}

HTTPHeaders HeaderPolicy::upstreamHeaders(const HTTPHeaders& headers,
                                          const std::string& upstreamHost,
                                          const BodyFraming& framing) {
    bool hadContentLength = false;
    HTTPHeaders out(passingFields(headers, false, hadContentLength));
    out.append("Host", upstreamHost);
    appendFraming(out, framing, hadContentLength);
    return out;
}

HTTPHeaders HeaderPolicy::downstreamHeaders(const HTTPHeaders& headers, const BodyFraming& framing,
                                            bool closeAfterResponse) {
    bool hadContentLength = false;
    HTTPHeaders out(passingFields(headers, true, hadContentLength));
    appendFraming(out, framing, hadContentLength);
    if (closeAfterResponse || framing.kind() == BodyFraming::Kind::untilClose) {
        // Every Connection field is hop-by-hop and already gone.
        out.append("Connection", "close");
    }
    return out;
}

} // namespace meterly::proxy
