#include "history/TranscriptScanner.hpp"

#include "support/TempDir.hpp"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace meterly::history {
namespace {

using meterly::testing::TempDir;
using Ids = std::vector<std::string>;

std::string assistant(const std::string& id) {
    return R"({"type":"assistant","timestamp":"2025-06-01T12:34:56Z","sessionId":"s",)"
           R"("message":{"id":")" +
           id + R"(","usage":{"input_tokens":1}}})" + "\n";
}

const std::string kUser = R"({"type":"user","message":{"role":"user","content":"hi"}})"
                          "\n";

Ids ids(const std::vector<UsageEntry>& entries) {
    Ids out;
    for (const auto& entry : entries) {
        out.push_back(entry.projectID + ":" + entry.messageID);
    }
    return out;
}

void append(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

// The projects root with transcripts where they belong and things that only look like them.
class TranscriptScannerTest : public ::testing::Test {
protected:
    TranscriptScannerTest() {
        dir_.write("root/b/1.jsonl", assistant("b1") + kUser);
        dir_.write("root/a/2.jsonl", assistant("a1") + assistant("a2"));
        dir_.write("root/a/inner/sub/x.jsonl", assistant("ax"));
        dir_.write("root/c/dir.jsonl/y.jsonl", assistant("cy"));
        dir_.write("root/a-b/z.jsonl", assistant("abz"));
        // Not transcripts.
        dir_.write("root/direct.jsonl", assistant("no1"));
        dir_.write("root/c/UPPER.JSONL", assistant("no2"));
        dir_.write("root/c/.hidden.jsonl", assistant("no3"));
        dir_.write("root/.hidden/p/h.jsonl", assistant("no4"));
        dir_.write("root/c/.git/z.jsonl", assistant("no5"));
        dir_.write("root/c/notes.txt", assistant("no6"));
        dir_.write("root/c/.jsonl", assistant("no7"));
        std::filesystem::create_symlink("../a/2.jsonl", root() / "c" / "link.jsonl");
        std::filesystem::create_directory_symlink("../a", root() / "c" / "linked");
        ::mkfifo((root() / "c" / "fifo.jsonl").c_str(), 0600);
    }

    std::filesystem::path root() const { return dir_.path() / "root"; }

    TempDir dir_;
};

TEST_F(TranscriptScannerTest, DiscoversTranscriptsSortedByPath) {
    const TranscriptScanner scanner(root() / "a" / ".." / "." / "");
    EXPECT_EQ(scanner.root(), root());
    const std::vector<TranscriptScanner::DiscoveredFile> expected = {
        {root() / "a-b/z.jsonl", "a-b"},       {root() / "a/2.jsonl", "a"},
        {root() / "a/inner/sub/x.jsonl", "a"}, {root() / "b/1.jsonl", "b"},
        {root() / "c/dir.jsonl/y.jsonl", "c"},
    };
    EXPECT_EQ(scanner.discover(), expected);
}

TEST_F(TranscriptScannerTest, ReadsOnlyWhatIsNew) {
    TranscriptScanner scanner(root());
    auto scan = scanner.scan();
    EXPECT_EQ(ids(scan.entries), (Ids{"a-b:abz", "a:a1", "a:a2", "a:ax", "b:b1", "c:cy"}));
    ScanSummary expected;
    expected.filesSeen = 5;
    expected.filesWithNewData = 5;
    expected.skippedLines = 1;
    expected.bytesRead = 0;
    for (const auto& file : scanner.discover()) {
        expected.bytesRead += static_cast<std::int64_t>(std::filesystem::file_size(file.url));
    }
    EXPECT_EQ(scan.summary, expected);
    EXPECT_EQ(scanner.cursorCount(), 5u);

    // Nothing changed.
    scan = scanner.scan();
    EXPECT_TRUE(scan.entries.empty());
    expected = ScanSummary{};
    expected.filesSeen = 5;
    EXPECT_EQ(scan.summary, expected);

    // One line appended to one file.
    append(root() / "b/1.jsonl", assistant("b2"));
    scan = scanner.scan();
    EXPECT_EQ(ids(scan.entries), (Ids{"b:b2"}));
    EXPECT_EQ(scan.summary.filesWithNewData, 1);
    EXPECT_EQ(scan.summary.bytesRead, static_cast<std::int64_t>(assistant("b2").size()));

    // One file truncated, another deleted: the deleted one loses its cursor without counting
    // as vanished.
    dir_.write("root/a/2.jsonl", assistant("a3"));
    std::filesystem::remove(root() / "a-b/z.jsonl");
    scan = scanner.scan();
    EXPECT_EQ(ids(scan.entries), (Ids{"a:a3"}));
    EXPECT_EQ(scan.summary.filesSeen, 4);
    EXPECT_EQ(scan.summary.filesReset, 1);
    EXPECT_EQ(scan.summary.filesVanished, 0);
    EXPECT_EQ(scanner.cursorCount(), 4u);

    // A file that comes back is read from its start.
    dir_.write("root/a-b/z.jsonl", assistant("abz"));
    scan = scanner.scan();
    EXPECT_EQ(ids(scan.entries), (Ids{"a-b:abz"}));
    EXPECT_EQ(scan.summary.filesReset, 0);

    // The root is gone.
    std::filesystem::remove_all(root());
    scan = scanner.scan();
    EXPECT_TRUE(scan.entries.empty());
    EXPECT_EQ(scan.summary, ScanSummary{});
    EXPECT_EQ(scanner.cursorCount(), 0u);
}

TEST_F(TranscriptScannerTest, MissingRootOrRootThatIsAFile) {
    for (const auto& path : {dir_.path() / "nowhere", root() / "direct.jsonl"}) {
        TranscriptScanner scanner(path);
        const auto scan = scanner.scan();
        EXPECT_TRUE(scan.entries.empty());
        EXPECT_EQ(scan.summary, ScanSummary{});
        EXPECT_EQ(scanner.cursorCount(), 0u);
    }
}

TEST_F(TranscriptScannerTest, ReadingSideBySideGivesTheSameResultAsInTurn) {
    // Enough files of different lengths that the workers finish out of order.
    for (int project = 0; project < 6; ++project) {
        for (int file = 0; file < 9; ++file) {
            std::string text;
            for (int line = 0; line < (project * 7 + file * 13) % 40; ++line) {
                text += line % 3 == 0
                            ? kUser
                            : assistant("p" + std::to_string(project) + "f" + std::to_string(file) +
                                        "l" + std::to_string(line));
            }
            dir_.write("root/p" + std::to_string(project) + "/f" + std::to_string(file) + ".jsonl",
                       text);
        }
    }
    TranscriptScanner inTurn(root(), 1);
    TranscriptScanner sideBySide(root(), 4);
    TranscriptScanner fileByFile(root(), 4);
    for (int round = 0; round < 2; ++round) {
        const auto a = inTurn.scan();
        const auto b = sideBySide.scan();
        EXPECT_EQ(a.entries, b.entries);
        EXPECT_EQ(a.summary, b.summary);

        // Handed over one file at a time, in path order, never two at once.
        std::vector<UsageEntry> handed;
        std::atomic<int> inSink{0};
        int calls = 0;
        const auto summary = fileByFile.scan([&](std::vector<UsageEntry>& entries) {
            EXPECT_EQ(inSink.fetch_add(1), 0);
            ++calls;
            EXPECT_FALSE(entries.empty());
            handed.insert(handed.end(), entries.begin(), entries.end());
            inSink.fetch_sub(1);
        });
        EXPECT_EQ(handed, a.entries);
        EXPECT_EQ(summary, a.summary);
        EXPECT_GT(calls, round == 0 ? 40 : 0);
        EXPECT_LE(calls, a.summary.filesWithNewData);
        append(root() / "p3/f4.jsonl", assistant("late") + kUser);
    }
}

TEST_F(TranscriptScannerTest, NewestEntryOfTheFilesThatAreThere) {
    const auto at = [](const std::string& id, const std::string& time) {
        return R"({"type":"assistant","timestamp":")" + time +
               R"(","sessionId":"s",)"
               R"("message":{"id":")" +
               id + R"(","usage":{"input_tokens":1}}})" + "\n";
    };
    std::filesystem::remove_all(root());
    dir_.write("root/p/old.jsonl", at("o1", "2025-06-01T00:00:00Z") + kUser);
    dir_.write("root/p/new.jsonl", at("n1", "2025-06-03T00:00:00Z"));
    dir_.write("root/q/none.jsonl", kUser);
    constexpr core::Date june1 = 1748736000;
    constexpr core::Date day = 86400;

    TranscriptScanner scanner(root(), 2);
    EXPECT_EQ(scanner.newestEntry(), std::nullopt);
    scanner.scan();
    EXPECT_EQ(scanner.newestEntry(), june1 + 2 * day);
    // Known from earlier reads while nothing new comes.
    append(root() / "p/old.jsonl", at("o2", "2025-06-02T00:00:00Z"));
    scanner.scan();
    EXPECT_EQ(scanner.newestEntry(), june1 + 2 * day);
    // A file that is gone no longer counts; nor does what a replaced file held.
    std::filesystem::remove(root() / "p/new.jsonl");
    scanner.scan();
    EXPECT_EQ(scanner.newestEntry(), june1 + day);
    dir_.write("root/p/old.jsonl", at("o3", "2025-05-01T00:00:00Z"));
    scanner.scan();
    EXPECT_EQ(scanner.newestEntry(), june1 - 31 * day);
    std::filesystem::remove_all(root());
    scanner.scan();
    EXPECT_EQ(scanner.newestEntry(), std::nullopt);
}

