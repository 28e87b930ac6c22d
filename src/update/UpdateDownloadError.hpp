#pragma once

#include <stdexcept>

namespace meterly::update {

// Why a release could not be downloaded as offered. The update state words each case for the user.
class UpdateDownloadError : public std::runtime_error {
public:
    enum class Kind { digestMissing, unreachable, digestMismatch };

    explicit UpdateDownloadError(Kind kind) : std::runtime_error(name(kind)), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    static const char* name(Kind kind) {
        switch (kind) {
        case Kind::digestMissing:
            return "digestMissing";
        case Kind::unreachable:
            return "unreachable";
        case Kind::digestMismatch:
            return "digestMismatch";
        }
        return "";
    }

    Kind kind_;
};

} // namespace meterly::update
