#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace meterly::testing {

// A real child process started with an argument vector and an environment of the test's own,
// its standard error read through a pipe. Killed and reaped on destruction if still running.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard error with its line feed, or nullopt when the stream ends or
    // nothing complete arrives within `limit`.
    std::optional<std::string> readErrorLine(std::chrono::milliseconds limit);

    // Everything the child writes to standard error until it closes the stream.
    std::string readErrorToEnd();

    // Waits for the child to end; its exit status, or 128 + signal when a signal ended it.
    int wait();

    void kill(int signal);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int errorPipe_ = -1;
    std::string buffered_;
    bool reaped_ = false;
};

// Starts `arguments` (the program first, an absolute path) with `environment`, standard input
// from /dev/null and both outputs appended to `log`; the child's id, or -1 when it cannot start.
pid_t spawnLogged(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::filesystem::path& log);

// Waits for a child to end: its exit status, 128 + the signal that ended it, or -1.
int waitForExit(pid_t pid);

// spawnLogged, then waitForExit.
int runLogged(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment, const std::filesystem::path& log);

} // namespace meterly::testing
