#pragma once

#include <string_view>

namespace meterly::config {

// Teardown and roll-back go on past a step that fails (the next steps still help), but the
// failure is not lost: it is written to standard error, which the service manager keeps in its
// journal, as "meterly: <step> failed: <reason>".
class TeardownLog {
public:
    // Call from inside a catch block; the reason is the exception being handled.
    static void failed(std::string_view step) noexcept;

    TeardownLog() = delete;
};

} // namespace meterly::config
