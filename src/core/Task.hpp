#pragma once

#include "core/CancellationToken.hpp"

#include <functional>
#include <memory>

namespace meterly::core {

// Runs `body` on a thread of its own that nobody joins, and hands back the token that stops it.
// Whatever the body needs must be owned by the body (captured by value), never borrowed.
std::shared_ptr<CancellationToken> startTask(std::function<void(const CancellationToken&)> body);

} // namespace meterly::core
