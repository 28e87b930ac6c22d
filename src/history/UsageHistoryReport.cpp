#include "history/UsageHistoryReport.hpp"

namespace meterly::history {

std::string ProjectUsage::displayName() const {
    if (!projectPath || projectPath->empty()) {
        return projectID;
    }
    const std::string& path = *projectPath;
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) {
        return "/";
    }
    std::size_t slash = path.rfind('/', end);
    std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(begin, end + 1 - begin);
}

} // namespace meterly::history
