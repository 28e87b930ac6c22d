#include "history/ProjectLabels.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace meterly::history {

namespace {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > begin) {
            parts.push_back(path.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

} // namespace

std::string ProjectLabels::label(const std::string& path, int depth) {
    auto parts = components(path);
    if (parts.empty()) {
        return path;
    }
    std::size_t take = std::min(parts.size(), static_cast<std::size_t>(std::max(depth, 1)));
    std::string result;
    for (std::size_t i = parts.size() - take; i < parts.size(); ++i) {
        if (!result.empty()) {
            result += '/';
        }
        result += parts[i];
    }
    return result;
}

std::vector<std::string> ProjectLabels::labels(const std::vector<std::string>& paths) {
    std::vector<std::string> result;
    std::vector<int> depths(paths.size(), 1);
    result.reserve(paths.size());
    for (const auto& path : paths) {
        result.push_back(label(path, 1));
    }
    while (true) {
        std::unordered_map<std::string, std::vector<std::size_t>> groups;
        for (std::size_t i = 0; i < result.size(); ++i) {
            groups[result[i]].push_back(i);
        }
        bool collided = false;
        bool changed = false;
        for (const auto& [text, members] : groups) {
            if (members.size() < 2) {
                continue;
            }
            collided = true;
            for (std::size_t i : members) {
                std::string longer = label(paths[i], depths[i] + 1);
                if (longer != result[i]) {
                    result[i] = std::move(longer);
                    depths[i] += 1;
                    changed = true;
                }
            }
        }
        if (!collided || !changed) {
            return result;
        }
    }
}

} // namespace meterly::history
