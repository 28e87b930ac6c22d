#include "app/HomeDirectory.hpp"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace meterly::app {

std::filesystem::path homeDirectory(const core::EnvironmentLookup& environment) {
    if (auto home = environment("HOME"); home && !home->empty() && home->front() == '/') {
        return *home;
    }
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return "/";
}

} // namespace meterly::app