struct ProjectCase {
    const char* file;
    const char* root;
    std::optional<std::string> project;
};

TEST(TranscriptScannerProjectTest, ProjectIdentifier) {
    const ProjectCase cases[] = {
        {"/r/projA/inner/sub/x.jsonl", "/r", "projA"},
        {"/r/projA/x.jsonl", "/r/", "projA"},
        {"/r/./projA/../projB/x.jsonl", "/r", "projB"},
        {"/r/x.jsonl", "/r", std::nullopt},
        {"/r", "/r", std::nullopt},
        {"/other/p/x.jsonl", "/r", std::nullopt},
        {"/rr/p/x.jsonl", "/r", std::nullopt},
        {"/p/x.jsonl", "/", "p"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TranscriptScanner::projectID(c.file, c.root), c.project) << c.file;
    }
}

TEST(TranscriptScannerProjectTest, StandardizeTakesOutDotsAndTrailingSeparators) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},        {"/", "/"},    {"//", "/"},           {"///a//b/", "/a/b"},
        {"a/", "a"},     {"./", "."},   {"a/..", "."},         {"/..", "/"},
        {"/../a", "/a"}, {"../", ".."}, {"a/../../b", "../b"}, {"/r/./p/../q/.", "/r/q"},
    };
    for (const auto& [path, standard] : cases) {
        EXPECT_EQ(TranscriptScanner::standardize(path).native(), standard) << path;
    }
}

} // namespace
} // namespace meterly::history
