#pragma once

#include "proxy/KnownHeaderName.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace meterly::proxy {

// One header field as received: the name keeps its spelling and case. Fixed once built. What the
// name means to the proxy is worked out once, here, rather than by every reader of the field.
//
// The name and value are kept inside the field when they fit, as nearly all do, so that parsing
// a head costs no allocation for each of its fields.
class HTTPHeaderField {
public:
    HTTPHeaderField(std::string_view name, std::string_view value);
    // For a parser that has worked out what the name means on its way: `known` is what
    // KnownHeaderName::of(name) gives.
    HTTPHeaderField(std::string_view name, std::string_view value, KnownHeaderName known);
    HTTPHeaderField(const HTTPHeaderField& other);
    HTTPHeaderField(HTTPHeaderField&& other) noexcept;
    HTTPHeaderField& operator=(const HTTPHeaderField& other);
    HTTPHeaderField& operator=(HTTPHeaderField&& other) noexcept;
    ~HTTPHeaderField() = default;

    std::string_view name() const { return {text(), nameSize_}; }
    std::string_view value() const { return {text() + nameSize_, valueSize_}; }
    KnownHeaderName known() const { return known_; }

    // Exact comparison, case included.
    friend bool operator==(const HTTPHeaderField& a, const HTTPHeaderField& b) {
        return a.name() == b.name() && a.value() == b.value();
    }

private:
    // Room for a name and value together: the rate-limit fields and the usual response fields
    // fit, long tokens and lists of values do not.
    static constexpr std::size_t inlineCapacity = 78;

    const char* text() const { return spilled_ ? spilled_.get() : inline_; }
    void copyFrom(const HTTPHeaderField& other);
    void takeFrom(HTTPHeaderField& other) noexcept;

    std::unique_ptr<char[]> spilled_;
    std::uint32_t nameSize_ = 0;
    std::uint32_t valueSize_ = 0;
    KnownHeaderName known_;
    char inline_[inlineCapacity];
};

} // namespace meterly::proxy
