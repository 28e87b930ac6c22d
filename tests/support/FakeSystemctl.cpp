#include "support/FakeSystemctl.hpp"

#include <string>

namespace meterly::testing {

void answerAsForAMissingUnit(FakeExecutable& systemctl, const std::filesystem::path& unitFile) {
    // The texts are systemd 252's.
    const std::string unit = unitFile.filename().string();
    systemctl.answerWhileMissing(unitFile, "disable", 1,
                                 "Failed to disable unit: Unit file " + unit + " does not exist.");
    systemctl.answerWhileMissing(unitFile, "stop", 5,
                                 "Failed to stop " + unit + ": Unit " + unit + " not loaded.");
    systemctl.answerWhileMissing(unitFile, "restart", 5,
                                 "Failed to restart " + unit + ": Unit " + unit + " not found.");
    systemctl.answerWhileMissing(unitFile, "show", 0, "not-found");
    systemctl.answerWhileMissing(unitFile, "is-enabled", 1,
                                 "Failed to get unit file state for " + unit +
                                     ": No such file or directory");
    systemctl.answerWhileMissing(unitFile, "is-active", 3, "inactive");
}

} // namespace meterly::testing
