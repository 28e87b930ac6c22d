#include "proxy/HTTPHeaders.hpp"

#include "proxy/HeaderText.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace meterly::proxy {

HTTPHeaders HTTPHeaders::fromPairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
    HTTPHeaders headers;
    headers.fields_.reserve(pairs.size());
    for (const auto& [name, value] : pairs) {
        headers.fields_.emplace_back(name, value);
    }
    return headers;
}

std::optional<std::string> HTTPHeaders::operator[](std::string_view name) const {
    for (const auto& field : fields_) {
        if (text::namesMatch(field.name(), name)) {
            return std::string(field.value());
        }
    }
    return std::nullopt;
}

std::vector<std::string> HTTPHeaders::values(std::string_view name) const {
    std::vector<std::string> result;
    for (const auto& field : fields_) {
        if (text::namesMatch(field.name(), name)) {
            result.emplace_back(field.value());
        }
    }
    return result;
}

bool HTTPHeaders::contains(std::string_view name) const {
    return (*this)[name].has_value();
}

void HTTPHeaders::append(std::string_view name, std::string_view value) {
    fields_.emplace_back(name, value);
}

void HTTPHeaders::removeAll(std::string_view name) {
    std::erase_if(fields_, [&](const HTTPHeaderField& field) {
        return text::namesMatch(field.name(), name);
    });
}

void HTTPHeaders::set(std::string_view name, std::string_view value) {
    // Built first: the name and value may lie in a field that the removal takes away.
    HTTPHeaderField field(name, value);
    removeAll(field.name());
    fields_.push_back(std::move(field));
}

HTTPHeaders
HTTPHeaders::filtered(const std::function<bool(const HTTPHeaderField&)>& predicate) const {
    HTTPHeaders result;
    std::copy_if(fields_.begin(), fields_.end(), std::back_inserter(result.fields_), predicate);
    return result;
}

HTTPHeaders::Dictionary HTTPHeaders::dictionary() const {
    Dictionary result;
    for (const auto& field : fields_) {
        result.insert_or_assign(text::lowercased(field.name()), std::string(field.value()));
    }
    return result;
}

std::size_t HTTPHeaders::serializedSize() const {
    std::size_t size = 0;
    for (const auto& field : fields_) {
        size += field.name().size() + field.value().size() + 4;
    }
    return size;
}

std::string HTTPHeaders::serialized() const {
    std::string out;
    out.reserve(serializedSize());
    for (const auto& field : fields_) {
        out += field.name();
        out += ": ";
        out += field.value();
        out += "\r\n";
    }
    return out;
}

void HTTPHeaders::appendSerialized(Bytes& out) const {
    // Sized once and copied into: a range insert per piece costs more than the copy itself.
    const std::size_t start = out.size();
    out.resize(start + serializedSize());
    std::uint8_t* at = out.data() + start;
    const auto append = [&at](std::string_view text) {
        if (!text.empty()) {
            std::memcpy(at, text.data(), text.size());
            at += text.size();
        }
    };
    for (const auto& field : fields_) {
        append(field.name());
        append(": ");
        append(field.value());
        append("\r\n");
    }
}

} // namespace meterly::proxy
