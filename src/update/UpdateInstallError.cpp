#include "update/UpdateInstallError.hpp"

#include "core/AsciiText.hpp"

namespace meterly::update {

namespace {

// `text` in double quotes, with backslash escapes and "\u{<hex>}" for other control characters.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        core::ascii::appendQuoted(out, c, "\\u{%x}");
    }
    return out + "\"";
}

} // namespace

UpdateInstallError UpdateInstallError::mountFailed(const std::string& detail) {
    return {Kind::mountFailed, detail, {}, "The disk image would not open: " + detail};
}

UpdateInstallError UpdateInstallError::wrongBundle(const std::string& expected,
                                                   const std::string& found) {
    return {Kind::wrongBundle, expected, found,
            "That image contains " + found + ", not " + expected + "."};
}

UpdateInstallError UpdateInstallError::wrongVersion(const std::string& expected,
                                                    const std::string& found) {
    return {Kind::wrongVersion, expected, found,
            "That image contains version " + found + ", not the " + expected +
                " that was offered."};
}

UpdateInstallError UpdateInstallError::destinationNotWritable(const std::string& path) {
    return {Kind::destinationNotWritable,
            path,
            {},
            "Meterly cannot write to " + path + ". Install it by hand from the disk image."};
}

UpdateInstallError UpdateInstallError::replaceFailed(const std::string& detail) {
    return {Kind::replaceFailed, detail, {}, "The update could not be put in place: " + detail};
}

UpdateInstallError UpdateInstallError::noAppInImage() {
    return {Kind::noAppInImage, {}, {}, "The disk image has no Meterly.app in it."};
}

std::string UpdateInstallError::plainRendering() const {
    switch (kind_) {
    case Kind::mountFailed:
        return "mountFailed(" + quoted(first_) + ")";
    case Kind::wrongBundle:
        return "wrongBundle(expected: " + quoted(first_) + ", found: " + quoted(second_) + ")";
    case Kind::wrongVersion:
        return "wrongVersion(expected: " + quoted(first_) + ", found: " + quoted(second_) + ")";
    case Kind::destinationNotWritable:
        return "destinationNotWritable(" + quoted(first_) + ")";
    case Kind::replaceFailed:
        return "replaceFailed(" + quoted(first_) + ")";
    case Kind::noAppInImage:
        return "noAppInImage";
    }
    return {};
}

} // namespace meterly::update
