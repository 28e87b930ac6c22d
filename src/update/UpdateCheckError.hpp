#pragma once

#include <stdexcept>

namespace meterly::update {

// The feed answered, but not with a usable document (a status other than 200, a body that is not
// the feed, or one larger than the feed may be). Check failures are never shown to the user.
class UpdateCheckError : public std::runtime_error {
public:
    enum class Kind { unexpectedResponse };

    explicit UpdateCheckError(Kind kind = Kind::unexpectedResponse)
        : std::runtime_error("unexpected response from the update feed"), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

} // namespace meterly::update
