#include "state/Observable.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace meterly::state {
namespace {

TEST(ObservableTest, NotifiesOnlyWhenTheValueChanges) {
    ChangeSignal model;
    Observable<std::string> name("a", &model);
    std::vector<std::string> seen;
    int modelChanges = 0;
    auto a = name.observe([&](const std::string& v) { seen.push_back(v); });
    auto b = model.connect([&] { ++modelChanges; });

    EXPECT_FALSE(name.set("a"));
    EXPECT_TRUE(name.set("b"));
    EXPECT_FALSE(name.set("b"));
    name.setAlwaysNotifying("b");
    EXPECT_EQ(seen, (std::vector<std::string>{"b", "b"}));
    EXPECT_EQ(modelChanges, 2);

    a.reset();
    EXPECT_TRUE(name.set("c"));
    EXPECT_EQ(seen.size(), 2u) << "a reset subscription hears nothing";
    EXPECT_EQ(modelChanges, 3);
}

TEST(ObservableTest, ObserversMayDisconnectThemselvesAndOthersWhileNotified) {
    Signal<int> signal;
    std::vector<int> calls;
    Subscription second;
    auto first = signal.connect([&](int v) {
        calls.push_back(v);
        second.reset();
    });
    second = signal.connect([&](int v) { calls.push_back(100 + v); });
    signal.emit(1);
    signal.emit(2);
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));

    auto outlives = std::make_unique<Signal<int>>();
    Subscription orphan = outlives->connect([](int) {});
    outlives.reset();
    orphan.reset(); // the signal is gone: nothing to do, nothing to crash
}

} // namespace
} // namespace meterly::state
