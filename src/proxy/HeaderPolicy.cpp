#include "proxy/HeaderPolicy.hpp"

#include <charconv>
#include <cstring>
#include <iterator>

namespace meterly::proxy {

namespace {

// Where the fields that pass go: a header collection, or straight into the bytes of a head.
struct IntoHeaders {
    HTTPHeaders& out;
    void operator()(std::string_view name, std::string_view value) const {
        out.append(name, value);
    }
};

// Writes "Name: value\r\n" lines into room set aside at the end of `out` beforehand, and gives
// back what it did not use when it goes.
class IntoBytes {
public:
    IntoBytes(Bytes& out, std::size_t room) : out_(out), start_(out.size()) {
        out_.resize(start_ + room);
        at_ = out_.data() + start_;
    }
    ~IntoBytes() { out_.resize(static_cast<std::size_t>(at_ - out_.data())); }
    IntoBytes(const IntoBytes&) = delete;
    IntoBytes& operator=(const IntoBytes&) = delete;

    void operator()(std::string_view name, std::string_view value) {
        put(name);
        put(": ");
        put(value);
        put("\r\n");
    }

private:
    void put(std::string_view text) {
        if (!text.empty()) {
            std::memcpy(at_, text.data(), text.size());
            at_ += text.size();
        }
    }

    Bytes& out_;
    std::size_t start_;
    std::uint8_t* at_;
};

// The most the fields this policy adds can take: Host with the upstream's name, a framing field
// and "Connection: close", each with its ": " and CR LF.
std::size_t addedRoom(std::size_t hostSize) {
    return hostSize + 128;
}

// The field that announces the framing. A body-less message gets "Content-Length: 0" only when
// it came with a length field of its own.
template <typename Emit>
void emitFraming(Emit& emit, const BodyFraming& framing, bool hadContentLength) {
    switch (framing.kind()) {
    case BodyFraming::Kind::contentLength: {
        char digits[24];
        const auto [end, error] =
            std::to_chars(std::begin(digits), std::end(digits), framing.length());
        (void)error;
        emit("Content-Length", std::string_view(digits, static_cast<std::size_t>(end - digits)));
        break;
    }
    case BodyFraming::Kind::none:
        if (hadContentLength) {
            emit("Content-Length", "0");
        }
        break;
    case BodyFraming::Kind::chunked:
        emit("Transfer-Encoding", "chunked");
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

NameRole roleOf(KnownHeaderName name) {
    switch (name.kind()) {
    case KnownHeaderName::Kind::host:
        return NameRole::host;
    case KnownHeaderName::Kind::contentLength:
        return NameRole::contentLength;
    case KnownHeaderName::Kind::connection:
    case KnownHeaderName::Kind::keepAlive:
    case KnownHeaderName::Kind::upgrade:
    case KnownHeaderName::Kind::transferEncoding:
    case KnownHeaderName::Kind::proxyPrefixed:
        return NameRole::hopByHop;
    case KnownHeaderName::Kind::other:
    case KnownHeaderName::Kind::rateLimit:
        break;
    }
    return NameRole::other;
}

// One pass over a head: hop-by-hop fields and Content-Length are left out, and Host unless
// `keepHost`; the rest go to `emit` in their order. Says whether a Content-Length was among them.
template <typename Emit>
bool emitPassingFields(const HTTPHeaders& headers, bool keepHost, Emit& emit) {
    bool hadContentLength = false;
    for (const auto& field : headers.fields()) {
        const NameRole role = roleOf(field.known());
        if (role == NameRole::contentLength) {
            hadContentLength = true;
        } else if (role == NameRole::other || (keepHost && role == NameRole::host)) {
            emit(field.name(), field.value());
        }
    }
    return hadContentLength;
}

template <typename Emit>
void emitUpstream(const HTTPHeaders& headers, const std::string& upstreamHost,
                  const BodyFraming& framing, Emit& emit) {
    const bool hadContentLength = emitPassingFields(headers, false, emit);
    emit("Host", upstreamHost);
    emitFraming(emit, framing, hadContentLength);
}

template <typename Emit>
void emitDownstream(const HTTPHeaders& headers, const BodyFraming& framing, bool closeAfterResponse,
                    Emit& emit) {
    const bool hadContentLength = emitPassingFields(headers, true, emit);
    emitFraming(emit, framing, hadContentLength);
    if (closeAfterResponse || framing.kind() == BodyFraming::Kind::untilClose) {
        // Every Connection field is hop-by-hop and already gone.
        emit("Connection", "close");
    }
}

} // namespace

bool HeaderPolicy::isHopByHop(std::string_view name) {
    return roleOf(KnownHeaderName::of(name)) == NameRole::hopByHop;
}

HTTPHeaders HeaderPolicy::stripHopByHop(const HTTPHeaders& headers) {
    return headers.filtered(
        [](const HTTPHeaderField& field) { return roleOf(field.known()) != NameRole::hopByHop; });
}

HTTPHeaders HeaderPolicy::upstreamHeaders(const HTTPHeaders& headers,
                                          const std::string& upstreamHost,
                                          const BodyFraming& framing) {
    HTTPHeaders out;
    IntoHeaders emit{out};
    emitUpstream(headers, upstreamHost, framing, emit);
    return out;
}

HTTPHeaders HeaderPolicy::downstreamHeaders(const HTTPHeaders& headers, const BodyFraming& framing,
                                            bool closeAfterResponse) {
    HTTPHeaders out;
    IntoHeaders emit{out};
    emitDownstream(headers, framing, closeAfterResponse, emit);
    return out;
}

void HeaderPolicy::appendUpstreamHeaders(Bytes& out, const HTTPHeaders& headers,
                                         const std::string& upstreamHost,
                                         const BodyFraming& framing) {
    IntoBytes emit(out, headers.serializedSize() + addedRoom(upstreamHost.size()));
    emitUpstream(headers, upstreamHost, framing, emit);
}

void HeaderPolicy::appendDownstreamHeaders(Bytes& out, const HTTPHeaders& headers,
                                           const BodyFraming& framing, bool closeAfterResponse) {
    IntoBytes emit(out, headers.serializedSize() + addedRoom(0));
    emitDownstream(headers, framing, closeAfterResponse, emit);
}

} // namespace meterly::proxy
