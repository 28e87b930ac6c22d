#include "TranscriptTreeGenerator.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_set>

namespace meterly::bench {
namespace {

class Rng {
public:
    explicit Rng(std::uint64_t seed)
        : state_(seed * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    std::uint64_t range(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return unit() < p; }

private:
    std::uint64_t state_;
};

constexpr const char* kWords[] = {
    "the",    "function", "returns", "value",  "file",    "line",   "build",   "test",
    "error",  "config",   "const",   "auto",   "struct",  "class",  "void",    "include",
    "return", "string",   "vector",  "path",   "folder",  "commit", "branch",  "merge",
    "token",  "usage",    "window",  "limit",  "reset",   "proxy",  "request", "response",
    "header", "body",     "stream",  "socket", "timeout", "parse",  "json",    "object",
    "array",  "number",   "check",   "fix",    "update",  "change", "read",    "write",
    "open",   "close",    "scan",    "cursor", "entry",   "report", "model",   "status",
    "int",    "size_t",   "std",     "if",     "else",    "for",    "while",   "switch",
};

constexpr std::string_view kModels[] = {"claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805",
                                        "claude-haiku-4-5-20251001"};

// Random words: the stuff that text and tool output are made of (no quotes or backslashes).
std::string makeWordPool(Rng& rng, std::size_t size) {
    std::string pool;
    pool.reserve(size + 16);
    while (pool.size() < size) {
        pool += kWords[rng.next() % std::size(kWords)];
        pool += rng.chance(0.1) ? ", " : " ";
    }
    return pool;
}

std::string hex(std::uint64_t value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kHex[value & 15];
        value >>= 4;
    }
    return out;
}

std::string uuid(Rng& rng) {
    const std::uint64_t a = rng.next();
    const std::uint64_t b = rng.next();
    return hex(a >> 32, 8) + "-" + hex(a >> 16, 4) + "-4" + hex(a, 3) + "-a" + hex(b >> 48, 3) +
           "-" + hex(b, 12);
}

std::string isoTime(double seconds) {
    const auto whole = static_cast<std::time_t>(seconds);
    const int millis = static_cast<int>((seconds - static_cast<double>(whole)) * 1000);
    std::tm tm{};
    ::gmtime_r(&whole, &tm);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return buffer;
}

struct Message {
    std::string line;
    std::string id;
    history::TokenUsage usage;
};

// Writes the lines of one tree (or of one append) and keeps its totals.
class LineFactory {
public:
    LineFactory(std::uint64_t seed, double malformedShare, double multiLineShare, double textScale)
        : rng_(seed), seed_(seed), malformedShare_(malformedShare), multiLineShare_(multiLineShare),
          textScale_(textScale), words_(makeWordPool(rng_, 1 << 20)) {}

    TreeTotals& totals() { return totals_; }
    Rng& rng() { return rng_; }

    void startSession(std::string project, bool crlf) {
        project_ = std::move(project);
        session_ = uuid(rng_);
        clock_ = 1796000000.0 + static_cast<double>(rng_.range(0, 30 * 86400));
        crlf_ = crlf;
        model_ = kModels[rng_.next() % std::size(kModels)];
    }

    // Copies of assistant lines from earlier sessions, as a resumed session starts with.
    void resumeEarlierSession(std::string& out) {
        if (earlier_.empty()) {
            return;
        }
        const auto count = rng_.range(1, std::min<std::uint64_t>(10, earlier_.size()));
        for (std::uint64_t i = 0; i < count; ++i) {
            const Message& message = earlier_[rng_.next() % earlier_.size()];
            emit(out, message.line);
            countEntry(message.id, message.usage);
        }
    }

    // One step of a conversation: one or more lines.
    void step(std::string& out) {
        clock_ += static_cast<double>(rng_.range(200, 30000)) / 1000.0;
        const double roll = rng_.unit();
        if (roll < malformedShare_) {
            cutOffLine(out);
        } else if (roll < 0.33) {
            assistantMessage(out);
        } else if (roll < 0.63) {
            toolResult(out);
        } else if (roll < 0.72) {
            prompt(out);
        } else if (roll < 0.80) {
            attachment(out);
        } else if (roll < 0.85) {
            queueOperation(out);
        } else if (roll < 0.87) {
            summary(out);
        } else if (roll < 0.872) {
            syntheticMessage(out);
        } else if (roll < 0.90) {
            systemLine(out);
        } else {
            assistantMessage(out);
        }
    }

