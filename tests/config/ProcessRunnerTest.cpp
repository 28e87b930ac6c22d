#include "config/ProcessRunner.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

namespace meterly::config {
namespace {

CommandResult shell(const std::string& script, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"-c", script, "sh"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return PosixProcessRunner().run("/bin/sh", arguments);
}

TEST(ProcessRunnerTest, MergesBothStreamsTrimsThemAndReportsTheExitStatus) {
    auto result = shell("printf '  out\\n'; printf 'err\\n\\n' >&2; exit 7");
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.output, "out\nerr");
}

TEST(ProcessRunnerTest, PassesArgumentsVerbatimWithoutAShell) {
    auto result = shell("for a; do printf '[%s]' \"$a\"; done", {"a b", "$HOME", "\"q\"", "*", ""});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "[a b][$HOME][\"q\"][*][]");
}

TEST(ProcessRunnerTest, FindsAProgramByNameInThePath) {
    auto result = PosixProcessRunner().run("sh", {"-c", "exit 3"});
    EXPECT_EQ(result.status, 3);
}

TEST(ProcessRunnerTest, AProgramThatCannotStartGivesMinusOneAndTheReason) {
    auto result = PosixProcessRunner().run("/nonexistent/launchctl", {"print"});
    EXPECT_EQ(result.status, -1);
    EXPECT_NE(result.output.find("No such file or directory"), std::string::npos) << result.output;
}

TEST(ProcessRunnerTest, AChildThatHangsIsKilledAtTheTimeOut) {
    // A hung service manager must not hold its caller forever.
    auto started = std::chrono::steady_clock::now();
    auto result = PosixProcessRunner(std::chrono::milliseconds(300))
                      .run("/bin/sh", {"-c", "echo waiting; exec sleep 30"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(result.status, 128 + SIGKILL);
    EXPECT_EQ(result.output, "waiting (killed after 300 ms)");
}

TEST(ProcessRunnerTest, AChildThatClosesItsOutputAndRunsOnIsKilledAtTheTimeOut) {
    auto started = std::chrono::steady_clock::now();
    auto result = PosixProcessRunner(std::chrono::milliseconds(300))
                      .run("/bin/sh", {"-c", "echo waiting; exec >&- 2>&-; exec sleep 30"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(result.status, 128 + SIGKILL);
    EXPECT_EQ(result.output, "waiting (killed after 300 ms)");
}

TEST(ProcessRunnerTest, ReadsOutputLargerThanAPipeBufferToTheEnd) {
    auto result = shell("i=0; while [ $i -lt 4000 ]; do echo 0123456789abcdefghijklmnopqrstuvwxyz; "
                        "i=$((i+1)); done; exit 1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output.size(), 4000u * 37u - 1u);
}

TEST(ProcessRunnerTest, TheChildStartsWithDefaultSignalsAndASignalEndingItIsReported) {
    EXPECT_EQ(shell("kill -TERM $$").status, 128 + 15);

    // A caller that blocks signals or ignores SIGPIPE, as network code does, passes neither on.
    sigset_t term;
    sigset_t previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &previous), 0);
    auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    auto blocked = shell("kill -TERM $$; exit 0");
    auto ignored = shell("kill -PIPE $$; exit 0");
    std::signal(SIGPIPE, oldPipe);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(blocked.status, 128 + 15);
    EXPECT_EQ(ignored.status, 128 + 13);
}

TEST(ProcessRunnerTest, TheChildGetsOnlyTheStandardDescriptors) {
    // A descriptor opened without close-on-exec, as other code in the process might.
    int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 0);
    auto result = shell("if [ -e /proc/$$/fd/$1 ]; then echo leaked; fi; "
                        "read line; echo \"stdin:$line.\"",
                        {std::to_string(leaky)});
    ::close(leaky);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "stdin:.");
}

TEST(ProcessRunnerTest, InvalidUTF8IsReplaced) {
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(shell("printf 'x\\377y'").output, "x" + bad + "y");
}

} // namespace
} // namespace meterly::config
