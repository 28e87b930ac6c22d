#pragma once

#include "support/FakeExecutable.hpp"

#include <filesystem>

namespace meterly::testing {

// Makes a fake systemctl answer as "systemctl --user" does for a unit while its unit file
// `unitFile` does not exist and the manager has not loaded it (the proxy only ever run by hand):
// disable fails (exit 1), stop and restart find no unit (exit 5), show gives LoadState
// "not-found", is-enabled fails and is-active says inactive (exit 3). Once the file exists the
// fake answers as scripted otherwise.
void answerAsForAMissingUnit(FakeExecutable& systemctl, const std::filesystem::path& unitFile);

} // namespace meterly::testing
