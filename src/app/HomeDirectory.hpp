#pragma once

#include "core/Environment.hpp"

#include <filesystem>

namespace meterly::app {

// The current user's home folder: $HOME when it is an absolute path, else the password database's
// entry for the real user, else "/".
std::filesystem::path homeDirectory(const core::EnvironmentLookup& environment);

} // namespace meterly::app
