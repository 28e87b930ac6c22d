#include "BenchSupport.hpp"

#include <cstdio>
#include <fstream>

namespace meterly::bench {

namespace {

// What identifies a generated tree: a tree on disk with another key is made afresh.
std::string shapeKey(const TreeShape& shape) {
    return std::to_string(shape.seed) + " " + std::to_string(shape.totalBytes) + " " +
           std::to_string(shape.files) + " " + std::to_string(shape.projects) + " " +
           std::to_string(shape.oversizedLines) + " " + std::to_string(shape.malformedShare) + " " +
           std::to_string(shape.multiLineShare) + " " + std::to_string(shape.textScale);
}

} // namespace

TreeTotals readTotals(const std::filesystem::path& root) {
    TreeTotals totals;
    std::ifstream in(root / "totals.txt");
    std::string name;
    long long value = 0;
    while (in >> name >> value) {
        if (name == "files")
            totals.files = value;
        if (name == "bytes")
            totals.bytes = value;
        if (name == "entries")
            totals.entries = value;
        if (name == "skippedLines")
            totals.skippedLines = value;
        if (name == "oversizedLines")
            totals.oversizedLines = value;
        if (name == "uniqueMessages")
            totals.uniqueMessages = value;
        if (name == "inputTokens")
            totals.uniqueUsage.inputTokens = value;
        if (name == "outputTokens")
            totals.uniqueUsage.outputTokens = value;
        if (name == "cacheCreationInputTokens")
            totals.uniqueUsage.cacheCreationInputTokens = value;
        if (name == "cacheReadInputTokens")
            totals.uniqueUsage.cacheReadInputTokens = value;
    }
    return totals;
}

TreeTotals ensureTree(const std::filesystem::path& root, const TreeShape& shape, bool fresh) {
    const auto keyFile = root / "shape.txt";
    std::string existing;
    if (std::ifstream in(keyFile); in) {
        std::getline(in, existing);
    }
    if (!fresh && existing == shapeKey(shape) && std::filesystem::exists(root / "totals.txt")) {
        return readTotals(root);
    }
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    const auto start = std::chrono::steady_clock::now();
    auto totals = TranscriptTreeGenerator(shape).generate(root);
    std::printf("generated %s: %lld files, %.1f MiB in %.2f s\n", root.c_str(),
                static_cast<long long>(totals.files), static_cast<double>(totals.bytes) / 1048576.0,
                secondsSince(start));
    std::ofstream(keyFile) << shapeKey(shape) << "\n";
    return totals;
}

} // namespace meterly::bench
