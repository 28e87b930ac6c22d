#pragma once

#include "core/Environment.hpp"

namespace meterly::config {

using core::EnvironmentLookup;
using core::processEnvironment;

} // namespace meterly::config
