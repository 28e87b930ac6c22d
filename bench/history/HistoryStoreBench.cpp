// The history store end to end on two synthetic transcript trees of 1 GiB (one of a few hundred
// files with a long tail of sizes, one of some four thousand small files with many repeated
// lines): the first refreshAndReport (every file read from its first byte) next to `cat` reading
// the same files, a later refreshAndReport after a few appended lines, the peak resident memory of
// a process that does only that, and the time of a report over the 30 days of entries it holds.
// Every report is checked against the totals the generator wrote. The data lives outside the
// repository (default /tmp/meterly-history-bench, or the first argument).
//
//   history_store_bench [--fresh] [folder]     the figures above
//   history_store_bench --report <projects>    the report of any projects folder as JSON
#include "BenchSupport.hpp"
#include "history/UsageHistoryStore.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace meterly;
using namespace meterly::bench;

namespace {

constexpr core::Seconds retention = 2592000;

// Runs a program and waits for it; its resource use comes back in `usage`.
int run(std::vector<std::string> args, rusage* usage = nullptr, bool quiet = false) {
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        if (quiet) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ignored{};
    ::wait4(child, &status, 0, usage ? usage : &ignored);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

double timeCat(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> args{"cat"};
    for (const auto& file : files) {
        args.push_back(file.string());
    }
    const auto start = std::chrono::steady_clock::now();
    if (run(args, nullptr, true) != 0) {
        std::fprintf(stderr, "cat failed\n");
        std::exit(1);
    }
    return secondsSince(start);
}

// A "Vm..." figure of /proc/self/status in MiB.
double statusMiB(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
        }
    }
    return 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool expectEqual(const char* what, long long found, long long expected) {
    if (found == expected) {
        return true;
    }
    std::fprintf(stderr, "%s: found %lld, expected %lld\n", what, found, expected);
    return false;
}

bool checkReport(const char* what, const history::UsageHistoryReport& report,
                 const history::ScanSummary& summary, const TreeTotals& read,
                 const TreeTotals& all) {
    bool ok = true;
    auto equal = [&](const char* field, long long found, long long expected) {
        ok = expectEqual((std::string(what) + ": " + field).c_str(), found, expected) && ok;
    };
    equal("responses", report.responseCount, all.uniqueMessages);
    equal("input tokens", report.total.inputTokens, all.uniqueUsage.inputTokens);
    equal("output tokens", report.total.outputTokens, all.uniqueUsage.outputTokens);
    equal("cache creation", report.total.cacheCreationInputTokens,
          all.uniqueUsage.cacheCreationInputTokens);
    equal("cache reads", report.total.cacheReadInputTokens, all.uniqueUsage.cacheReadInputTokens);
    equal("new entries", summary.newEntries, read.uniqueMessages);
    equal("entries read", summary.newEntries + summary.duplicateLines, read.entries);
    equal("skipped lines", summary.skippedLines, read.skippedLines);
    equal("oversized lines", summary.oversizedLines, read.oversizedLines);
    equal("bytes", summary.bytesRead, read.bytes);
    return ok;
}

// One process that does what the app does with a fresh store, so that its peak memory is the
// store's alone.
int measure(const std::filesystem::path& root, bool withAppend) {
    const TreeTotals expected = readTotals(root);
    history::UsageHistoryStore store(root, retention, "/home/me");
    const core::Date start = 1796000000;

    auto begin = std::chrono::steady_clock::now();
    auto report = store.refreshAndReport(start + 31 * 86400.0);
    const double first = secondsSince(begin);
    bool ok = checkReport("first refresh", report, store.diagnostics(), expected, expected);
    std::printf("first refreshAndReport: %.3f s (%lld responses, %zu sessions, %zu projects); "
                "resident afterwards %.1f MiB, peak %.1f MiB\n",
                first, static_cast<long long>(report.responseCount), report.sessions.size(),
                report.projects.size(), statusMiB("VmRSS"), statusMiB("VmHWM"));

    const core::Date now = report.latestActivity.value_or(start);
    std::vector<double> reportTimes;
    history::UsageHistoryReport last;
    for (int round = 0; round < 200; ++round) {
        begin = std::chrono::steady_clock::now();
        last = store.report(now);
        reportTimes.push_back(secondsSince(begin));
    }
    const auto window = store.usage(retention, now);
    std::printf("report over the 30 days of entries held (%lld retained responses, %lld in the "
                "last seven days): median %.2f ms, worst %.2f ms\n",
                static_cast<long long>(window.responseCount),
                static_cast<long long>(last.lastSevenDays.responseCount), median(reportTimes) * 1e3,
                *std::max_element(reportTimes.begin(), reportTimes.end()) * 1e3);

    if (withAppend) {
        // A few lines appended to three files, then the files put back as they were.
        const auto files = TranscriptTreeGenerator::transcriptFiles(root);
        std::vector<std::uintmax_t> sizes;
        for (std::size_t i = 0; i < 3 && i < files.size(); ++i) {
            sizes.push_back(std::filesystem::file_size(files[i]));
        }
        const auto appended = TranscriptTreeGenerator(largeTreeShape()).append(root, 3, 5, 4242);
        TreeTotals all = expected;
        all.uniqueMessages += appended.uniqueMessages;
        all.uniqueUsage += appended.uniqueUsage;
        begin = std::chrono::steady_clock::now();
        report = store.refreshAndReport(now);
        const double later = secondsSince(begin);
        ok = checkReport("refresh after an append", report, store.diagnostics(), appended, all) &&
             ok;
        std::printf("refreshAndReport after appending %lld lines to 3 files: %.2f ms\n",
                    static_cast<long long>(appended.entries + appended.skippedLines), later * 1e3);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            std::filesystem::resize_file(files[i], sizes[i]);
        }
    }
    return ok ? 0 : 1;
}

