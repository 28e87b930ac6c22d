#include "state/DefaultsFile.hpp"

#include "config/FileOps.hpp"
#include "core/FileDescriptor.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace meterly::state {
namespace {

using nlohmann::json;

// Doubles that JSON has no number for are written as texts.
json encodeDouble(double value) {
    if (std::isfinite(value)) {
        return value;
    }
    if (std::isnan(value)) {
        return "nan";
    }
    return value > 0 ? "inf" : "-inf";
}

std::optional<double> decodeDouble(const json& value) {
    if (value.is_number()) {
        return value.get<double>();
    }
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "nan") {
            return std::numeric_limits<double>::quiet_NaN();
        }
        if (text == "inf" || text == "-inf") {
            const double infinity = std::numeric_limits<double>::infinity();
            return text == "inf" ? infinity : -infinity;
        }
    }
    return std::nullopt;
}

json encode(const PreferenceValue& value) {
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>) {
                return std::isfinite(v) ? json(v) : json{{"double", encodeDouble(v)}};
            } else if constexpr (std::is_same_v<T, PreferenceDate>) {
                return json{{"date", encodeDouble(v.secondsSince1970)}};
            } else {
                return v;
            }
        },
        value);
}

// The stored value, or none for a shape this store does not write (left alone in the file).
std::optional<PreferenceValue> decode(const json& value) {
    switch (value.type()) {
    case json::value_t::boolean:
        return value.get<bool>();
    case json::value_t::number_integer:
        return value.get<std::int64_t>();
    case json::value_t::number_unsigned: {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(number);
        }
        return static_cast<double>(number);
    }
    case json::value_t::number_float:
        return value.get<double>();
    case json::value_t::string:
        return value.get<std::string>();
    case json::value_t::object:
        if (value.size() == 1 && value.contains("date")) {
            if (const auto seconds = decodeDouble(value["date"])) {
                return PreferenceDate{*seconds};
            }
        } else if (value.size() == 1 && value.contains("double")) {
            if (const auto number = decodeDouble(value["double"])) {
                return *number;
            }
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

// The file as found: its object (empty when the file is missing), or why it is not one.
struct FileContents {
    json object = json::object();
    std::optional<std::string> corruption;
};

// Throws std::system_error when the file exists but cannot be read.
FileContents readFile(const std::filesystem::path& path) {
    std::string bytes;
    try {
        bytes = config::fileops::readAll(path);
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory) {
            return {};
        }
        throw;
    }
    FileContents contents;
    try {
        contents.object = json::parse(bytes);
        if (!contents.object.is_object()) {
            contents.corruption =
                std::string("it holds a JSON ") + contents.object.type_name() + ", not an object";
            contents.object = json::object();
        }
    } catch (const json::exception& error) {
        contents.corruption = error.what();
        contents.object = json::object();
    }
    return contents;
}

// An exclusive flock on "<file>.lock", held for the life of the object.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& file)
        : fd_(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_.get() < 0) {
            throw std::system_error(errno, std::generic_category(), "open the lock file");
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "lock");
            }
        }
    }

private:
    core::FileDescriptor fd_; // closing it releases the lock
};

// Renames the corrupt file to a name of its own, never over an earlier one. Call under the lock.
bool moveAside(const std::filesystem::path& path, const std::string& reason,
               const DefaultsFile::Log& log) {
    const std::string base = path.string() + ".corrupt-" + std::to_string(std::time(nullptr));
    std::string aside = base;
    for (int attempt = 2; attempt < 100; ++attempt) {
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            log("meterly: the preferences file " + path.string() + " is not valid (" + reason +
                "); moved it aside to " + aside + " and started afresh");
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
        aside = base + "-" + std::to_string(attempt);
    }
    log("meterly: the preferences file " + path.string() + " is not valid (" + reason +
        ") and could not be moved aside: " + std::strerror(errno) + "; it is left as it is");
    return false;
}

void createFolder(const std::filesystem::path& folder) {
    if (folder.empty() || config::fileops::exists(folder)) {
        return;
    }
    std::filesystem::create_directories(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw std::system_error(errno, std::generic_category(), "create " + folder.string());
    }
}

} // namespace

