#include "config/LaunchAgentSpec.hpp"

#include "config/InstallEnvironment.hpp"
#include "core/UTF8.hpp"

#include <limits>
#include <memory>
#include <plist/plist.h>

namespace meterly::config {

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistDeleter>;

plist_t node(const LaunchAgentSpec::PropertyListValue& value) {
    struct Visitor {
        plist_t operator()(const std::string& text) const { return plist_new_string(text.c_str()); }
        plist_t operator()(bool flag) const { return plist_new_bool(flag ? 1 : 0); }
        plist_t operator()(std::int64_t number) const {
            // Stored as the two's complement; the XML writer prints it signed.
            return plist_new_uint(static_cast<std::uint64_t>(number));
        }
        plist_t operator()(const std::vector<std::string>& texts) const {
            plist_t array = plist_new_array();
            for (const auto& text : texts) {
                plist_array_append_item(array, plist_new_string(text.c_str()));
            }
            return array;
        }
        plist_t operator()(const std::map<std::string, std::string>& texts) const {
            plist_t dict = plist_new_dict();
            for (const auto& [key, text] : texts) {
                plist_dict_set_item(dict, key.c_str(), plist_new_string(text.c_str()));
            }
            return dict;
        }
    };
    return std::visit(Visitor{}, value);
}

} // namespace

LaunchAgentSpec::PropertyList LaunchAgentSpec::propertyList() const {
    PropertyList list;
    list["Label"] = label;
    list["ProgramArguments"] = programArguments;
    list["KeepAlive"] = keepAlive;
    list["RunAtLoad"] = runAtLoad;
    list["ProcessType"] = std::string("Interactive");
    if (!environment.empty()) {
        list["EnvironmentVariables"] = environment;
    }
    if (throttleInterval) {
        list["ThrottleInterval"] = *throttleInterval;
    }
    if (workingDirectory) {
        list["WorkingDirectory"] = *workingDirectory;
    }
    if (standardOutPath) {
        list["StandardOutPath"] = *standardOutPath;
    }
    if (standardErrorPath) {
        list["StandardErrorPath"] = *standardErrorPath;
    }
    return list;
}

std::string LaunchAgentSpec::plistData() const {
    Plist root(plist_new_dict());
    if (!root) {
        throw PropertyListError("could not create the property list");
    }
    for (const auto& [key, value] : propertyList()) {
        plist_dict_set_item(root.get(), key.c_str(), node(value));
    }
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (xml == nullptr) {
        throw PropertyListError("could not serialise the property list of " + label);
    }
    std::string bytes(xml, length);
    plist_to_xml_free(xml);
    return bytes;
}

std::string LaunchAgentSpec::plistXML() const {
    return core::utf8::decodeLossy(plistData());
}

std::string LaunchAgentSpec::plistFileName() const {
    return label + ".plist";
}

std::filesystem::path
LaunchAgentSpec::userLaunchAgentsDirectory(const std::filesystem::path& home) {
    return home / "Library" / "LaunchAgents";
}

std::filesystem::path LaunchAgentSpec::userPlistURL(const std::filesystem::path& home) const {
    return userLaunchAgentsDirectory(home) / plistFileName();
}

std::string LaunchAgentSpec::defaultLabel() {
    return defaultLabel(core::processEnvironment());
}

std::string LaunchAgentSpec::defaultLabel(const core::EnvironmentLookup& environment) {
    return InstallEnvironment::current(environment).agentLabel;
}

LaunchAgentSpec LaunchAgentSpec::proxy(const std::string& executablePath, std::uint16_t port,
                                       const std::string& label,
                                       const std::vector<std::string>& extraArguments) {
    return proxy(executablePath, port, label, extraArguments, core::processEnvironment());
}

LaunchAgentSpec LaunchAgentSpec::proxy(const std::string& executablePath, std::uint16_t port,
                                       const std::string& label,
                                       const std::vector<std::string>& extraArguments,
                                       const core::EnvironmentLookup& environment) {
    LaunchAgentSpec spec;
    std::string portText = std::to_string(port);
    spec.environment["METERLY_PORT"] = portText;
    if (!InstallEnvironment::current(environment).isProduction()) {
        spec.environment[std::string(InstallEnvironment::variable)] = "dev";
    }
    spec.programArguments.push_back(executablePath);
    spec.programArguments.insert(spec.programArguments.end(), extraArguments.begin(),
                                 extraArguments.end());
    spec.programArguments.push_back("--port");
    spec.programArguments.push_back(portText);
    spec.label = label;
    spec.keepAlive = true;
    spec.runAtLoad = true;
    spec.throttleInterval = 10;
    return spec;
}

} // namespace meterly::config
