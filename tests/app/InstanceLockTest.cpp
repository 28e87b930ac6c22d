#include "app/InstanceLock.hpp"

#include "support/TempDir.hpp"

#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace meterly::app {
namespace {

core::EnvironmentLookup variables(std::map<std::string, std::string, std::less<>> values) {
    return [values](std::string_view name) -> std::optional<std::string> {
        auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional(it->second);
    };
}

TEST(InstanceLockTest, OneLockPerInstallationInTheRuntimeFolder) {
    testing::TempDir runtime;
    const auto folder = runtime.path().string();
    const auto uid = std::to_string(::getuid());
    EXPECT_EQ(InstanceLock::path(variables({{"XDG_RUNTIME_DIR", folder}})),
              runtime.path() / "meterly-production.lock");
    EXPECT_EQ(
        InstanceLock::path(variables({{"XDG_RUNTIME_DIR", folder}, {"METERLY_INSTALL", "dev"}})),
        runtime.path() / "meterly-development.lock");
    EXPECT_EQ(InstanceLock::path(variables({{"XDG_RUNTIME_DIR", folder + "/missing"}})),
              "/tmp/meterly-" + uid + "-production.lock");
    EXPECT_EQ(InstanceLock::path(variables({{"TMPDIR", folder}})),
              runtime.path() / ("meterly-" + uid + "-production.lock"));
}

TEST(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
    testing::TempDir runtime;
    const auto file = runtime.path() / "meterly-production.lock";
    auto first = InstanceLock::acquire(file, 0);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->holdsLock());
    EXPECT_FALSE(InstanceLock::acquire(file, 0.3).has_value());
    first.reset();
    auto second = InstanceLock::acquire(file, 0);
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(second->holdsLock());

    // A lock file that cannot be made does not keep the app from starting.
    auto unlockable = InstanceLock::acquire(runtime.path() / "missing/x.lock", 0);
    ASSERT_TRUE(unlockable.has_value());
    EXPECT_FALSE(unlockable->holdsLock());
}

} // namespace
} // namespace meterly::app
