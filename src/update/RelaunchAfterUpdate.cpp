#include "update/RelaunchAfterUpdate.hpp"

#include "config/LaunchAgentSpec.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace meterly::update {

RelaunchAfterUpdate::RelaunchAfterUpdate(config::LaunchAgentManager agent,
                                         std::filesystem::path executable,
                                         std::function<void()> terminate,
                                         std::function<void()> handOver)
    : agent_(std::move(agent)), executable_(std::move(executable)),
      terminate_(std::move(terminate)), handOver_(std::move(handOver)) {}

config::LaunchAgentManager
RelaunchAfterUpdate::proxyAgent(const std::filesystem::path& home,
                                const core::EnvironmentLookup& environment,
                                std::shared_ptr<config::ServiceBackend> backend) {
    auto spec = config::LaunchAgentSpec::proxy("/unused-by-kickstart", 0,
                                               config::LaunchAgentSpec::defaultLabel(environment),
                                               {"--proxy"}, environment);
    return config::LaunchAgentManager(std::move(spec), home, std::move(backend));
}

void RelaunchAfterUpdate::now() const {
    restartProxyAgent();
    if (handOver_) {
        handOver_();
    }
    launchDetached(command(executable_));
    if (terminate_) {
        terminate_();
    }
}

void RelaunchAfterUpdate::restartProxyAgent() const {
    try {
        if (agent_.isLoaded()) {
            agent_.kickstart();
        }
    } catch (...) {
        // An agent that cannot be restarted keeps running as it was.
    }
}

std::vector<std::string> RelaunchAfterUpdate::command(const std::filesystem::path& executable) {
    return {"/bin/sh", "-c", "sleep 1; exec \"$0\"", executable.string()};
}

bool RelaunchAfterUpdate::launchDetached(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return false;
    }
    // Everything the children need is prepared before fork: after it, only async-signal-safe
    // calls are made.
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const char* program = argv.front();

    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
        }
        if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
            for (int fd = 3; fd < 1024; ++fd) {
                ::close(fd);
            }
        }
        ::execve(program, argv.data(), environ);
        ::_exit(127);
    }
    int status = 0;
    pid_t reaped = 0;
    do {
        reaped = ::waitpid(child, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace meterly::update
