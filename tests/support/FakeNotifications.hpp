#pragma once

// Stand-ins for the notification centre and the fallback program, for tests of the app's state
// (header-only: include it from suites that link meterly::state).

#include "state/NotificationCentre.hpp"
#include "state/NotificationFallback.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meterly::testing {

struct ShownNotification {
    std::string identifier; // empty for the fallback, which takes none
    std::string title;
    std::string body;
    bool operator==(const ShownNotification&) const = default;
};

// A centre that records what it is asked to show. Its authorisation answer is given by the test:
// at once when `immediateAnswer` is set, else held until answer() is called.
class FakeNotificationCentre final : public state::NotificationCentre {
public:
    std::optional<bool> immediateAnswer;
    std::vector<ShownNotification> shown;
    int authorizationRequests = 0;

    void requestAuthorization(std::function<void(bool)> done) override {
        ++authorizationRequests;
        if (immediateAnswer) {
            done(*immediateAnswer);
        } else {
            held_.push_back(std::move(done));
        }
    }
    void show(const std::string& identifier, const std::string& title,
              const std::string& body) override {
        shown.push_back({identifier, title, body});
    }
    // Gives the held requests their answer.
    void answer(bool authorized) {
        auto held = std::move(held_);
        held_.clear();
        for (auto& done : held) {
            done(authorized);
        }
    }

private:
    std::vector<std::function<void(bool)>> held_;
};

// A fallback that records what it is asked to show.
class FakeNotificationFallback final : public state::NotificationFallback {
public:
    std::vector<ShownNotification> shown;
    void show(const std::string& title, const std::string& body) override {
        shown.push_back({"", title, body});
    }
};

} // namespace meterly::testing