    void oversizedLine(std::string& out) {
        std::string line = userHead();
        line += R"("message":{"role":"user","content":[{"type":"tool_result","content":")";
        text(line, rng_.range(9u << 20, 10u << 20), true);
        line += R"("}]}})";
        out += line;
        out += crlf_ ? "\r\n" : "\n";
        totals_.bytes += static_cast<std::int64_t>(line.size() + (crlf_ ? 2 : 1));
        ++totals_.oversizedLines;
    }

private:
    void emit(std::string& out, std::string_view line) {
        out += line;
        out += crlf_ ? "\r\n" : "\n";
        totals_.bytes += static_cast<std::int64_t>(line.size() + (crlf_ ? 2 : 1));
    }

    void skipped(std::string& out, std::string_view line) {
        emit(out, line);
        ++totals_.skippedLines;
    }

    void countEntry(const std::string& id, const history::TokenUsage& usage) {
        ++totals_.entries;
        if (seen_.insert(id).second) {
            ++totals_.uniqueMessages;
            totals_.uniqueUsage += usage;
        }
    }

    // `size` bytes of JSON string content: words, with escapes now and then.
    void text(std::string& out, std::uint64_t size, bool toolOutput) {
        if (textScale_ != 1.0) {
            size = std::max<std::uint64_t>(
                1, static_cast<std::uint64_t>(static_cast<double>(size) * textScale_));
        }
        std::uint64_t written = 0;
        while (written < size) {
            const std::uint64_t piece =
                std::min<std::uint64_t>(size - written, rng_.range(40, 400));
            const std::size_t at = rng_.next() % (words_.size() - piece);
            out.append(words_, at, piece);
            written += piece;
            const double roll = rng_.unit();
            if (roll < 0.5) {
                out += "\\n";
                written += 2;
            } else if (toolOutput && roll < 0.55) {
                out += "\\u001b[32m";
                written += 10;
            } else if (roll < 0.6) {
                out += "\\\"";
                written += 2;
            }
        }
    }

    std::string messageID() { return "msg_01" + hex(seed_, 6) + hex(++counter_, 16); }

    std::string commonHead() {
        std::string head = R"({"parentUuid":")" + uuid(rng_) + R"(","isSidechain":)";
        head += rng_.chance(0.05) ? "true" : "false";
        head += R"(,"userType":"external","cwd":"/home/me/src/)" + project_ + R"(","sessionId":")" +
                session_ + R"(","version":"2.0.14","gitBranch":"main",)";
        return head;
    }

    std::string userHead() {
        return commonHead() + R"("type":"user","uuid":")" + uuid(rng_) + R"(","timestamp":")" +
               isoTime(clock_) + R"(",)";
    }

    std::string assistantLine(const std::string& id, const std::string& requestID,
                              std::string_view model, const history::TokenUsage& usage,
                              bool toolUse) {
        std::string line = commonHead();
        line += R"("message":{"id":")" + id + R"(","type":"message","role":"assistant","model":")";
        line += model;
        line += R"(","content":[)";
        if (toolUse) {
            line += R"({"type":"tool_use","id":"toolu_01)" + hex(rng_.next(), 16) +
                    R"(","name":"Write","input":{"file_path":"/home/me/src/)" + project_ +
                    R"(/src/main.cpp","content":")";
            text(line, rng_.chance(0.2) ? rng_.range(2000, 60000) : rng_.range(100, 2000), false);
            line += R"("}})";
        } else {
            line += R"({"type":"text","text":")";
            text(line, rng_.range(50, 2000), false);
            line += R"("})";
        }
        line += R"(],"stop_reason":null,"stop_sequence":null,"usage":{"input_tokens":)" +
                std::to_string(usage.inputTokens) + R"(,"cache_creation_input_tokens":)" +
                std::to_string(usage.cacheCreationInputTokens) + R"(,"cache_read_input_tokens":)" +
                std::to_string(usage.cacheReadInputTokens) +
                R"(,"cache_creation":{"ephemeral_5m_input_tokens":)" +
                std::to_string(usage.cacheCreationInputTokens) +
                R"(,"ephemeral_1h_input_tokens":0},"output_tokens":)" +
                std::to_string(usage.outputTokens) +
                R"(,"service_tier":"standard"}},"requestId":")" + requestID +
                R"(","type":"assistant","uuid":")" + uuid(rng_) + R"(","timestamp":")" +
                isoTime(clock_) + R"("})";
        return line;
    }

    history::TokenUsage randomUsage() {
        return {static_cast<std::int64_t>(rng_.range(0, 40)),
                static_cast<std::int64_t>(rng_.range(1, 4000)),
                static_cast<std::int64_t>(rng_.range(0, 20000)),
                static_cast<std::int64_t>(rng_.range(0, 200000))};
    }

    void assistantMessage(std::string& out) {
        const std::string id = messageID();
        const std::string requestID = "req_011" + hex(rng_.next(), 16);
        const auto usage = randomUsage();
        // One line per content block, all with the message's identifier and usage.
        const auto blocks = rng_.chance(multiLineShare_) ? rng_.range(2, 3) : 1;
        for (std::uint64_t block = 0; block < blocks; ++block) {
            std::string line = assistantLine(id, requestID, model_, usage, rng_.chance(0.3));
            emit(out, line);
            countEntry(id, usage);
            if (rng_.chance(0.05)) {
                if (earlier_.size() < 256) {
                    earlier_.push_back({std::move(line), id, usage});
                } else {
                    earlier_[rng_.next() % earlier_.size()] = {std::move(line), id, usage};
                }
            }
        }
    }

    void syntheticMessage(std::string& out) {
        skipped(out, assistantLine(messageID(), "req_0", "<synthetic>", {}, false));
    }

    void cutOffLine(std::string& out) {
        std::string line = rng_.chance(0.5)
                               ? assistantLine(messageID(), "req_0", model_, randomUsage(), false)
                               : userHead() + R"("message":{"role":"user","content":"x"}})";
        line.resize(rng_.range(1, line.size() - 1));
        skipped(out, line);
    }

    void toolResult(std::string& out) {
        const double roll = rng_.unit();
        const std::uint64_t size = roll < 0.6     ? rng_.range(100, 2000)
                                   : roll < 0.9   ? rng_.range(2000, 20000)
                                   : roll < 0.995 ? rng_.range(20000, 100000)
                                                  : rng_.range(100000, 2000000);
        std::string line = userHead();
        line += R"("message":{"role":"user","content":[{"tool_use_id":"toolu_01)" +
                hex(rng_.next(), 16) + R"(","type":"tool_result","content":")";
        const std::size_t start = line.size();
        text(line, size / 2, true);
        const std::string output = line.substr(start);
        line += R"(","is_error":false}]},"toolUseResult":{"stdout":")" + output +
                R"(","stderr":"","interrupted":false,"isImage":false}})";
        skipped(out, line);
    }

    void prompt(std::string& out) {
        std::string line = userHead();
        line += R"("message":{"role":"user","content":")";
        if (rng_.chance(0.1)) {
            line += "ask the assistant to ";
        }
        text(line, rng_.range(20, 600), false);
        line += R"("}})";
        skipped(out, line);
    }

    void attachment(std::string& out) {
        skipped(out, commonHead() +
                         R"("type":"attachment","attachment":{"type":"todo","content":[],)"
                         R"("itemCount":0,"context":"post-compact"},"uuid":")" +
                         uuid(rng_) + R"(","timestamp":")" + isoTime(clock_) + R"("})");
    }

    void queueOperation(std::string& out) {
        skipped(out, R"({"type":"queue-operation","operation":"enqueue","timestamp":")" +
                         isoTime(clock_) + R"(","content":"continue","sessionId":")" + session_ +
                         R"("})");
    }

    void summary(std::string& out) {
        skipped(out, R"({"type":"summary","summary":"Fix the build of the )" + project_ +
                         R"( tests","leafUuid":")" + uuid(rng_) + R"("})");
    }

    void systemLine(std::string& out) {
        skipped(out, commonHead() +
                         R"("type":"system","subtype":"compact_boundary",)"
                         R"("content":"Conversation compacted","level":"info",)"
                         R"("uuid":")" +
                         uuid(rng_) + R"(","timestamp":")" + isoTime(clock_) + R"("})");
    }

    Rng rng_;
    std::uint64_t seed_;
    double malformedShare_;
    double multiLineShare_;
    double textScale_;
    std::string words_;
    std::uint64_t counter_ = 0;
    TreeTotals totals_;
    std::unordered_set<std::string> seen_;
    std::vector<Message> earlier_;
    std::string project_;
    std::string session_;
    std::string model_;
    double clock_ = 0;
    bool crlf_ = false;
};

