#include "history/TranscriptScanner.hpp"

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace meterly::history {
namespace {

constexpr std::string_view kExtension = ".jsonl";

// Files read side by side before their entries are handed over, per worker: enough that the
// workers seldom wait for the slowest file of a window, few enough that a window of a large
// tree's entries stays small.
constexpr std::size_t kFilesPerWorkerAndWindow = 64;

// Path components as the scanner compares them: the leading "/" of an absolute path is one,
// empty and "." components are left out, and ".." takes the component before it away.
std::vector<std::string> components(const std::filesystem::path& path) {
    std::vector<std::string> out;
    const std::string& text = path.native();
    std::size_t pos = 0;
    if (!text.empty() && text.front() == '/') {
        out.emplace_back("/");
        pos = 1;
    }
    while (pos <= text.size()) {
        std::size_t end = text.find('/', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view part(text.data() + pos, end - pos);
        if (part == "..") {
            if (!out.empty() && out.back() != "/" && out.back() != "..") {
                out.pop_back();
            } else if (out.empty() || out.back() == "..") {
                out.emplace_back(part);
            }
        } else if (!part.empty() && part != ".") {
            out.emplace_back(part);
        }
        pos = end + 1;
    }
    return out;
}

struct DirectoryItem {
    std::string name;
    unsigned char type;
};

// The items of one folder, apart from hidden ones; the folder is closed again before the
// caller goes deeper, so deep trees do not hold a descriptor per level. The folder is read with
// getdents64 directly: opendir would add two system calls per folder.
std::vector<DirectoryItem> listVisible(const std::string& folder) {
    std::vector<DirectoryItem> items;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return items;
    }
    // glibc's dirent64 has the layout of the records the kernel fills in.
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (long pos = 0; pos < got;) {
            const auto* item = reinterpret_cast<const dirent64*>(buffer + pos);
            pos += item->d_reclen;
            if (item->d_name[0] == '.') {
                continue;
            }
            unsigned char type = item->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status {};
                if (::fstatat(fd, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    continue;
                }
                type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISREG(status.st_mode) ? DT_REG : DT_LNK;
            }
            if (type == DT_DIR || type == DT_REG) {
                items.push_back({item->d_name, type});
            }
        }
    }
    ::close(fd);
    return items;
}

std::string childPath(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

bool isTranscriptName(std::string_view name) {
    return name.size() > kExtension.size() && name.ends_with(kExtension);
}

// The transcripts in one project folder and below it. Links are neither followed nor read.
void collect(const std::string& folder, const std::string& projectID,
             std::vector<TranscriptScanner::DiscoveredFile>& out) {
    for (const auto& item : listVisible(folder)) {
        if (item.type == DT_DIR) {
            collect(childPath(folder, item.name), projectID, out);
        } else if (isTranscriptName(item.name)) {
            out.push_back({childPath(folder, item.name), projectID});
        }
    }
}

} // namespace

TranscriptScanner::TranscriptScanner(const std::filesystem::path& root, std::size_t workers)
    : root_(standardize(root)), parsers_(std::max<std::size_t>(workers, 1)),
      buffers_(parsers_.size()), pool_(std::make_unique<WorkerPool>(parsers_.size())) {}

std::size_t TranscriptScanner::defaultWorkers() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
}

std::filesystem::path TranscriptScanner::standardize(const std::filesystem::path& path) {
    std::string text;
    for (const auto& part : components(path)) {
        if (!text.empty() && text.back() != '/') {
            text += '/';
        }
        text += part;
    }
    if (text.empty() && !path.empty()) {
        return std::filesystem::path(".");
    }
    return text;
}

std::optional<std::string> TranscriptScanner::projectID(const std::filesystem::path& file,
                                                        const std::filesystem::path& root) {
    const auto fileParts = components(file);
    const auto rootParts = components(root);
    if (fileParts.size() < rootParts.size() + 2 ||
        !std::equal(rootParts.begin(), rootParts.end(), fileParts.begin())) {
        return std::nullopt;
    }
    return fileParts[rootParts.size()];
}

std::vector<TranscriptScanner::DiscoveredFile> TranscriptScanner::discover() const {
    // Files directly in the root belong to no project. The project folders are walked side by
    // side; the sort puts the result in one order however the walks finished.
    std::vector<std::string> projects;
    for (auto& item : listVisible(root_.native())) {
        if (item.type == DT_DIR) {
            projects.push_back(std::move(item.name));
        }
    }
    std::vector<std::vector<DiscoveredFile>> found(projects.size());
    pool_->run(projects.size(), [&](std::size_t index, std::size_t) {
        collect(childPath(root_.native(), projects[index]), projects[index], found[index]);
    });
    std::vector<DiscoveredFile> files;
    for (auto& part : found) {
        files.insert(files.end(), std::make_move_iterator(part.begin()),
                     std::make_move_iterator(part.end()));
    }
    std::sort(files.begin(), files.end(), [](const DiscoveredFile& a, const DiscoveredFile& b) {
        return a.url.native() < b.url.native();
    });
    return files;
}

