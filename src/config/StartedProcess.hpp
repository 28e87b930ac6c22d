#pragma once

#include <sys/types.h>

namespace meterly::config {

// A child process started without waiting for it, in a process group of its own. Whoever holds
// it reaps it: `reap` once it has ended, or `kill` and then `reap(true)`. Destruction closes the
// descriptor only; it neither kills nor reaps.
class StartedProcess {
public:
    StartedProcess(pid_t pid, int endedDescriptor);
    ~StartedProcess();
    StartedProcess(StartedProcess&& other) noexcept;
    StartedProcess& operator=(StartedProcess&& other) noexcept;
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Readable once the child has ended; -1 where the kernel offers no such descriptor.
    int endedDescriptor() const { return ended_; }

    // Reaps the child if it has ended (with `wait`, once it ends); true when it is reaped or was
    // already gone.
    bool reap(bool wait);
    // Ends the child and anything it started in its group (SIGKILL).
    void kill();

private:
    pid_t pid_;
    int ended_;
};

} // namespace meterly::config
