#include "support/FakeNotificationServer.hpp"

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace meterly::testing {

FakeNotificationServer::FakeNotificationServer(const std::string& busAddress,
                                               bool answersServerInformation) {
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", METERLY_NOTIFICATION_SERVER_SCRIPT, busAddress,
                                 (folder_.path() / "notifications.jsonl").string(),
                                 answersServerInformation ? "answer" : "silent"},
        std::vector<std::string>{"PATH=/usr/bin:/bin"});
    std::string output;
    while (auto line = server_->readErrorLine(std::chrono::seconds(20))) {
        if (*line == "ready\n") {
            return;
        }
        output += *line;
    }
    throw std::runtime_error("the notification server did not start: " + output);
}

FakeNotificationServer::~FakeNotificationServer() {
    server_->kill(SIGTERM);
    server_->wait();
}

std::vector<ReceivedNotification> FakeNotificationServer::notifications() const {
    std::vector<ReceivedNotification> result;
    const auto file = folder_.path() / "notifications.jsonl";
    if (!std::filesystem::exists(file)) {
        return result;
    }
    std::istringstream lines(folder_.read(file));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            continue;
        }
        const auto call = nlohmann::json::parse(line);
        result.push_back(ReceivedNotification{
            call.at("app_name"), call.at("replaces_id"), call.at("app_icon"), call.at("summary"),
            call.at("body"), call.at("actions"),
            call.at("hints").get<std::map<std::string, std::string>>(), call.at("expire_timeout")});
    }
    return result;
}

bool FakeNotificationServer::waitForNotifications(std::size_t count,
                                                  std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (notifications().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace meterly::testing
