#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::core {

// Looks up one variable of a process environment: its value, or nothing when it is unset.
// Code that depends on the environment takes one of these so that tests can hand in their own.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The running process's environment, read afresh on every call.
EnvironmentLookup processEnvironment();

} // namespace meterly::core
