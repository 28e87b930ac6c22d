#include "support/HTTPTestMessages.hpp"

#include "core/AsciiText.hpp"

#include <cstdlib>
#include <stdexcept>

namespace meterly::testing {

namespace {

std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::vector<std::string> headLines(std::string_view head) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < head.size()) {
        auto end = head.find('\n', start);
        if (end == std::string_view::npos) {
            end = head.size();
        }
        auto line = head.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

} // namespace

std::string responseHead(int status, std::string_view reason, const HeaderList& fields) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    for (const auto& [name, value] : fields) {
        head += name + ": " + value + "\r\n";
    }
    return head + "\r\n";
}

std::string cannedResponse(int status, std::string_view reason, const HeaderList& fields,
                           std::string_view body) {
    HeaderList all = fields;
    all.emplace_back("Content-Length", std::to_string(body.size()));
    return responseHead(status, reason, all) + std::string(body);
}

std::string chunkedBody(const std::vector<std::string>& pieces, std::string_view trailer) {
    std::string body;
    char size[32];
    for (const auto& piece : pieces) {
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        body += size + piece + "\r\n";
    }
    return body + "0\r\n" + std::string(trailer) + "\r\n";
}

std::string HTTPMessage::startLine() const {
    return headLines(head).empty() ? std::string() : headLines(head).front();
}

std::optional<std::string> HTTPMessage::field(std::string_view name) const {
    const auto wanted = core::ascii::lowercased(name);
    const auto lines = headLines(head);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon != std::string::npos &&
            core::ascii::lowercased(lines[i].substr(0, colon)) == wanted) {
            return trimmed(std::string_view(lines[i]).substr(colon + 1));
        }
    }
    return std::nullopt;
}

std::vector<std::string> HTTPMessage::fieldNames() const {
    std::vector<std::string> names;
    const auto lines = headLines(head);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon != std::string::npos) {
            names.push_back(core::ascii::lowercased(lines[i].substr(0, colon)));
        }
    }
    return names;
}

int HTTPMessage::status() const {
    const auto line = startLine();
    const auto space = line.find(' ');
    return space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
}

std::string HTTPMessage::method() const {
    const auto line = startLine();
    return line.substr(0, line.find(' '));
}

std::string HTTPMessage::target() const {
    const auto line = startLine();
    const auto first = line.find(' ');
    const auto second = line.find(' ', first + 1);
    return line.substr(first + 1, second - first - 1);
}

bool MessageReader::fill() {
    if (ended_) {
        return false;
    }
    char chunk[65536];
    const long count = read_(chunk, sizeof chunk);
    if (count <= 0) {
        ended_ = true;
        return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(count));
    return true;
}

bool MessageReader::atEnd() {
    return buffer_.empty() && !fill();
}

std::optional<std::string> MessageReader::readHead() {
    while (true) {
        const auto end = buffer_.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::string head = buffer_.substr(0, end + 4);
            buffer_.erase(0, end + 4);
            return head;
        }
        if (!fill()) {
            return std::nullopt;
        }
    }
}

bool MessageReader::readExactly(std::size_t count, std::string& into) {
    while (buffer_.size() < count) {
        if (!fill()) {
            return false;
        }
    }
    into.append(buffer_, 0, count);
    buffer_.erase(0, count);
    return true;
}

bool MessageReader::readChunked(std::string& body, std::string& raw) {
    while (true) {
        std::size_t lineEnd;
        while ((lineEnd = buffer_.find("\r\n")) == std::string::npos) {
            if (!fill()) {
                return false;
            }
        }
        const std::string line = buffer_.substr(0, lineEnd);
        raw += line + "\r\n";
        buffer_.erase(0, lineEnd + 2);
        const auto size = std::strtoul(line.c_str(), nullptr, 16);
        if (size == 0) {
            // Trailer lines up to the empty line.
            while (true) {
                while ((lineEnd = buffer_.find("\r\n")) == std::string::npos) {
                    if (!fill()) {
                        return false;
                    }
                }
                const std::string trailer = buffer_.substr(0, lineEnd + 2);
                raw += trailer;
                buffer_.erase(0, lineEnd + 2);
                if (trailer == "\r\n") {
                    return true;
                }
            }
        }
        std::string data;
        if (!readExactly(size + 2, data)) {
            return false;
        }
        raw += data;
        body += data.substr(0, size);
    }
}

std::optional<HTTPMessage> MessageReader::readRequest() {
    auto head = readHead();
    if (!head) {
        return std::nullopt;
    }
    HTTPMessage message;
    message.head = *head;
    message.raw = *head;
    if (!readBody(message, false)) {
        return std::nullopt;
    }
    return message;
}

bool MessageReader::readBody(HTTPMessage& message, bool untilCloseWithoutLength) {
    const auto coding = message.field("transfer-encoding");
    if (coding && core::ascii::lowercased(*coding).find("chunked") != std::string::npos) {
        std::string raw;
        if (!readChunked(message.body, raw)) {
            return false;
        }
        message.raw += raw;
    } else if (const auto length = message.field("content-length")) {
        if (!readExactly(std::stoul(*length), message.body)) {
            return false;
        }
        message.raw += message.body;
    } else if (untilCloseWithoutLength) {
        message.body = readToEnd();
        message.raw += message.body;
    }
    return true;
}

std::optional<HTTPMessage> MessageReader::readResponse(std::string_view method) {
    auto head = readHead();
    if (!head) {
        return std::nullopt;
    }
    HTTPMessage message;
    message.head = *head;
    message.raw = *head;
    const int status = message.status();
    if (method == "HEAD" || (status >= 100 && status < 200) || status == 204 || status == 304) {
        return message;
    }
    if (!readBody(message, true)) {
        return std::nullopt;
    }
    return message;
}

std::string MessageReader::readToEnd() {
    while (fill()) {
    }
    std::string rest;
    rest.swap(buffer_);
    return rest;
}

} // namespace meterly::testing