std::filesystem::path DefaultsFile::standardPath(const core::EnvironmentLookup& environment,
                                                 const std::filesystem::path& home) {
    const auto configHome = environment("XDG_CONFIG_HOME");
    const std::filesystem::path base =
        configHome && !configHome->empty() && std::filesystem::path(*configHome).is_absolute()
            ? std::filesystem::path(*configHome)
            : home / ".config";
    return base / "meterly" / "defaults.json";
}

DefaultsFile::DefaultsFile(std::filesystem::path path, Log log)
    : path_(std::move(path)), log_(std::move(log)) {
    if (!log_) {
        log_ = [](const std::string& line) { std::cerr << (line + "\n") << std::flush; };
    }
    try {
        auto contents = readFile(path_);
        if (contents.corruption) {
            // Look again under the lock: another process may have just replaced it.
            FileLock lock(path_);
            contents = readFile(path_);
            if (contents.corruption) {
                moveAside(path_, *contents.corruption, log_);
            }
        }
        for (const auto& [key, value] : contents.object.items()) {
            if (auto decoded = decode(value)) {
                values_.emplace(key, std::move(*decoded));
            }
        }
    } catch (const std::exception& error) {
        log_("meterly: could not read the preferences file " + path_.string() + ": " +
             error.what());
    }
    writer_ = std::thread([this] { writerLoop(); });
}

DefaultsFile::~DefaultsFile() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_ = true;
    }
    wakeWriter_.notify_one();
    writer_.join();
}

std::optional<PreferenceValue> DefaultsFile::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void DefaultsFile::set(std::optional<PreferenceValue> value, std::string_view key) {
    {
        std::lock_guard lock(mutex_);
        if (value) {
            values_.insert_or_assign(std::string(key), *value);
        } else if (const auto it = values_.find(key); it != values_.end()) {
            values_.erase(it);
        }
        pending_.insert_or_assign(std::string(key), std::move(value));
        wake_ = true;
    }
    wakeWriter_.notify_one();
}

bool DefaultsFile::flush() {
    std::unique_lock lock(mutex_);
    if (pending_.empty() && !writing_) {
        return true;
    }
    // A write already under way may not hold every change; only attempts from the next one on
    // count as failures of this flush.
    const std::uint64_t firstCounted = attempts_ + 1;
    wake_ = true;
    wakeWriter_.notify_one();
    written_.wait(lock, [&] {
        return (pending_.empty() && !writing_) || lastFailedAttempt_ >= firstCounted;
    });
    return pending_.empty() && !writing_;
}

void DefaultsFile::writerLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        wakeWriter_.wait(lock, [this] { return wake_ || stopping_; });
        wake_ = false;
        if (pending_.empty()) {
            if (stopping_) {
                return;
            }
            continue;
        }
        Changes batch = std::exchange(pending_, {});
        writing_ = true;
        const std::uint64_t attempt = ++attempts_;
        lock.unlock();
        const bool ok = write(batch);
        lock.lock();
        writing_ = false;
        if (!ok) {
            // Kept for the next attempt, unless a newer change to the same key came meanwhile.
            for (auto& [key, value] : batch) {
                pending_.try_emplace(key, std::move(value));
            }
            lastFailedAttempt_ = attempt;
        }
        written_.notify_all();
        if (!ok && stopping_) {
            return;
        }
    }
}

bool DefaultsFile::write(const Changes& changes) {
    try {
        createFolder(path_.parent_path());
        FileLock lock(path_);
        auto contents = readFile(path_);
        if (contents.corruption && !moveAside(path_, *contents.corruption, log_)) {
            return false;
        }
        for (const auto& [key, value] : changes) {
            if (value) {
                contents.object[key] = encode(*value);
            } else {
                contents.object.erase(key);
            }
        }
        config::fileops::writeAtomically(
            path_, contents.object.dump(2, ' ', false, json::error_handler_t::replace) + "\n",
            0600);
        return true;
    } catch (const std::exception& error) {
        log_("meterly: could not save the preferences to " + path_.string() + ": " + error.what());
        return false;
    }
}

} // namespace meterly::state
