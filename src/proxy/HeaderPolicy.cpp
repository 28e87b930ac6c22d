#include "proxy/HeaderPolicy.hpp"

#include "proxy/HeaderText.hpp"

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
    const std::string lower = text::lowercased(name);
    return hopByHopNames().contains(lower) || lower.starts_with("proxy-");
}

HTTPHeaders HeaderPolicy::stripHopByHop(const HTTPHeaders& headers) {
    return headers.filtered([](const HTTPHeaderField& field) { return !isHopByHop(field.name()); });
}

HTTPHeaders HeaderPolicy::upstreamHeaders(const HTTPHeaders& headers,
                                          const std::string& upstreamHost,
                                          const BodyFraming& framing) {
    HTTPHeaders out = stripHopByHop(headers);
    out.set("Host", upstreamHost);
    out.removeAll("Content-Length");
    appendFraming(out, framing, headers.contains("Content-Length"));
    return out;
}

HTTPHeaders HeaderPolicy::downstreamHeaders(const HTTPHeaders& headers, const BodyFraming& framing,
                                            bool closeAfterResponse) {
    HTTPHeaders out = stripHopByHop(headers);
    out.removeAll("Content-Length");
    appendFraming(out, framing, headers.contains("Content-Length"));
    if (closeAfterResponse || framing.kind() == BodyFraming::Kind::untilClose) {
        out.set("Connection", "close");
    }
    return out;
}

} // namespace meterly::proxy
