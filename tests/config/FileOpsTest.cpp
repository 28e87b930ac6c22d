#include "config/FileOps.hpp"

#include "support/TempDir.hpp"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>

namespace meterly::config {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::size_t entriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

int errnoOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

TEST(FileOpsTest, AnAtomicWriteReplacesTheFileWithTheGivenModeAndLeavesNothingBeside) {
    TempDir home;
    const auto path = home.write("settings.json", "old contents, longer than the new ones");
    fs::permissions(path, fs::perms(0644));
    fileops::writeAtomically(path, "new", 0600);
    EXPECT_EQ(home.read("settings.json"), "new");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(entriesIn(home.path()), 1u);

    // A file that is not there yet is created the same way.
    fileops::writeAtomically(home.path() / "fresh.json", "", 0644);
    EXPECT_EQ(home.read("fresh.json"), "");
    EXPECT_EQ(modeOf(home.path() / "fresh.json"), 0644u);
}

TEST(FileOpsTest, AnAtomicWriteThroughLinksReplacesTheFileAtTheEndOfTheChain) {
    TempDir home;
    const auto real = home.write("real/settings.json", "old");
    fs::create_symlink(real, home.path() / "middle");
    fs::create_symlink(home.path() / "middle", home.path() / "settings.json");
    EXPECT_EQ(fileops::writeTarget(home.path() / "settings.json"), real);

    fileops::writeAtomically(home.path() / "settings.json", "new", 0600);
    EXPECT_EQ(home.read(real), "new");
    EXPECT_TRUE(fs::is_symlink(home.path() / "settings.json"));
    EXPECT_TRUE(fs::is_symlink(home.path() / "middle"));

    // A dangling link counts as nothing, and writing through it creates its target.
    fs::create_symlink(home.path() / "later.json", home.path() / "dangling");
    EXPECT_FALSE(fileops::exists(home.path() / "dangling"));
    fileops::writeAtomically(home.path() / "dangling", "made", 0644);
    EXPECT_EQ(home.read("later.json"), "made");
    EXPECT_TRUE(fs::is_symlink(home.path() / "dangling"));
}

TEST(FileOpsTest, AFailedWriteThrowsTheSystemsErrorAndLeavesNothing) {
    TempDir home;
    EXPECT_EQ(errnoOf([&] {
                  fileops::writeAtomically(home.path() / "missing/settings.json", "x", 0600);
              }),
              ENOENT);
    EXPECT_EQ(entriesIn(home.path()), 0u);
    // A folder where the file should be is not replaced.
    fs::create_directory(home.path() / "settings.json");
    EXPECT_NE(errnoOf([&] { fileops::writeAtomically(home.path() / "settings.json", "x", 0600); }),
              0);
    EXPECT_TRUE(fs::is_directory(home.path() / "settings.json"));
    EXPECT_EQ(entriesIn(home.path()), 1u);
}

TEST(FileOpsTest, AnExclusiveCopyKeepsTheModeAndNeverReplacesAnything) {
    TempDir home;
    const auto from = home.write("settings.json", "original");
    fs::permissions(from, fs::perms(0640));
    fileops::copyExclusively(from, home.path() / "backup");
    EXPECT_EQ(home.read("backup"), "original");
    EXPECT_EQ(modeOf(home.path() / "backup"), 0640u);

    home.write("taken", "keep me");
    EXPECT_EQ(errnoOf([&] { fileops::copyExclusively(from, home.path() / "taken"); }), EEXIST);
    EXPECT_EQ(home.read("taken"), "keep me");
    EXPECT_EQ(errnoOf([&] { fileops::copyExclusively(home.path() / "none", home.path() / "b"); }),
              ENOENT);
    EXPECT_FALSE(fs::exists(home.path() / "b"));
}

} // namespace
} // namespace meterly::config