// cat of the tree's files next to three measuring processes (the last one also appends), and
// the peak resident memory of those processes. Returns the number of processes that failed.
int benchTree(const char* name, const std::filesystem::path& root, const TreeShape& shape,
              bool fresh) {
    ensureTree(root, shape, fresh);
    const auto files = TranscriptTreeGenerator::transcriptFiles(root);
    const TreeTotals totals = readTotals(root);
    std::printf("\n%s tree: %.2f GiB in %zu files, %lld response lines, %.1f%% of them repeated\n",
                name, static_cast<double>(totals.bytes) / (1ull << 30), files.size(),
                static_cast<long long>(totals.entries),
                100.0 * static_cast<double>(totals.entries - totals.uniqueMessages) /
                    static_cast<double>(std::max<std::int64_t>(totals.entries, 1)));
    timeCat(files); // into the page cache
    std::vector<double> catTimes;
    for (int round = 0; round < 5; ++round) {
        catTimes.push_back(timeCat(files));
    }
    std::printf("cat: median %.3f s, best %.3f s\n", median(catTimes),
                *std::min_element(catTimes.begin(), catTimes.end()));

    const std::string self = "/proc/self/exe";
    std::string program(4096, '\0');
    const auto length = ::readlink(self.c_str(), program.data(), program.size() - 1);
    program.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    int failures = 0;
    long peak = 0;
    for (int round = 0; round < 3; ++round) {
        rusage usage{};
        std::vector<std::string> args{program, "--measure", root.string()};
        if (round == 2) {
            args.push_back("--append");
        }
        failures += run(args, &usage) != 0;
        peak = std::max(peak, usage.ru_maxrss);
    }
    std::printf("peak resident memory of a measuring process: %.1f MiB\n",
                static_cast<double>(peak) / 1024.0);
    return failures;
}

// A heavier history than the tree's: `count` responses spread evenly over 30 days.
void syntheticReport(int count) {
    history::UsageHistoryAggregator aggregator(retention, history::ProjectRootResolver("/home/me"));
    const core::Date end = 1796000000 + retention;
    std::vector<history::UsageEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    const char* models[] = {"claude-opus", "claude-sonnet", "claude-haiku", "other"};
    for (int i = 0; i < count; ++i) {
        history::UsageEntry entry;
        entry.timestamp = end - retention * (static_cast<double>(i) / count);
        entry.sessionID = "session-" + std::to_string(i % 5000);
        entry.projectID = "-home-me-src-project-" + std::to_string(i % 50);
        entry.projectPath = "/home/me/src/project-" + std::to_string(i % 50) + "/sub";
        entry.messageID = "msg_" + std::to_string(i);
        entry.model = models[i % 4];
        entry.usage = {i % 7, i % 300, i % 5000, i % 40000};
        entries.push_back(std::move(entry));
    }
    aggregator.ingest(entries);
    entries.clear();
    std::vector<double> times;
    for (int round = 0; round < 50; ++round) {
        const auto begin = std::chrono::steady_clock::now();
        const auto report = aggregator.report(end);
        times.push_back(secondsSince(begin));
    }
    std::printf("report over 30 days of %d synthetic responses (%zu retained): median %.2f ms, "
                "worst %.2f ms\n",
                count, aggregator.retainedCount(), median(times) * 1e3,
                *std::max_element(times.begin(), times.end()) * 1e3);
}

