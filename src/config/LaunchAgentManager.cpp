#include "config/LaunchAgentManager.hpp"

#include "config/FileOps.hpp"
#include "config/SystemdUserBackend.hpp"
#include "config/TeardownLog.hpp"

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace meterly::config {

namespace {

// The definition's mode: readable by all, like every file in the agents' folders.
constexpr mode_t definitionMode = 0644;

// The file's bytes; nothing when it is missing or unreadable.
std::optional<std::string> readIfPresent(const std::filesystem::path& path) {
    try {
        return fileops::readAll(path);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

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
    if (auto existing = readIfPresent(path); existing && *existing == bytes) {
        return false;
    }
    try {
        fileops::writeAtomically(path, bytes, definitionMode);
    } catch (const std::system_error& failure) {
        throw LaunchAgentError::io(path.string(), failure.code().message());
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
        return readIfPresent(plistURL());
    } catch (...) {
        return std::nullopt;
    }
}

void LaunchAgentManager::restore(const std::optional<std::string>& plist,
                                 bool wasLoaded) const noexcept {
    try {
        if (plist) {
            try {
                fileops::writeAtomically(plistURL(), *plist, definitionMode);
            } catch (...) {
                TeardownLog::failed("putting the previous agent definition back");
            }
            try {
                if (wasLoaded) {
                    kickstart();
                } else {
                    bootout();
                }
            } catch (...) {
                TeardownLog::failed(wasLoaded ? "restarting the previous agent"
                                              : "stopping the new agent");
            }
        } else {
            try {
                bootout();
            } catch (...) {
                TeardownLog::failed("stopping the new agent");
            }
            try {
                removePlist();
            } catch (...) {
                TeardownLog::failed("removing the new agent definition");
            }
        }
    } catch (...) {
        TeardownLog::failed("rolling the agent back");
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
        auto bytes = readIfPresent(plistURL());
        if (!bytes) {
            return std::nullopt;
        }
        return backend_->programArguments(*bytes);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace meterly::config
