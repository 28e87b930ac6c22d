#include "config/InstallEnvironment.hpp"

namespace meterly::config {

const InstallEnvironment& InstallEnvironment::production() {
    static const InstallEnvironment value{"production", "com.meterly.proxy", ".claude", 8787};
    return value;
}

const InstallEnvironment& InstallEnvironment::development() {
    static const InstallEnvironment value{"development", "com.meterly.proxy.dev",
                                          ".claude-meterly-dev", 8900};
    return value;
}

const InstallEnvironment& InstallEnvironment::resolve(std::optional<std::string_view> value) {
    if (value && *value == "dev") {
        return development();
    }
    return production();
}

const InstallEnvironment& InstallEnvironment::current(const core::EnvironmentLookup& environment) {
    auto value = environment(variable);
    if (!value) {
        return resolve(std::nullopt);
    }
    return resolve(std::string_view(*value));
}

const InstallEnvironment& InstallEnvironment::current() {
    return current(core::processEnvironment());
}

} // namespace meterly::config
