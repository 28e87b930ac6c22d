#pragma once

#include <string>
#include <vector>

namespace meterly::history {

// Short display labels for project paths: the last path component, lengthened by leading
// components only as far as needed to tell colliding paths apart.
struct ProjectLabels {
    ProjectLabels() = delete;

    // One label per path, in the same order. Identical paths keep identical labels.
    static std::vector<std::string> labels(const std::vector<std::string>& paths);

    // The last `depth` components of `path` joined with "/" (a depth below 1 counts as 1); the
    // path itself when it has no components ("/", "" or only slashes).
    static std::string label(const std::string& path, int depth);
};

} // namespace meterly::history