nlohmann::ordered_json usageJSON(const history::TokenUsage& usage) {
    return {{"inputTokens", usage.inputTokens},
            {"outputTokens", usage.outputTokens},
            {"cacheCreationInputTokens", usage.cacheCreationInputTokens},
            {"cacheReadInputTokens", usage.cacheReadInputTokens},
            {"totalTokens", usage.totalTokens()}};
}

nlohmann::ordered_json windowJSON(const history::WindowUsage& window) {
    return {{"since", window.since},
            {"until", window.until},
            {"responseCount", window.responseCount},
            {"usage", usageJSON(window.usage)},
            {"isTruncated", window.isTruncated}};
}

// The report of a projects folder, to be checked by eye.
int printReport(const std::filesystem::path& root) {
    const char* home = std::getenv("HOME");
    history::UsageHistoryStore store(root, retention, home ? home : "");
    const auto begin = std::chrono::steady_clock::now();
    const auto report = store.refreshAndReport(core::systemNow());
    const double seconds = secondsSince(begin);
    const auto summary = store.diagnostics();

    nlohmann::ordered_json out;
    out["root"] = store.root().string();
    out["seconds"] = seconds;
    out["scan"] = {
        {"filesSeen", summary.filesSeen},           {"newEntries", summary.newEntries},
        {"duplicateLines", summary.duplicateLines}, {"skippedLines", summary.skippedLines},
        {"oversizedLines", summary.oversizedLines}, {"bytesRead", summary.bytesRead}};
    out["responseCount"] = report.responseCount;
    out["total"] = usageJSON(report.total);
    out["latestActivity"] =
        report.latestActivity ? nlohmann::ordered_json(*report.latestActivity) : nullptr;
    out["latestModel"] = report.latestModel ? nlohmann::ordered_json(*report.latestModel) : nullptr;
    out["lastFiveHours"] = windowJSON(report.lastFiveHours);
    out["today"] = windowJSON(report.today);
    out["lastSevenDays"] = windowJSON(report.lastSevenDays);
    for (const auto& project : report.topProjectsToday) {
        out["topProjectsToday"].push_back(
            {{"displayName", project.displayName},
             {"projectID", project.projectID},
             {"projectPath",
              project.projectPath ? nlohmann::ordered_json(*project.projectPath) : nullptr},
             {"usage", usageJSON(project.usage)}});
    }
    for (std::size_t i = 0; i < report.projects.size() && i < 10; ++i) {
        const auto& project = report.projects[i];
        out["topProjects"].push_back({{"displayName", project.displayName()},
                                      {"projectID", project.projectID},
                                      {"sessionCount", project.sessionCount},
                                      {"responseCount", project.responseCount},
                                      {"usage", usageJSON(project.usage)}});
    }
    for (const auto& model : report.modelsThisWeek) {
        out["modelsThisWeek"].push_back({{"model", model.model},
                                         {"responseCount", model.responseCount},
                                         {"usage", usageJSON(model.usage)}});
    }
    for (const auto& model : report.models) {
        out["models"].push_back({{"model", model.model},
                                 {"responseCount", model.responseCount},
                                 {"usage", usageJSON(model.usage)}});
    }
    for (const auto& bucket : report.requestsByHour) {
        out["requestsByHour"].push_back({{"start", bucket.start},
                                         {"responseCount", bucket.responseCount},
                                         {"totalTokens", bucket.totalTokens}});
    }
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path base = "/tmp/meterly-history-bench";
    bool fresh = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--report" && i + 1 < argc) {
            return printReport(argv[i + 1]);
        }
        if (arg == "--measure" && i + 1 < argc) {
            return measure(argv[i + 1], i + 2 < argc && std::string(argv[i + 2]) == "--append");
        }
        if (arg == "--fresh") {
            fresh = true;
        } else {
            base = arg;
        }
    }

    int failures = 0;
    failures += benchTree("large", base / "large", largeTreeShape(), fresh);
    failures += benchTree("small files", base / "small-files", smallFilesTreeShape(), fresh);
    syntheticReport(1000000);
    std::printf("load average: ");
    std::fflush(stdout);
    run({"cat", "/proc/loadavg"});
    return failures == 0 ? 0 : 1;
}
