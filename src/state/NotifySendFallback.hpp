#pragma once

#include "config/ProcessRunner.hpp"
#include "core/Environment.hpp"
#include "core/Time.hpp"
#include "state/NotificationFallback.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace meterly::state {

// Shows a notification by running
//   notify-send --app-name=Meterly --hint=string:sound-name:message-new-instant
//       -- Meterly "<title>\n<body>"
// as a child process through the runner (the hint asks for the desktop's new-message sound;
// servers without sounds ignore it): an argument vector, no shell, standard streams on /dev/null,
// in a process group of its own. The notification's title line is the product name; the alert's
// title and body follow in the message. A thread of the fallback's own starts each child, reaps it,
// and kills (with its group) one still running after the time limit, so no child is left behind and
// none can hang the app. A program that cannot be started is ignored.
class NotifySendFallback final : public NotificationFallback {
public:
    static constexpr core::Seconds defaultTimeLimit = 10;
    // How long destruction waits for children still running before it kills them.
    static constexpr core::Seconds exitGrace = 1;

    // `environment` gives PATH, where a `program` without a slash is looked for; `runner` starts
    // the children.
    explicit NotifySendFallback(core::EnvironmentLookup environment = core::processEnvironment(),
                                core::Seconds timeLimit = defaultTimeLimit,
                                std::string program = "notify-send",
                                std::shared_ptr<config::ProcessRunner> runner =
                                    std::make_shared<config::PosixProcessRunner>());
    ~NotifySendFallback() override;
    NotifySendFallback(const NotifySendFallback&) = delete;
    NotifySendFallback& operator=(const NotifySendFallback&) = delete;

    void show(const std::string& title, const std::string& body) override;

    // The arguments after the program name.
    static std::vector<std::string> arguments(const std::string& title, const std::string& body);

    // Blocks until every notification asked for so far has had its child started, ended and
    // reaped (or failed to start), at most `limit`; whether that happened.
    bool waitUntilIdle(std::chrono::milliseconds limit);

private:
    struct Child;
    void run();
    void start(const std::vector<std::string>& arguments, std::vector<Child>& children);
    std::string resolve() const;

    core::EnvironmentLookup environment_;
    std::chrono::steady_clock::duration timeLimit_;
    std::string program_;
    std::shared_ptr<config::ProcessRunner> runner_;
    int wake_ = -1; // an eventfd that interrupts the thread's wait

    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<std::vector<std::string>> queue_;
    std::size_t outstanding_ = 0; // asked for and not yet reaped
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace meterly::state
