#pragma once

#include "config/StartedProcess.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
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

// Starts programs as child processes, each with an argument vector and no shell: waits for one
// and collects what it wrote, starts one and hands it over to be reaped by the caller, or starts
// one detached from this process. Service backends, the notification fallback and the relaunch
// take one so that tests can drive them against fake executables.
class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;

    // Runs `program` (an absolute path, or a name looked up in PATH) with `arguments` (not
    // including the program itself) and waits for it. Never throws for a program that fails or
    // cannot start.
    virtual CommandResult run(const std::string& program,
                              const std::vector<std::string>& arguments) = 0;

    // Starts `program` (as for `run`) with its standard streams on /dev/null, in a process group
    // of its own, and returns at once: the caller reaps it. None when it could not be started.
    virtual std::optional<StartedProcess> start(const std::string& program,
                                                const std::vector<std::string>& arguments) = 0;

    // Starts `program` (an absolute path) in a new session, detached from this process: no
    // zombie is left and nothing is waited for beyond the fork. Standard input reads /dev/null;
    // standard output and error are inherited. False when it could not be started.
    virtual bool startDetached(const std::string& program,
                               const std::vector<std::string>& arguments) = 0;
};

// The POSIX runner. No descriptor of this process leaks into a child beyond the three standard
// ones, and every child starts with no signal blocked and SIGPIPE at its default.
//
// `run`: standard input from /dev/null, standard output and standard error on one pipe that is
// read to its end before the child is reaped.
//
// A child that has not finished within the time-out (a hung service manager) is killed: the
// result then has status 128 + SIGKILL and an output that ends in "(killed after <time-out>)".
class PosixProcessRunner final : public ProcessRunner {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{30'000};

    explicit PosixProcessRunner(std::chrono::milliseconds timeout = defaultTimeout);

    CommandResult run(const std::string& program,
                      const std::vector<std::string>& arguments) override;
    std::optional<StartedProcess> start(const std::string& program,
                                        const std::vector<std::string>& arguments) override;
    bool startDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override;

private:
    std::chrono::milliseconds timeout_;
};

// `text` without white space and line breaks at either end.
std::string trimWhitespace(std::string_view text);

} // namespace meterly::config