class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& path, bool append) {
        std::filesystem::create_directories(path.parent_path());
        file_ = std::fopen(path.c_str(), append ? "ab" : "wb");
        if (file_ == nullptr) {
            throw std::runtime_error("cannot write " + path.string());
        }
    }
    ~OutputFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(std::string& buffer) {
        if (!buffer.empty() &&
            std::fwrite(buffer.data(), 1, buffer.size(), file_) != buffer.size()) {
            throw std::runtime_error("write failed");
        }
        buffer.clear();
    }

private:
    std::FILE* file_ = nullptr;
};

} // namespace

TreeTotals& TreeTotals::operator+=(const TreeTotals& other) {
    files += other.files;
    bytes += other.bytes;
    entries += other.entries;
    skippedLines += other.skippedLines;
    oversizedLines += other.oversizedLines;
    uniqueMessages += other.uniqueMessages;
    uniqueUsage += other.uniqueUsage;
    return *this;
}

std::string TreeTotals::describe() const {
    std::ostringstream out;
    out << "files " << files << "\nbytes " << bytes << "\nentries " << entries << "\nskippedLines "
        << skippedLines << "\noversizedLines " << oversizedLines << "\nuniqueMessages "
        << uniqueMessages << "\ninputTokens " << uniqueUsage.inputTokens << "\noutputTokens "
        << uniqueUsage.outputTokens << "\ncacheCreationInputTokens "
        << uniqueUsage.cacheCreationInputTokens << "\ncacheReadInputTokens "
        << uniqueUsage.cacheReadInputTokens << "\n";
    return out.str();
}

