#include "config/LaunchAgentManager.hpp"

#include "config/SystemdUserBackend.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace meterly::config {

namespace {

std::system_error lastError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

// The reason of an io error: the platform's description of what went wrong.
std::string reasonOf(const std::system_error& error) {
    return error.code().message();
}

} // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    std::string pattern =
        (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        throw lastError("create a temporary file");
    }
    auto fail = [&](const std::string& what) {
        auto error = lastError(what);
        ::close(fd);
        ::unlink(pattern.c_str());
        return error;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw fail("write");
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) {
        throw fail("write");
    }
    if (::close(fd) != 0) {
        auto error = lastError("close");
        ::unlink(pattern.c_str());
        throw error;
    }
    if (::rename(pattern.c_str(), path.c_str()) != 0) {
        auto error = lastError("rename");
        ::unlink(pattern.c_str());
        throw error;
    }
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return bytes;
}

LaunchAgentManager::LaunchAgentManager(LaunchAgentSpec spec, std::filesystem::path homeDirectory)
    : LaunchAgentManager(std::move(spec), std::move(homeDirectory),
                         SystemdUserBackend::standard()) {}

LaunchAgentManager::LaunchAgentManager(LaunchAgentSpec spec, std::filesystem::path homeDirectory,
                                       std::shared_ptr<ServiceBackend> backend)
    : spec_(std::move(spec)), homeDirectory_(std::move(homeDirectory)),
      backend_(std::move(backend)) {}

std::filesystem::path LaunchAgentManager::plistURL() const {
    return backend_->definitionPath(spec_, homeDirectory_);
}

bool LaunchAgentManager::writePlist() const {
    std::string bytes = backend_->renderDefinition(spec_);
    auto path = plistURL();
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        throw LaunchAgentError::io(path.string(), error.message());
    }
    if (auto existing = readWholeFile(path); existing && *existing == bytes) {
        return false;
    }
    try {
        writeFileAtomically(path, bytes);
    } catch (const std::system_error& failure) {
        throw LaunchAgentError::io(path.string(), reasonOf(failure));
    }
    return true;
}

bool LaunchAgentManager::removePlist() const {
    auto path = plistURL();
    std::error_code error;
    auto status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status)) {
        return false;
    }
    if (::unlink(path.c_str()) != 0) {
        throw LaunchAgentError::io(path.string(), std::generic_category().message(errno));
    }
    return true;
}

std::optional<std::string> LaunchAgentManager::plistSnapshot() const {
    try {
        return readWholeFile(plistURL());
    } catch (...) {
        return std::nullopt;
    }
}

void LaunchAgentManager::restore(const std::optional<std::string>& plist,
                                 bool wasLoaded) const noexcept {
    try {
        if (plist) {
            try {
                writeFileAtomically(plistURL(), *plist);
            } catch (...) {
            }
            try {
                if (wasLoaded) {
                    kickstart();
                } else {
                    bootout();
                }
            } catch (...) {
            }
        } else {
            try {
                bootout();
            } catch (...) {
            }
            try {
                removePlist();
            } catch (...) {
            }
        }
    } catch (...) {
    }
}

void LaunchAgentManager::bootstrap() const {
    backend_->bootstrap(spec_, plistURL());
}

void LaunchAgentManager::kickstart() const {
    backend_->kickstart(spec_);
}

void LaunchAgentManager::bootout() const {
    backend_->bootout(spec_);
}

bool LaunchAgentManager::isLoaded() const {
    try {
        return backend_->isLoaded(spec_);
    } catch (...) {
        return false;
    }
}

std::optional<std::vector<std::string>> LaunchAgentManager::installedProgramArguments() const {
    try {
        auto bytes = readWholeFile(plistURL());
        if (!bytes) {
            return std::nullopt;
        }
        return backend_->programArguments(*bytes);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace meterly::config
