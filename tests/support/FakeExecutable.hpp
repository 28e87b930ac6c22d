#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace meterly::testing {

// A shell script standing in for a command-line tool (a service manager's control program). Every
// run appends its arguments, joined by single blanks, as one line to a log, prints the output
// scripted for its verb and exits with the status scripted for it (0 when none is).
//
// The verb of a run is its first argument that does not begin with "-". Statuses are scripted
// as a queue: each run takes the first, and the last one repeats.
class FakeExecutable {
public:
    // Writes the script as `folder`/`name` (folder created when missing) with its state beside it.
    FakeExecutable(const std::filesystem::path& folder, std::string_view name);

    const std::filesystem::path& path() const { return path_; }

    void answer(std::string_view verb, std::vector<int> statuses, std::string_view output = {});
    // While nothing exists at `path`, runs of `verb` answer this instead (the queue of answer()
    // is left as it is).
    void answerWhileMissing(const std::filesystem::path& path, std::string_view verb, int status,
                            std::string_view output = {});

    // From now on every logged run ends in " [present]" or " [absent]": whether `path` existed
    // when the run began. Shows the order of file and service steps.
    void watch(const std::filesystem::path& path) const;

    // The runs so far, oldest first.
    std::vector<std::string> calls() const;
    void clearCalls() const;

private:
    std::filesystem::path path_;
    std::filesystem::path state_;
};

} // namespace meterly::testing