TranscriptTreeGenerator::TranscriptTreeGenerator(TreeShape shape) : shape_(shape) {}

TreeTotals TranscriptTreeGenerator::generate(const std::filesystem::path& root) {
    LineFactory factory(shape_.seed, shape_.malformedShare, shape_.multiLineShare,
                        shape_.textScale);
    Rng& rng = factory.rng();
    const int files = std::max(shape_.files, 1);
    const int projects = std::max(shape_.projects, 1);

    // File sizes with a long tail: most sessions are small, a few are very large.
    std::vector<double> weights(static_cast<std::size_t>(files));
    double sum = 0;
    for (auto& weight : weights) {
        weight = std::min(1.0 / std::pow(rng.unit() + 1e-3, 0.8), 200.0);
        sum += weight;
    }
    std::vector<int> oversizedIn(static_cast<std::size_t>(files), 0);
    for (int i = 0; i < shape_.oversizedLines; ++i) {
        ++oversizedIn[rng.next() % oversizedIn.size()];
    }

    std::string buffer;
    for (int index = 0; index < files; ++index) {
        const std::string project = "proj" + std::to_string(index % projects);
        const std::string folder = "-home-me-src-" + project;
        std::filesystem::path path = root / folder;
        if (rng.chance(0.1)) {
            path = path / uuid(rng) / "subagents" / ("agent-" + hex(rng.next(), 8) + ".jsonl");
        } else {
            path = path / (uuid(rng) + ".jsonl");
        }
        const auto target =
            static_cast<std::int64_t>(static_cast<double>(shape_.totalBytes) *
                                      weights[static_cast<std::size_t>(index)] / sum);
        factory.startSession(project, rng.chance(0.02));
        OutputFile file(path, false);
        const std::int64_t start = factory.totals().bytes;
        if (rng.chance(0.2)) {
            factory.resumeEarlierSession(buffer);
        }
        int oversized = oversizedIn[static_cast<std::size_t>(index)];
        // At least one step per file, then steps until the file has its size.
        bool first = true;
        while (first || factory.totals().bytes - start < target || oversized > 0) {
            first = false;
            if (oversized > 0 && rng.chance(0.05)) {
                factory.oversizedLine(buffer);
                --oversized;
            } else {
                factory.step(buffer);
            }
            if (buffer.size() > (4u << 20)) {
                file.write(buffer);
            }
        }
        file.write(buffer);
        ++factory.totals().files;
    }
    std::ofstream(root / "totals.txt") << factory.totals().describe();
    return factory.totals();
}

TreeTotals TranscriptTreeGenerator::append(const std::filesystem::path& root, int fileCount,
                                           int lines, std::uint64_t seed) {
    LineFactory factory(seed, shape_.malformedShare, shape_.multiLineShare, shape_.textScale);
    const auto files = transcriptFiles(root);
    std::string buffer;
    for (int index = 0; index < fileCount && index < static_cast<int>(files.size()); ++index) {
        const auto& path = files[static_cast<std::size_t>(index)];
        factory.startSession(path.parent_path().filename().string(), false);
        OutputFile file(path, true);
        const std::int64_t before = factory.totals().skippedLines + factory.totals().entries;
        while (factory.totals().skippedLines + factory.totals().entries - before < lines) {
            factory.step(buffer);
        }
        file.write(buffer);
        ++factory.totals().files;
    }
    return factory.totals();
}

std::vector<std::filesystem::path>
TranscriptTreeGenerator::transcriptFiles(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (item.is_regular_file() && item.path().extension() == ".jsonl") {
            files.push_back(item.path());
        }
    }
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.native() < b.native(); });
    return files;
}

} // namespace meterly::bench
