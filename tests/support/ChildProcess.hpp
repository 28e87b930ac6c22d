#pragma once

#include <chrono>
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

private:
    pid_t pid_ = -1;
    int errorPipe_ = -1;
    std::string buffered_;
    bool reaped_ = false;
};

} // namespace meterly::testing
