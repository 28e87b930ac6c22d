#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

namespace meterly::history {

// Folds a working folder to the root of the git repository that holds it, and a linked worktree
// to its main repository, so that sub-folders and worktrees of one repository count as one project.
// Answers are remembered per input text for the life of the resolver.
class ProjectRootResolver {
public:
    // The largest ".git" file that is still read as a worktree pointer.
    static constexpr std::size_t maxGitFileBytes = 64 * 1024;

    // `homeFolder` is never taken as a repository, even when it holds a ".git".
    explicit ProjectRootResolver(std::filesystem::path homeFolder);

    // The project root of `path`. The empty text is returned unchanged and not remembered. A path
    // that lies in no repository resolves to itself, standardised and with links resolved.
    std::string root(const std::string& path);

private:
    std::string resolve(const std::string& path) const;
    static std::optional<std::string> mainRepository(const std::filesystem::path& gitFile);

    std::filesystem::path homeFolder_;
    std::unordered_map<std::string, std::string> cache_;
};

} // namespace meterly::history
