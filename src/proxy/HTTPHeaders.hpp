#pragma once

#include "proxy/Bytes.hpp"
#include "proxy/HTTPHeaderField.hpp"

#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace meterly::proxy {

// The ordered header fields of one message. Duplicate names are kept in their order. Lookups
// compare names without regard to case; equality of two collections compares them exactly.
class HTTPHeaders {
public:
    // Lower-cased name to value; of repeated names the last field wins.
    using Dictionary = std::map<std::string, std::string>;

    HTTPHeaders() = default;
    explicit HTTPHeaders(std::vector<HTTPHeaderField> fields) : fields_(std::move(fields)) {}
    HTTPHeaders(std::initializer_list<HTTPHeaderField> fields) : fields_(fields) {}
    static HTTPHeaders fromPairs(const std::vector<std::pair<std::string, std::string>>& pairs);

    const std::vector<HTTPHeaderField>& fields() const { return fields_; }

    // The value of the first field with this name.
    std::optional<std::string> operator[](std::string_view name) const;
    // The values of every field with this name, in order.
    std::vector<std::string> values(std::string_view name) const;
    bool contains(std::string_view name) const;

    // Adds a field at the end; never merges with or replaces an existing one.
    void append(std::string_view name, std::string_view value);
    // Removes every field with this name; the others keep their order.
    void removeAll(std::string_view name);
    // Removes every field with this name, then appends one with the name as given.
    void set(std::string_view name, std::string_view value);

    HTTPHeaders filtered(const std::function<bool(const HTTPHeaderField&)>& predicate) const;

    Dictionary dictionary() const;

    // "Name: value\r\n" for each field in order, nothing else.
    std::string serialized() const;
    // The same bytes appended to `out`.
    void appendSerialized(Bytes& out) const;
    // Their count.
    std::size_t serializedSize() const;

    friend bool operator==(const HTTPHeaders&, const HTTPHeaders&) = default;

private:
    std::vector<HTTPHeaderField> fields_;
};

} // namespace meterly::proxy
