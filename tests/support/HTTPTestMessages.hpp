#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace meterly::testing {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A complete HTTP/1.1 response: status line, the given fields, Content-Length of the body, body.
std::string cannedResponse(int status, std::string_view reason, const HeaderList& fields,
                           std::string_view body);

// A response head with the given fields only (the caller frames the body itself).
std::string responseHead(int status, std::string_view reason, const HeaderList& fields);

// The chunked coding of `pieces`, each a chunk, then the last chunk and an empty trailer.
std::string chunkedBody(const std::vector<std::string>& pieces, std::string_view trailer = "");

// One HTTP message as read off a connection: its head as sent, its body with any chunked coding
// removed, and the bytes exactly as they arrived.
struct HTTPMessage {
    std::string head;
    std::string body;
    std::string raw;
    std::string startLine() const;
    // The first field of that name (case-insensitive), if any.
    std::optional<std::string> field(std::string_view name) const;
    // Every field name present, lower-cased, in order.
    std::vector<std::string> fieldNames() const;
    int status() const; // for responses
    std::string method() const;
    std::string target() const;
};

// Reads messages from a byte stream given as a read function (returns 0 at the end, -1 on
// failure). Keeps bytes after one message for the next.
class MessageReader {
public:
    using Read = std::function<long(char*, std::size_t)>;
    explicit MessageReader(Read read) : read_(std::move(read)) {}

    // The next head, without reading a body; nullopt at the end of the stream before any byte.
    std::optional<std::string> readHead();
    // A request: the head and a body framed by Content-Length or chunked coding.
    std::optional<HTTPMessage> readRequest();
    // A response to a request with `method`: body by length, chunked, or until the close.
    std::optional<HTTPMessage> readResponse(std::string_view method = "GET");
    // Everything until the peer closes.
    std::string readToEnd();
    // True when the peer has closed (reads give 0) and nothing is buffered.
    bool atEnd();
    std::string& buffered() { return buffer_; }

private:
    // The body under the head's framing; with neither coding nor length, everything until the
    // close when `untilCloseWithoutLength`, else nothing.
    bool readBody(HTTPMessage& message, bool untilCloseWithoutLength);
    bool fill();
    bool readExactly(std::size_t count, std::string& into);
    bool readChunked(std::string& body, std::string& raw);
    Read read_;
    std::string buffer_;
    bool ended_ = false;
};

} // namespace meterly::testing
