#pragma once

#include <filesystem>
#include <string>

namespace meterly::update {

// Where the offered update stands, from nothing downloaded to the new bundle in place.
class DownloadState {
public:
    enum class Kind { idle, downloading, ready, failed, installing, installed };

    static DownloadState idle() { return DownloadState(Kind::idle); }
    // `progress` from 0 to 1.
    static DownloadState downloading(double progress) {
        DownloadState state(Kind::downloading);
        state.progress_ = progress;
        return state;
    }
    // The verified image.
    static DownloadState ready(std::filesystem::path image) {
        DownloadState state(Kind::ready);
        state.image_ = std::move(image);
        return state;
    }
    // The message shown to the user unchanged.
    static DownloadState failed(std::string message) {
        DownloadState state(Kind::failed);
        state.message_ = std::move(message);
        return state;
    }
    static DownloadState installing() { return DownloadState(Kind::installing); }
    static DownloadState installed() { return DownloadState(Kind::installed); }

    Kind kind() const { return kind_; }
    double progress() const { return progress_; }
    const std::filesystem::path& image() const { return image_; }
    const std::string& message() const { return message_; }

    // Same case and, for the cases that carry one, equal payload.
    bool operator==(const DownloadState&) const = default;

private:
    explicit DownloadState(Kind kind) : kind_(kind) {}

    Kind kind_;
    double progress_ = 0;
    std::filesystem::path image_;
    std::string message_;
};

} // namespace meterly::update
