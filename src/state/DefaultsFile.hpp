#pragma once

#include "core/Environment.hpp"
#include "state/UpdateCheckStore.hpp"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace meterly::state {

// The app's preferences: one JSON object in a file, each key holding a Boolean, an integer, a
// double, a date or a text, each read back with the type it was stored with:
//
//   {"a": true, "b": 3, "c": 3.0, "d": {"date": 1800000000.5}, "e": "text",
//    "f": {"double": "nan"}}
//
// Reads are served from memory. Each change is written by a thread of the store's own, as a
// read-modify-write of the file under an advisory lock (flock on "<file>.lock"): the file as it
// is on disk, with only the keys this process changed replaced, goes back atomically (a temporary
// file renamed over it). So two processes that share the file (the old and the new app during a
// relaunch) never lose each other's keys. Keys this store does not understand stay in the file.
//
// A file that is not a JSON object is moved aside to "<file>.corrupt-<seconds since 1970>" with a
// line on the log, never silently overwritten. A write that fails is logged and kept; it is tried
// again with the next change, the next flush() and on destruction.
class DefaultsFile final : public UpdateCheckStore {
public:
    // Receives one line for each file set aside and each failed read or write (from any thread).
    using Log = std::function<void(const std::string& line)>;

    // $XDG_CONFIG_HOME/meterly/defaults.json when that variable holds an absolute path, else
    // <home>/.config/meterly/defaults.json.
    static std::filesystem::path standardPath(const core::EnvironmentLookup& environment,
                                              const std::filesystem::path& home);

    // Reads the file at `path` (blocking: construct before the event loop starts, or on a
    // worker). A missing file is an empty store. `log` defaults to standard error.
    explicit DefaultsFile(std::filesystem::path path, Log log = {});
    // Writes what is still pending before returning, so no change is lost at exit.
    ~DefaultsFile() override;
    DefaultsFile(const DefaultsFile&) = delete;
    DefaultsFile& operator=(const DefaultsFile&) = delete;

    std::optional<PreferenceValue> object(std::string_view key) const override;
    // Stores the change in memory at once and hands it to the writer thread.
    void set(std::optional<PreferenceValue> value, std::string_view key) override;

    // Blocks until every change made so far is written; false when the last write failed.
    bool flush();

    const std::filesystem::path& path() const { return path_; }

private:
    using Changes = std::map<std::string, std::optional<PreferenceValue>, std::less<>>;
    void writerLoop();
    bool write(const Changes& changes);

    std::filesystem::path path_;
    Log log_;
    mutable std::mutex mutex_;
    std::map<std::string, PreferenceValue, std::less<>> values_;
    Changes pending_;
    bool wake_ = false;
    bool writing_ = false;
    bool stopping_ = false;
    std::uint64_t attempts_ = 0;          // writes begun so far
    std::uint64_t lastFailedAttempt_ = 0; // the number of the last one that failed
    std::condition_variable wakeWriter_;
    std::condition_variable written_;
    std::thread writer_;
};

} // namespace meterly::state
