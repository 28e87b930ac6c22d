#pragma once

#include <filesystem>

namespace meterly::testing {

// Makes a folder unwritable for this process for the life of the object: a read-only bind mount
// in a mount namespace of the test process's own when it runs as root (root writes through any
// permission bits), else mode 0555. active() is false when neither could be done.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::filesystem::path folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool active() const { return mode_ != Mode::none; }

private:
    enum class Mode { none, mount, permissions };
    std::filesystem::path folder_;
    Mode mode_ = Mode::none;
};

} // namespace meterly::testing
