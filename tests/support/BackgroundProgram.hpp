#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace meterly::testing {

// A program started for the length of a test (a display server, a bus, a tray host), in a process
// group of its own; its output goes to a log file. stop() (or destruction) ends the whole group.
class BackgroundProgram {
public:
    BackgroundProgram() = default;
    ~BackgroundProgram() { stop(); }
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    // With `withReportPipe`, the program gets a pipe as file descriptor 3 (for Xvfb's -displayfd
    // and dbus-daemon's --print-address). Throws std::runtime_error when it cannot start.
    void start(const std::vector<std::string>& arguments, const std::vector<std::string>& env,
               const std::filesystem::path& log, bool withReportPipe);
    // The first line the program writes to its report pipe, without the line feed.
    std::optional<std::string> readReport(std::chrono::milliseconds limit);
    bool running() const;
    void stop();

private:
    pid_t pid_ = -1;
    int reportPipe_ = -1;
};

} // namespace meterly::testing
