#include "app/ProxyRole.hpp"

#include "app/ProxyEndpoint.hpp"
#include "app/SelfDeletionWatch.hpp"
#include "config/ProxyInstaller.hpp"
#include "proxy/ProxyError.hpp"
#include "proxy/ProxyServer.hpp"
#include "proxy/ProxyUsageSource.hpp"
#include "proxy/UpstreamAPI.hpp"

#include <exception>
#include <memory>
#include <string>

namespace meterly::app {

proxy::ProxyConfiguration ProxyRole::configuration(std::uint16_t port) {
    return proxy::ProxyConfiguration::withSystemLimits(port, std::string(proxy::upstreamAPIHost),
                                                       proxy::upstreamAPIPort);
}

int ProxyRole::run(const Context& context) {
    const std::uint16_t port =
        ProxyEndpoint::resolve(context.arguments, context.homeDirectory, context.environment);

    auto usageSource = std::make_shared<proxy::ProxyUsageSource>();
    proxy::ProxyServer server(configuration(port), usageSource);
    std::uint16_t bound = 0;
    try {
        bound = server.start();
    } catch (const std::exception& error) {
        context.writeError("Meterly proxy failed to bind port " + std::to_string(port) + ": " +
                           error.what() + "\n");
        return 1;
    }
    context.writeError("Meterly proxy listening on 127.0.0.1:" + std::to_string(bound) + "\n");

    if (context.executablePath.empty()) {
        // Without a path of our own there is nothing to watch: serve for the life of the process
        // rather than mistake an unknown path for a deleted executable.
        for (;;) {
            context.sleep(SelfDeletionWatch::checkInterval);
        }
    }
    SelfDeletionWatch watch(context.executablePath, context.sleep, context.fileExists);
    watch.waitForDeletion();

    // The resolved port, not the bound one: that is the port the settings and the agent name.
    server.stop();
    auto installer =
        config::ProxyInstaller::standard(context.executablePath, port, context.homeDirectory,
                                         context.environment, context.serviceBackend);
    installer.teardownAfterDeletion(context.executablePath, port, context.fileExists);
    return 0;
}

} // namespace meterly::app
