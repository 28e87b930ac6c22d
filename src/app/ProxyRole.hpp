#pragma once

#include "app/SelfDeletionWatch.hpp"
#include "config/ServiceBackend.hpp"
#include "core/Environment.hpp"
#include "proxy/ProxyConfiguration.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::app {

// The headless relay that the per-user agent runs: resolve the port, listen on 127.0.0.1, serve,
// and tear the installation down once the executable is confirmed deleted.
class ProxyRole {
public:
    struct Context {
        std::vector<std::string> arguments;
        core::EnvironmentLookup environment;
        std::filesystem::path homeDirectory;
        // The running executable, links resolved, taken once before anything else.
        std::string executablePath;
        // Writes one whole line to standard error.
        std::function<void(std::string_view)> writeError;
        // What the deletion watch sleeps and looks with, and the service manager that the
        // teardown drives.
        SelfDeletionWatch::Sleep sleep = SelfDeletionWatch::sleepSteadily;
        SelfDeletionWatch::FileExists fileExists = config::SelfCheck::fileExistsOnDisk;
        std::shared_ptr<config::ServiceBackend> serviceBackend;
    };

    // The only configuration the proxy ever runs with.
    static proxy::ProxyConfiguration configuration(std::uint16_t port);

    // Returns the process's exit status: 1 when the listener cannot start, 0 after the teardown.
    static int run(const Context& context);
};

} // namespace meterly::app
