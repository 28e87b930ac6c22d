#include "ui/platform/QtMainExecutor.hpp"

#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace meterly::ui {
namespace {

// Spins the GUI thread's event loop until `done` or 5 s.
template <typename Predicate>
bool spinUntil(Predicate done) {
    return QTest::qWaitFor(done, 5000);
}

TEST(QtMainExecutorTest, PostedJobsRunInOrderOnTheGUIThreadFromAnyThread) {
    QtMainExecutor main;
    std::vector<int> order;
    std::vector<bool> onGUIThread;
    const auto job = [&](int n) {
        return [&, n] {
            order.push_back(n);
            onGUIThread.push_back(QThread::currentThread() == main.thread());
        };
    };
    main.post(job(1));
    main.post(job(2));
    EXPECT_TRUE(order.empty()) << "never run inside post()";
    std::thread other([&] { main.post(job(3)); });
    other.join();
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(onGUIThread, std::vector<bool>(3, true));
}

TEST(QtMainExecutorTest, DelayedJobsRunInDueOrderUnlessCancelled) {
    QtMainExecutor main;
    std::vector<int> order;
    const auto started = std::chrono::steady_clock::now();
    main.postAfter(0.15, [&] { order.push_back(3); });
    main.postAfter(0.05, [&] { order.push_back(2); });
    main.postAfter(std::nan(""), [&] { order.push_back(1); });
    const auto cancelled = main.postAfter(0.02, [&] { order.push_back(99); });
    main.cancel(cancelled);
    const auto cancelledElsewhere = main.postAfter(0.02, [&] { order.push_back(98); });
    std::thread other([&] { main.cancel(cancelledElsewhere); });
    other.join();
    main.cancel(12345); // unknown: ignored

    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    QTest::qWait(50);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(QtMainExecutorTest, ADelayedJobPostedFromAWorkerRunsOnTheGUIThread) {
    QtMainExecutor main;
    std::atomic<bool> ran{false};
    bool onGUIThread = false;
    std::thread other([&] {
        main.postAfter(0.01, [&] {
            onGUIThread = QThread::currentThread() == main.thread();
            ran = true;
        });
    });
    other.join();
    ASSERT_TRUE(spinUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onGUIThread);
}

TEST(QtMainExecutorTest, NowIsTheWallClock) {
    QtMainExecutor main;
    const double system =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(main.now(), system, 1.0);
}

} // namespace
} // namespace meterly::ui
