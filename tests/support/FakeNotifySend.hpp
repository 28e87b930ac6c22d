#pragma once

#include "support/TempDir.hpp"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace meterly::testing {

// A notify-send of the test's own in a bin folder of its own: each run records its process id and
// its arguments exactly (NUL-separated); with `hang` it then sleeps until killed.
class FakeNotifySend {
public:
    explicit FakeNotifySend(bool hang = false);

    // The folder to put on PATH.
    std::filesystem::path binFolder() const { return folder_.path() / "bin"; }

    struct Run {
        int pid = 0;
        std::vector<std::string> arguments;
    };
    // The runs so far that have recorded their arguments, in no particular order.
    std::vector<Run> runs() const;

private:
    TempDir folder_{"meterly-notify-send"};
};

// True when no process with this id is left, not even a zombie waiting to be reaped.
bool processGone(int pid);

} // namespace meterly::testing
