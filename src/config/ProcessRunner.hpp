#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::config {

// The outcome of one run of a service manager's command-line tool.
struct CommandResult {
    // The exit status; -1 when the program could not be started, 128 + the signal number when a
    // signal ended it.
    std::int32_t status = 0;
    // Standard output and standard error together, decoded as UTF-8 (invalid sequences replaced)
    // and trimmed of white space and line breaks at both ends. When the program could not be
    // started, the reason.
    std::string output;

    bool operator==(const CommandResult&) const = default;
};

// Runs a program as a child process and waits for it. Service backends take one so that tests can
// drive them against fake executables.
class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;

    // Runs `program` (an absolute path, or a name looked up in PATH) with `arguments` (not
    // including the program itself). Never throws for a program that fails or cannot start.
    virtual CommandResult run(const std::string& program,
                              const std::vector<std::string>& arguments) = 0;
};

// The POSIX runner: an argument vector without a shell, standard input from /dev/null, standard
// output and standard error on one pipe that is read to its end before the child is reaped. No
// descriptor of this process leaks into the child beyond the three standard ones.
//
// A child that has not finished within the time-out (a hung service manager) is killed: the
// result then has status 128 + SIGKILL and an output that ends in "(killed after <time-out>)".
class PosixProcessRunner final : public ProcessRunner {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{30'000};

    explicit PosixProcessRunner(std::chrono::milliseconds timeout = defaultTimeout);

    CommandResult run(const std::string& program,
                      const std::vector<std::string>& arguments) override;

private:
    std::chrono::milliseconds timeout_;
};

// `text` without white space and line breaks at either end.
std::string trimWhitespace(std::string_view text);

} // namespace meterly::config
