#include "history/TranscriptFileCursor.hpp"

#include "support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meterly::history {
namespace {

using meterly::testing::TempDir;

std::string assistant(int id) {
    return R"({"type":"assistant","timestamp":"2025-06-01T12:34:56Z","sessionId":"s",)"
           R"("message":{"id":"m)" +
           std::to_string(id) + R"(","usage":{"output_tokens":)" + std::to_string(id) + "}}}";
}

void append(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

std::vector<std::string> ids(const FileReadResult& result) {
    std::vector<std::string> out;
    for (const auto& entry : result.entries) {
        out.push_back(entry.messageID);
    }
    return out;
}

using Ids = std::vector<std::string>;

TEST(TranscriptFileCursorTest, NothingToReadInAnEmptyOrUnchangedFile) {
    TempDir dir;
    const auto path = dir.write("p/a.jsonl", "");
    TranscriptLineParser parser;
    TranscriptFileCursor cursor(path, "p");
    EXPECT_EQ(cursor.read(parser), FileReadResult{});
    EXPECT_TRUE(cursor.fileIdentifier().has_value());

    append(path, assistant(1) + "\n");
    EXPECT_EQ(ids(cursor.read(parser)), (Ids{"m1"}));
    EXPECT_EQ(cursor.read(parser), FileReadResult{});
    EXPECT_EQ(cursor.offset(), assistant(1).size() + 1);
}

TEST(TranscriptFileCursorTest, SplitsLinesAlikeForEveryChunkSize) {
    const std::string complete = assistant(1) + "\r\n" + "\r\n" + "\n" +
                                 R"({"type":"user","message":{"role":"user"}})" + "\n" +
                                 assistant(2) + "\n" + "not json\r\n";
    const std::string unfinished = assistant(3);
    // One buffer serves every read, holding the bytes of earlier ones.
    ReadBuffer buffer;
    for (const std::size_t chunk : std::initializer_list<std::size_t>{4096, 1, 2, 3, 5, 7, 64}) {
        SCOPED_TRACE(chunk);
        TempDir dir;
        const auto path = dir.write("p/a.jsonl", complete + unfinished);
        TranscriptLineParser parser;
        TranscriptFileCursor cursor(path, "p", chunk, 1 << 20);

        const auto first = cursor.read(parser, buffer);
        EXPECT_EQ(ids(first), (Ids{"m1", "m2"}));
        EXPECT_EQ(first.entries.at(0).projectID, "p");
        EXPECT_EQ(first.skippedLines, 2);
        EXPECT_EQ(first.oversizedLines, 0);
        EXPECT_EQ(first.bytesRead, static_cast<std::int64_t>(complete.size()));
        EXPECT_EQ(cursor.offset(), complete.size());

        // The unfinished line is read again, whole, once its line end arrives.
        append(path, "\n");
        const auto second = cursor.read(parser, buffer);
        EXPECT_EQ(ids(second), (Ids{"m3"}));
        EXPECT_EQ(second.bytesRead, static_cast<std::int64_t>(unfinished.size() + 1));
        EXPECT_FALSE(second.didReset);
    }
}

struct OversizedCase {
    std::size_t chunk;
    std::int64_t oversized;
    std::int64_t skipped;
};

TEST(TranscriptFileCursorTest, DropsLinesLongerThanTheLimit) {
    constexpr std::size_t kLimit = 256;
    // A line of exactly the limit is always parsed (blanks before a JSON object are allowed).
    const std::string atLimit = std::string(kLimit - assistant(2).size(), ' ') + assistant(2);
    const std::string content =
        std::string(2000, 'x') + "\n" + assistant(1) + "\n" + atLimit + "\n";
    const OversizedCase cases[] = {
        {1, 1, 0},
        {7, 1, 0},
        {100, 1, 0},
        // A long line whose end arrives in the chunk that takes it past the limit is parsed.
        {4096, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        TempDir dir;
        const auto path = dir.write("p/a.jsonl", content);
        TranscriptLineParser parser;
        TranscriptFileCursor cursor(path, "p", c.chunk, kLimit);
        const auto result = cursor.read(parser);
        EXPECT_EQ(ids(result), (Ids{"m1", "m2"}));
        EXPECT_EQ(result.oversizedLines, c.oversized);
        EXPECT_EQ(result.skippedLines, c.skipped);
        EXPECT_EQ(result.bytesRead, static_cast<std::int64_t>(content.size()));
    }
}

TEST(TranscriptFileCursorTest, UnfinishedOversizedLineIsConsumedAsItArrives) {
    TempDir dir;
    const std::string head = assistant(1) + "\n";
    const auto path = dir.write("p/a.jsonl", head + std::string(1000, 'y'));
    TranscriptLineParser parser;
    TranscriptFileCursor cursor(path, "p", 64, 256);

    const auto first = cursor.read(parser);
    EXPECT_EQ(ids(first), (Ids{"m1"}));
    EXPECT_EQ(first.oversizedLines, 1);
    EXPECT_GT(cursor.offset(), head.size() + 256);
    EXPECT_LE(cursor.offset(), head.size() + 1000);

    // The rest of that line counts as a line of its own.
    append(path, "yyy\n" + assistant(2) + "\n");
    const auto second = cursor.read(parser);
    EXPECT_EQ(ids(second), (Ids{"m2"}));
    EXPECT_EQ(second.skippedLines, 1);
    EXPECT_EQ(second.oversizedLines, 0);
    EXPECT_EQ(cursor.offset(), std::filesystem::file_size(path));
}

TEST(TranscriptFileCursorTest, StartsAgainWhenTheFileShrinksOrIsReplaced) {
    TempDir dir;
    const auto path = dir.write("p/a.jsonl", assistant(1) + "\n" + assistant(2) + "\n");
    TranscriptLineParser parser;
    TranscriptFileCursor cursor(path, "p", 16, 1024);
    EXPECT_EQ(ids(cursor.read(parser)), (Ids{"m1", "m2"}));

    // Truncated in place below the offset.
    dir.write("p/a.jsonl", assistant(3) + "\n");
    auto result = cursor.read(parser);
    EXPECT_TRUE(result.didReset);
    EXPECT_EQ(ids(result), (Ids{"m3"}));
    EXPECT_EQ(result.bytesRead, static_cast<std::int64_t>(assistant(3).size() + 1));

    // Refilled in place to at least the old offset: reading goes on from there.
    dir.write("p/a.jsonl", assistant(4) + "\n" + assistant(5) + "\n");
    result = cursor.read(parser);
    EXPECT_FALSE(result.didReset);
    EXPECT_EQ(result.entries.size() + static_cast<std::size_t>(result.skippedLines), 1u);

    // Replaced by another file, longer than the offset.
    const auto other =
        dir.write("p/b.tmp", assistant(6) + "\n" + assistant(7) + "\n" + assistant(8) + "\n");
    std::filesystem::rename(other, path);
    result = cursor.read(parser);
    EXPECT_TRUE(result.didReset);
    EXPECT_EQ(ids(result), (Ids{"m6", "m7", "m8"}));
}

TEST(TranscriptFileCursorTest, MissingOrNonRegularFilesVanish) {
    TempDir dir;
    const auto file = dir.write("p/a.jsonl", assistant(1) + "\n");
    const auto fifo = dir.path() / "p" / "fifo.jsonl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::filesystem::path paths[] = {
        dir.path() / "p" / "missing.jsonl",
        file / "below-a-file.jsonl",
        // Opened without blocking, though nobody writes to it.
        fifo,
        dir.path() / "p",
    };
    TranscriptLineParser parser;
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        TranscriptFileCursor cursor(path, "p");
        const auto result = cursor.read(parser);
        EXPECT_TRUE(result.vanished);
        EXPECT_EQ(result.bytesRead, 0);
        EXPECT_TRUE(result.entries.empty());
    }

    TranscriptFileCursor cursor(file, "p");
    EXPECT_EQ(ids(cursor.read(parser)), (Ids{"m1"}));
    std::filesystem::remove(file);
    EXPECT_TRUE(cursor.read(parser).vanished);
}

