#include "core/Task.hpp"

#include <thread>

namespace meterly::core {

std::shared_ptr<CancellationToken> startTask(std::function<void(const CancellationToken&)> body) {
    auto token = std::make_shared<CancellationToken>();
    std::thread([token, body = std::move(body)] { body(*token); }).detach();
    return token;
}

} // namespace meterly::core
