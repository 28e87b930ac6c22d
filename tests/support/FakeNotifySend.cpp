#include "support/FakeNotifySend.hpp"

#include <sys/stat.h>
#include <utility>

namespace meterly::testing {

FakeNotifySend::FakeNotifySend(bool hang) {
    const auto runs = (folder_.path() / "runs").string();
    std::filesystem::create_directories(runs);
    // Written to a temporary name and moved into place, so a run never reads half a record.
    const auto script = folder_.write(
        "bin/notify-send", "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + runs + "'/.$$\nmv '" + runs +
                               "'/.$$ '" + runs + "'/$$\n" + (hang ? "exec sleep 600\n" : ""));
    ::chmod(script.c_str(), 0755);
}

std::vector<FakeNotifySend::Run> FakeNotifySend::runs() const {
    std::vector<Run> result;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path() / "runs")) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(".")) {
            continue;
        }
        Run run{std::stoi(name), {}};
        std::string current;
        for (const char c : folder_.read(entry.path())) {
            if (c == '\0') {
                run.arguments.push_back(std::exchange(current, {}));
            } else {
                current.push_back(c);
            }
        }
        result.push_back(std::move(run));
    }
    return result;
}

bool processGone(int pid) {
    return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

} // namespace meterly::testing
