#pragma once

#include <stdexcept>
#include <string>

namespace meterly::update {

// Why an image could not be put in place, or the previous version not put back. what() is the
// sentence shown to the user.
class UpdateInstallError : public std::runtime_error {
public:
    enum class Kind {
        mountFailed,
        wrongBundle,
        wrongVersion,
        destinationNotWritable,
        replaceFailed,
        noAppInImage
    };

    // The image could not be opened or unpacked.
    static UpdateInstallError mountFailed(const std::string& detail);
    static UpdateInstallError wrongBundle(const std::string& expected, const std::string& found);
    static UpdateInstallError wrongVersion(const std::string& expected, const std::string& found);
    static UpdateInstallError destinationNotWritable(const std::string& path);
    static UpdateInstallError replaceFailed(const std::string& detail);
    static UpdateInstallError noAppInImage();

    static constexpr const char* noKeptCopy =
        "There is no kept copy of the previous version to go back to.";

    Kind kind() const { return kind_; }
    // The texts the error carries: the detail or path, or expected then found.
    const std::string& first() const { return first_; }
    const std::string& second() const { return second_; }

    // The case and its payload as written in code: replaceFailed("…"), with double quotes,
    // backslashes and control characters escaped.
    std::string plainRendering() const;

    bool operator==(const UpdateInstallError& other) const {
        return kind_ == other.kind_ && first_ == other.first_ && second_ == other.second_;
    }

private:
    UpdateInstallError(Kind kind, std::string first, std::string second, const std::string& text)
        : std::runtime_error(text), kind_(kind), first_(std::move(first)),
          second_(std::move(second)) {}

    Kind kind_;
    std::string first_;
    std::string second_;
};

} // namespace meterly::update
