// Scans synthetic transcript trees and prints how long it takes: a first scan of a large tree
// next to `cat` reading the same files, a scan that finds nothing new among 2,000 files, and
// scans after appends of different sizes. Every scan is checked against the totals the
// generator wrote. The data lives in a folder outside the repository (default
// /work/tmp/meterly-transcript-bench, or the first argument).
#include "BenchSupport.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace meterly;
using namespace meterly::bench;

namespace {

bool check(const char* what, const TreeTotals& found, const TreeTotals& expected) {
    if (found == expected) {
        return true;
    }
    std::fprintf(stderr, "%s: totals differ\nfound:\n%s\nexpected:\n%s\n", what,
                 found.describe().c_str(), expected.describe().c_str());
    return false;
}

// Runs `cat` over the files with its output going to /dev/null.
double timeCat(const std::vector<std::filesystem::path>& files) {
    std::vector<char*> argv;
    std::string cat = "cat";
    argv.push_back(cat.data());
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const auto& file : files) {
        paths.push_back(file.string());
    }
    for (auto& path : paths) {
        argv.push_back(path.data());
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execvp("cat", argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cat failed\n");
        std::exit(1);
    }
    return seconds;
}

// The machine is shared: the load average tells how far other work may have skewed the figures.
void printLoad(const char* when) {
    std::ifstream in("/proc/loadavg");
    std::string one;
    std::string five;
    in >> one >> five;
    std::printf("load average %s: %s (1 min), %s (5 min)\n", when, one.c_str(), five.c_str());
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A first scan of a large tree, next to cat reading the same files.
bool largeTree(const std::filesystem::path& base, bool fresh) {
    bool ok = true;
    const TreeShape large = largeTreeShape();
    const auto largeRoot = base / "large";
    const auto largeTotals = ensureTree(largeRoot, large, fresh);
    const auto largeFiles = TranscriptTreeGenerator::transcriptFiles(largeRoot);
    timeCat(largeFiles); // into the page cache
    std::vector<double> catTimes;
    std::vector<double> scanTimes;
    for (int round = 0; round < 5; ++round) {
        catTimes.push_back(timeCat(largeFiles));
        history::TranscriptScanner scanner(largeRoot);
        const auto start = std::chrono::steady_clock::now();
        const auto scan = scanner.scan();
        scanTimes.push_back(secondsSince(start));
        if (round == 0) {
            TreeTotals found = totalsOf(scan);
            found.files = scan.summary.filesSeen;
            ok = check("first scan", found, largeTotals) && ok;
        }
    }
    const double gib = static_cast<double>(largeTotals.bytes) / (1ull << 30);
    std::printf(
        "first scan of %.2f GiB in %lld files (%lld entries): scan median %.3f s (best "
        "%.3f s), cat median %.3f s (best %.3f s), scan/cat %.2f (best/best %.2f)\n",
        gib, static_cast<long long>(largeTotals.files), static_cast<long long>(largeTotals.entries),
        median(scanTimes), *std::min_element(scanTimes.begin(), scanTimes.end()), median(catTimes),
        *std::min_element(catTimes.begin(), catTimes.end()), median(scanTimes) / median(catTimes),
        *std::min_element(scanTimes.begin(), scanTimes.end()) /
            *std::min_element(catTimes.begin(), catTimes.end()));

    // For comparison: the same scan on the calling thread alone.
    history::TranscriptScanner alone(largeRoot, 1);
    const auto start = std::chrono::steady_clock::now();
    const auto scan = alone.scan();
    const double seconds = secondsSince(start);
    TreeTotals found = totalsOf(scan);
    found.files = scan.summary.filesSeen;
    ok = check("first scan on one thread", found, largeTotals) && ok;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("first scan on one thread: %.3f s (%.2f GB/s); peak memory of the process so "
                "far %.0f MiB\n",
                seconds, static_cast<double>(largeTotals.bytes) / seconds / 1e9,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path base = "/work/tmp/meterly-transcript-bench";
    bool fresh = false;
    bool large = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fresh") {
            fresh = true;
        } else if (arg == "--no-large") {
            large = false;
        } else {
            base = arg;
        }
    }
    bool ok = true;
    printLoad("before");
    if (large) {
        ok = largeTree(base, fresh);
    }

    // A scan that finds nothing new among 2,000 files, then appends of growing size.
    // A scan that finds nothing new among 2,000 files, then appends of growing size.
    TreeShape many;
    many.seed = 11;
    many.totalBytes = 64ull << 20;
    many.files = 2000;
    many.projects = 60;
    const auto manyRoot = base / "many";
    const auto manyTotals = ensureTree(manyRoot, many, true);
    history::TranscriptScanner scanner(manyRoot);
    {
        const auto scan = scanner.scan();
        TreeTotals found = totalsOf(scan);
        found.files = scan.summary.filesSeen;
        ok = check("first scan of 2,000 files", found, manyTotals) && ok;
    }
    std::vector<double> idleTimes;
    for (int round = 0; round < 30; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const auto scan = scanner.scan();
        idleTimes.push_back(secondsSince(start));
        if (scan.summary.bytesRead != 0 || !scan.entries.empty() ||
            scan.summary.filesSeen != manyTotals.files) {
            std::fprintf(stderr, "a scan without changes read something\n");
            ok = false;
        }
    }
    std::vector<double> discoveryTimes;
    for (int round = 0; round < 30; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const auto files = scanner.discover();
        discoveryTimes.push_back(secondsSince(start));
    }
    std::printf("scan with nothing new among %lld files: median %.2f ms, worst %.2f ms "
                "(discovery alone: median %.2f ms)\n",
                static_cast<long long>(manyTotals.files), median(idleTimes) * 1e3,
                *std::max_element(idleTimes.begin(), idleTimes.end()) * 1e3,
                median(discoveryTimes) * 1e3);

    struct Append {
        int files;
        int lines;
    };
    TranscriptTreeGenerator generator(many);
    std::uint64_t seed = 100;
    for (const Append append : {Append{1, 3}, Append{10, 5}, Append{100, 10}, Append{100, 100}}) {
        const auto appended = generator.append(manyRoot, append.files, append.lines, ++seed);
        const auto start = std::chrono::steady_clock::now();
        const auto scan = scanner.scan();
        const double seconds = secondsSince(start);
        ok = check("scan after an append", totalsOf(scan), appended) && ok;
        std::printf("append of %d lines to %d files (%.3f MiB): scan %.2f ms, %.2f ms above the "
                    "idle scan\n",
                    append.lines, append.files, static_cast<double>(appended.bytes) / 1048576.0,
                    seconds * 1e3, (seconds - median(idleTimes)) * 1e3);
    }
    printLoad("after");
    return ok ? 0 : 1;
}