// Lowers the open-file limit below the next free descriptor for as long as it lives.
class NoFreeDescriptors {
public:
    NoFreeDescriptors() {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        const int next = ::dup(0);
        ::close(next);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(next);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~NoFreeDescriptors() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    NoFreeDescriptors(const NoFreeDescriptors&) = delete;
    NoFreeDescriptors& operator=(const NoFreeDescriptors&) = delete;

private:
    rlimit saved_{};
};

TEST(TranscriptFileCursorTest, PassingFailureKeepsTheCursorsPlace) {
    TempDir dir;
    const auto path = dir.write("p/a.jsonl", assistant(1) + "\n");
    TranscriptLineParser parser;
    TranscriptFileCursor cursor(path, "p");
    EXPECT_EQ(ids(cursor.read(parser)), (Ids{"m1"}));
    append(path, assistant(2) + "\n");
    const auto offset = cursor.offset();
    {
        const NoFreeDescriptors limit;
        EXPECT_EQ(cursor.read(parser), FileReadResult{});
    }
    EXPECT_EQ(cursor.offset(), offset);
    const auto result = cursor.read(parser);
    EXPECT_FALSE(result.didReset);
    EXPECT_EQ(ids(result), (Ids{"m2"}));
}

} // namespace
} // namespace meterly::history