TranscriptScanner::ScanResult TranscriptScanner::scan() {
    ScanResult scan;
    scan.summary = this->scan([&](std::vector<UsageEntry>& entries) {
        scan.entries.insert(scan.entries.end(), std::make_move_iterator(entries.begin()),
                            std::make_move_iterator(entries.end()));
    });
    return scan;
}

ScanSummary TranscriptScanner::scan(const EntrySink& sink) {
    const auto files = discover();

    // Cursors of files that are no longer discovered go; new files get a fresh cursor.
    std::unordered_map<std::string, std::unique_ptr<TranscriptFileCursor>> kept;
    std::unordered_map<std::string, core::Date> keptNewest;
    kept.reserve(files.size());
    std::vector<TranscriptFileCursor*> order;
    order.reserve(files.size());
    for (const auto& file : files) {
        auto found = cursors_.find(file.url.native());
        auto cursor = found != cursors_.end()
                          ? std::move(found->second)
                          : std::make_unique<TranscriptFileCursor>(
                                file.url, file.projectID, TranscriptFileCursor::kChunkSize,
                                TranscriptFileCursor::kMaxLineBytes);
        order.push_back(cursor.get());
        kept.emplace(file.url.native(), std::move(cursor));
        if (const auto newest = newest_.find(file.url.native()); newest != newest_.end()) {
            keptNewest.emplace(newest->first, newest->second);
        }
    }
    cursors_ = std::move(kept);
    newest_ = std::move(keptNewest);

    ScanSummary summary;
    summary.filesSeen = static_cast<std::int64_t>(files.size());
    std::vector<std::size_t> vanished;

    // Takes in one file's result, in path order.
    auto takeIn = [&](std::size_t index, FileReadResult result) {
        const std::string& path = files[index].url.native();
        if (result.vanished) {
            ++summary.filesVanished;
            vanished.push_back(index);
            return;
        }
        summary.filesReset += result.didReset ? 1 : 0;
        summary.filesWithNewData += result.bytesRead > 0 ? 1 : 0;
        summary.skippedLines += result.skippedLines;
        summary.oversizedLines += result.oversizedLines;
        summary.bytesRead += result.bytesRead;
        if (result.didReset) {
            newest_.erase(path);
        }
        for (const auto& entry : result.entries) {
            if (std::isfinite(entry.timestamp)) {
                auto [newest, added] = newest_.try_emplace(path, entry.timestamp);
                if (!added && entry.timestamp > newest->second) {
                    newest->second = entry.timestamp;
                }
            }
        }
        if (!result.entries.empty()) {
            sink(result.entries);
        }
    };

    // Files are read side by side, a window of them at a time, each file by one worker with its
    // own parser. After each window its results are handed over in path order on this thread
    // and let go: the outcome is that of reading the files in turn, no more than one window of
    // entries is held at once, and what the sink keeps is allocated by one thread only.
    const std::size_t window = kFilesPerWorkerAndWindow * pool_->size();
    std::vector<FileReadResult> results;
    try {
        for (std::size_t first = 0; first < order.size(); first += window) {
            const std::size_t count = std::min(window, order.size() - first);
            results.assign(count, FileReadResult{});
            pool_->run(count, [&](std::size_t index, std::size_t worker) {
                results[index] = order[first + index]->read(parsers_[worker], buffers_[worker]);
            });
            for (std::size_t index = 0; index < count; ++index) {
                takeIn(first + index, std::move(results[index]));
            }
        }
    } catch (...) {
        for (auto& buffer : buffers_) {
            buffer.release();
        }
        throw;
    }
    for (auto& buffer : buffers_) {
        buffer.release();
    }
    for (const auto index : vanished) {
        cursors_.erase(files[index].url.native());
        newest_.erase(files[index].url.native());
    }
    return summary;
}

std::optional<core::Date> TranscriptScanner::newestEntry() const {
    std::optional<core::Date> newest;
    for (const auto& [path, time] : newest_) {
        if (!newest || time > *newest) {
            newest = time;
        }
    }
    return newest;
}

} // namespace meterly::history
