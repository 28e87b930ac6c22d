#include "proxy/HeaderPolicy.hpp"

#include "proxy/HeaderText.hpp"

#include <algorithm>
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

bool HeaderPolicy::isHopByHop(std::string_view name) {
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        // Compared in place: every name of a message passes here.
        constexpr std::string_view proxyPrefix = "proxy-";
        return std::any_of(hopByHopNames().begin(), hopByHopNames().end(),
                           [&](const std::string& hop) {
                               return hop.size() == name.size() && text::namesMatch(name, hop);
                           }) ||
               (name.size() >= proxyPrefix.size() &&
                text::namesMatch(name.substr(0, proxyPrefix.size()), proxyPrefix));
    }
    const std::string lower = text::lowercased(name);
    return hopByHopNames().contains(lower) || lower.starts_with("proxy-");
}

HTTPHeaders HeaderPolicy::stripHopByHop(const HTTPHeaders& headers) {
    return headers.filtered([](const HTTPHeaderField& field) { return !isHopByHop(field.name()); });
}

HTTPHeaders HeaderPolicy::upstreamHeaders(const HTTPHeaders& headers,
                                          const std::string& upstreamHost,
                                          const BodyFraming& framing) {
    // One pass: hop-by-hop fields, Host and Content-Length are left out, the rest keep their order.
    std::vector<HTTPHeaderField> fields;
    fields.reserve(headers.fields().size() + 2);
    bool hadContentLength = false;
    for (const auto& field : headers.fields()) {
        if (text::namesMatch(field.name(), "Content-Length")) {
            hadContentLength = true;
        } else if (!isHopByHop(field.name()) && !text::namesMatch(field.name(), "Host")) {
            fields.push_back(field);
        }
    }
    HTTPHeaders out(std::move(fields));
    out.append("Host", upstreamHost);
    appendFraming(out, framing, hadContentLength);
    return out;
}

HTTPHeaders HeaderPolicy::downstreamHeaders(const HTTPHeaders& headers, const BodyFraming& framing,
                                            bool closeAfterResponse) {
    // One pass: hop-by-hop fields and Content-Length are left out, the rest keep their order.
    std::vector<HTTPHeaderField> fields;
    fields.reserve(headers.fields().size() + 2);
    bool hadContentLength = false;
    for (const auto& field : headers.fields()) {
        if (text::namesMatch(field.name(), "Content-Length")) {
            hadContentLength = true;
        } else if (!isHopByHop(field.name())) {
            fields.push_back(field);
        }
    }
    HTTPHeaders out(std::move(fields));
    appendFraming(out, framing, hadContentLength);
    if (closeAfterResponse || framing.kind() == BodyFraming::Kind::untilClose) {
        // Every Connection field is hop-by-hop and already gone.
        out.append("Connection", "close");
    }
    return out;
}

} // namespace meterly::proxy
