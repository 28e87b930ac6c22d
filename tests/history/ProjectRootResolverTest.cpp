#include "history/ProjectRootResolver.hpp"

#include "support/TempDir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace meterly::history {
namespace {

namespace fs = std::filesystem;
using meterly::testing::TempDir;

// A home folder holding a repository with a sub-folder, linked worktrees pointing at it in every
// way a ".git" file can, a submodule, and ".git" entries that are no worktree pointers at all.
class ProjectRootResolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(home() / ".git");
        fs::create_directories(home() / "src/app/.git/worktrees/feature");
        fs::create_directories(home() / "src/app/lib/deep");
        fs::create_directories(home() / "notes/sub");
        tmp.write("home/wt/feature/.git",
                  "gitdir: " + (home() / "src/app/.git/worktrees/feature").string() + "\n");
        tmp.write("home/wt/relative/.git", "  gitdir:\t../../src/app/.git/worktrees/relative \r\n");
        tmp.write("home/wt/elsewhere/.git",
                  "gitdir: " + (home() / "src/app/.git/modules/x").string());
        tmp.write("home/wt/missing/.git",
                  "gitdir: " + (tmp.path() / "gone/.git/worktrees/x").string());
        tmp.write("home/wt/empty/.git", "gitdir:   \n");
        tmp.write("home/wt/garbage/.git", "not a pointer");
        tmp.write("home/wt/binary/.git", "gitdir: /x/\xff\xfe/.git/worktrees/y");
        tmp.write("home/src/app/vendor/lib/.git", "gitdir: ../../.git/modules/vendor/lib\n");
        fs::create_directory_symlink(home() / "src/app/lib", home() / "link");
        fs::create_directories(home() / "fifo");
        ASSERT_EQ(::mkfifo((home() / "fifo/.git").c_str(), 0600), 0);
    }

    fs::path home() const { return tmp.path() / "home"; }
    std::string at(const std::string& relative) const {
        return relative.empty() ? home().string() : (home() / relative).string();
    }

    TempDir tmp;
};

TEST_F(ProjectRootResolverTest, FoldsFoldersToTheirRepositoryRoot) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"src/app", "src/app"},
        {"src/app/lib", "src/app"},
        {"src/app/lib/deep/../deep/./", "src/app"},
        {"src/app/not/there/yet", "src/app"},
        {"wt/feature", "src/app"},
        {"wt/relative", "src/app"},
        {"link", "src/app"},
        // A submodule's ".git" file points into the parent's modules: it stays its own root.
        {"src/app/vendor/lib", "src/app/vendor/lib"},
        {"wt/elsewhere", "wt/elsewhere"},
        {"wt/missing", "wt/missing"},
        {"wt/empty", "wt/empty"},
        {"wt/garbage", "wt/garbage"},
        {"wt/binary", "wt/binary"},
        // The home folder's own ".git" never makes the whole home folder one project.
        {"notes/sub", "notes/sub"},
        {"", ""},
    };
    ProjectRootResolver resolver(home());
    for (const auto& c : cases) {
        EXPECT_EQ(resolver.root(at(c.input)), at(c.expected)) << c.input;
    }
    EXPECT_EQ(resolver.root(""), "");
}

TEST_F(ProjectRootResolverTest, OnlySmallRegularGitFilesAreRead) {
    // A FIFO would block a plain open forever; it is not a pointer and its folder is the root.
    ProjectRootResolver resolver(home());
    EXPECT_EQ(resolver.root(at("fifo")), at("fifo"));

    const std::string pointer = "gitdir: " + (home() / "src/app/.git/worktrees/big").string();
    auto padded = [&](std::size_t size) {
        return pointer + std::string(size - pointer.size(), '\n');
    };
    tmp.write("home/wt/limit/.git", padded(ProjectRootResolver::maxGitFileBytes));
    tmp.write("home/wt/huge/.git", padded(ProjectRootResolver::maxGitFileBytes + 1));
    EXPECT_EQ(resolver.root(at("wt/limit")), at("src/app"));
    EXPECT_EQ(resolver.root(at("wt/huge")), at("wt/huge"));
}

TEST_F(ProjectRootResolverTest, RemembersEachPathForTheResolversLife) {
    ProjectRootResolver resolver(home());
    EXPECT_EQ(resolver.root(at("notes/sub")), at("notes/sub"));
    fs::create_directory(home() / "notes/.git");
    EXPECT_EQ(resolver.root(at("notes/sub")), at("notes/sub"));
    EXPECT_EQ(ProjectRootResolver(home()).root(at("notes/sub")), at("notes"));
}

TEST(ProjectRootResolverAboveHomeTest, FindsARepositoryThatHoldsTheHomeFolder) {
    TempDir tmp;
    fs::create_directories(tmp.path() / ".git");
    fs::create_directories(tmp.path() / "home/.git");
    fs::create_directories(tmp.path() / "home/notes");
    ProjectRootResolver resolver(tmp.path() / "home");
    EXPECT_EQ(resolver.root((tmp.path() / "home/notes").string()), tmp.path().string());
}

} // namespace
} // namespace meterly::history
