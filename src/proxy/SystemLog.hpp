#pragma once

#include <string_view>

namespace meterly::proxy {

// Where log lines go when no sink is installed: the system log in production.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void write(std::string_view line) = 0;
};

} // namespace meterly::proxy
