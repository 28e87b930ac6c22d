#pragma once

namespace meterly::net {

// libcurl's process-wide set-up. Every user of libcurl calls initialise() before its first
// handle; the set-up runs once, on whichever thread comes first, and is never undone.
class CurlGlobal {
public:
    static void initialise();
};

} // namespace meterly::net
