#include "proxy/HTTPHeaderField.hpp"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace meterly::proxy {

namespace {

std::uint32_t sizeOf(std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("header field too long");
    }
    return static_cast<std::uint32_t>(text.size());
}

void put(char* at, std::string_view text) {
    if (!text.empty()) {
        std::memcpy(at, text.data(), text.size());
    }
}

} // namespace

HTTPHeaderField::HTTPHeaderField(std::string_view name, std::string_view value)
    : HTTPHeaderField(name, value, KnownHeaderName::of(name)) {}

HTTPHeaderField::HTTPHeaderField(std::string_view name, std::string_view value,
                                 KnownHeaderName known)
    : nameSize_(sizeOf(name)), valueSize_(sizeOf(value)), known_(known) {
    const std::size_t size = name.size() + value.size();
    char* at = inline_;
    if (size > inlineCapacity) {
        spilled_ = std::make_unique_for_overwrite<char[]>(size);
        at = spilled_.get();
    }
    put(at, name);
    put(at + name.size(), value);
}

HTTPHeaderField::HTTPHeaderField(const HTTPHeaderField& other) : known_(other.known_) {
    copyFrom(other);
}

HTTPHeaderField::HTTPHeaderField(HTTPHeaderField&& other) noexcept : known_(other.known_) {
    takeFrom(other);
}

HTTPHeaderField& HTTPHeaderField::operator=(const HTTPHeaderField& other) {
    if (this != &other) {
        copyFrom(other);
    }
    return *this;
}

HTTPHeaderField& HTTPHeaderField::operator=(HTTPHeaderField&& other) noexcept {
    if (this != &other) {
        takeFrom(other);
    }
    return *this;
}

void HTTPHeaderField::copyFrom(const HTTPHeaderField& other) {
    nameSize_ = other.nameSize_;
    valueSize_ = other.valueSize_;
    known_ = other.known_;
    const std::size_t size = static_cast<std::size_t>(nameSize_) + valueSize_;
    if (other.spilled_) {
        spilled_ = std::make_unique_for_overwrite<char[]>(size);
        std::memcpy(spilled_.get(), other.spilled_.get(), size);
    } else {
        spilled_.reset();
        std::memcpy(inline_, other.inline_, size);
    }
}

void HTTPHeaderField::takeFrom(HTTPHeaderField& other) noexcept {
    spilled_ = std::move(other.spilled_);
    nameSize_ = other.nameSize_;
    valueSize_ = other.valueSize_;
    known_ = other.known_;
    if (!spilled_) {
        std::memcpy(inline_, other.inline_, static_cast<std::size_t>(nameSize_) + valueSize_);
    }
    // What is left behind reads as an empty field.
    other.nameSize_ = 0;
    other.valueSize_ = 0;
}

} // namespace meterly::proxy
