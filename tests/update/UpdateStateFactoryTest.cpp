#include "update/UpdateStateFactory.hpp"

#include "support/MemoryPreferences.hpp"
#include "support/VirtualTimeExecutor.hpp"
#include "support/TempDir.hpp"
#include "support/TestImage.hpp"

#include <gtest/gtest.h>

namespace meterly::update {
namespace {

TEST(UpdateStateFactoryTest, TakesTheVersionFromTheBundleAroundTheExecutableWithoutFallback) {
    testing::TempDir root;
    const auto bundle = root.path() / "Meterly.app";
    testing::writeBundle(bundle, "app.meterly", "1.4.2", "");
    state::VirtualTimeExecutor executor;
    state::MemoryPreferences defaults;
    auto none = [](std::string_view) { return std::optional<std::string>(); };

    auto inBundle = UpdateStateFactory::standard(
        executor, defaults, bundle / "Contents/MacOS/meterly", root.path(), none);
    EXPECT_EQ(inBundle->currentVersion(), "1.4.2");

    auto bare = UpdateStateFactory::standard(executor, defaults, root.path() / "meterly",
                                             root.path(), none);
    EXPECT_EQ(bare->currentVersion(), std::nullopt);
}

} // namespace
} // namespace meterly::update
