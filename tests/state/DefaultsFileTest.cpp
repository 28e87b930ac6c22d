#include "state/DefaultsFile.hpp"

#include "support/ChildProcess.hpp"
#include "support/TempDir.hpp"

#include <cmath>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern char** environ;

namespace meterly::state {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Collects the store's log lines (written from its writer thread).
struct LogLines {
    std::mutex mutex;
    std::vector<std::string> lines;
    DefaultsFile::Log sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
    }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

class DefaultsFileTest : public ::testing::Test {
protected:
    testing::TempDir home{"meterly-defaults"};
    fs::path file = home.path() / "config" / "meterly" / "defaults.json";
    LogLines log;

    std::unique_ptr<DefaultsFile> open() {
        return std::make_unique<DefaultsFile>(file, log.sink());
    }
    nlohmann::json onDisk() const { return nlohmann::json::parse(home.read(file)); }
    std::vector<fs::path> asideFiles() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(file.parent_path())) {
            if (entry.path().filename().string().starts_with("defaults.json.corrupt-")) {
                found.push_back(entry.path());
            }
        }
        return found;
    }
};

TEST_F(DefaultsFileTest, EveryTypeSurvivesARoundTrip) {
    const std::map<std::string, PreferenceValue> values{
        {"bool", true},
        {"int", std::int64_t{3}},
        {"double", 3.0},
        {"date", PreferenceDate{3.0}},
        {"fraction", 0.1},
        {"date.fraction", PreferenceDate{1'800'000'000.123456}},
        {"int.max", std::numeric_limits<std::int64_t>::max()},
        {"int.min", std::numeric_limits<std::int64_t>::min()},
        {"double.large", 1e300},
        {"double.infinite", -std::numeric_limits<double>::infinity()},
        {"text", std::string("Grüße \"quoted\" \\ {\"date\": 1}")},
        {"text.empty", std::string()},
    };
    {
        auto store = open();
        for (const auto& [key, value] : values) {
            store->set(value, key);
        }
        store->set(std::numeric_limits<double>::quiet_NaN(), "double.nan");
        store->set(true, "removed");
        store->set(std::nullopt, "removed");
        EXPECT_EQ(store->object("int"), PreferenceValue(std::int64_t{3})) << "served from memory";
        ASSERT_TRUE(store->flush());
    }
    auto reopened = open();
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reopened->object(key), value) << key;
    }
    const auto nan = preferenceAs<double>(reopened->object("double.nan"));
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
    EXPECT_FALSE(reopened->object("removed").has_value());
    EXPECT_FALSE(onDisk().contains("removed"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(log.get().empty());
}

TEST_F(DefaultsFileTest, ReadsHandWrittenValuesAndKeepsWhatItDoesNotUnderstand) {
    home.write(file, R"({"int": 7, "float": 7.0, "big": 18446744073709551615,
        "date": {"date": 12.5}, "list": [1, 2], "none": null, "odd": {"date": 1, "x": 2}})");
    auto store = open();
    EXPECT_EQ(store->object("int"), PreferenceValue(std::int64_t{7}));
    EXPECT_EQ(store->object("float"), PreferenceValue(7.0));
    EXPECT_EQ(store->object("big"), PreferenceValue(1.8446744073709552e19));
    EXPECT_EQ(store->object("date"), PreferenceValue(PreferenceDate{12.5}));
    EXPECT_FALSE(store->object("list") || store->object("none") || store->object("odd"));

    store->set(false, "new");
    ASSERT_TRUE(store->flush());
    const auto disk = onDisk();
    EXPECT_EQ(disk["list"], nlohmann::json({1, 2}));
    EXPECT_TRUE(disk["none"].is_null());
    EXPECT_EQ(disk["odd"], nlohmann::json({{"date", 1}, {"x", 2}}));
    EXPECT_EQ(disk["new"], false);
}

TEST_F(DefaultsFileTest, WritesMergeWithWhatAnotherWriterPutThere) {
    auto first = open();
    auto second = open();
    first->set(std::int64_t{1}, "first");
    ASSERT_TRUE(first->flush());
    second->set(std::int64_t{2}, "second");
    second->set(std::int64_t{20}, "shared");
    ASSERT_TRUE(second->flush());
    first->set(std::int64_t{10}, "shared");
    ASSERT_TRUE(first->flush());

    const auto disk = onDisk();
    EXPECT_EQ(disk, nlohmann::json({{"first", 1}, {"second", 2}, {"shared", 10}}));
    EXPECT_FALSE(first->object("second").has_value()) << "memory holds this process's view";
}

TEST_F(DefaultsFileTest, TwoProcessesWritingAtOnceLoseNoKey) {
    fs::create_directories(file.parent_path());
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    constexpr int count = 150;
    testing::ChildProcess a({METERLY_DEFAULTS_WRITER, file.string(), "a.", std::to_string(count)},
                            environment);
    testing::ChildProcess b({METERLY_DEFAULTS_WRITER, file.string(), "b.", std::to_string(count)},
                            environment);
    EXPECT_EQ(a.wait(), 0) << a.readErrorToEnd();
    EXPECT_EQ(b.wait(), 0) << b.readErrorToEnd();

    auto store = open();
    for (int n = 0; n < count; ++n) {
        EXPECT_EQ(store->object("a." + std::to_string(n)), PreferenceValue(std::int64_t{n})) << n;
        EXPECT_EQ(store->object("b." + std::to_string(n)), PreferenceValue(std::int64_t{n})) << n;
    }
}

TEST_F(DefaultsFileTest, ACorruptFileIsSetAsideWhenRead) {
    for (const std::string garbage : {"{\"cut\": tr", "[1, 2]", ""}) {
        SCOPED_TRACE(garbage);
        fs::remove_all(file.parent_path());
        home.write(file, garbage);
        auto store = open();
        EXPECT_FALSE(store->object("cut").has_value());
        EXPECT_FALSE(fs::exists(file));
        const auto aside = asideFiles();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(home.read(aside.front()), garbage) << "kept byte for byte";
        ASSERT_FALSE(log.get().empty());
        EXPECT_THAT(log.get().back(),
                    HasSubstr("preferences file " + file.string() + " is not valid"));
        EXPECT_THAT(log.get().back(), HasSubstr("moved it aside to " + aside.front().string()));

        store->set(true, "fresh");
        ASSERT_TRUE(store->flush());
        EXPECT_EQ(onDisk(), nlohmann::json({{"fresh", true}}));
    }
}

TEST_F(DefaultsFileTest, AFileSpoiledWhileRunningIsSetAsideBeforeTheNextWrite) {
    auto store = open();
    store->set(std::int64_t{1}, "kept");
    ASSERT_TRUE(store->flush());
    home.write(file, "not json");
    // A second corrupt file in the same second gets a name of its own.
    home.write(file.string() + ".corrupt-0", "older");

    store->set(std::int64_t{2}, "next");
    ASSERT_TRUE(store->flush());
    EXPECT_EQ(onDisk(), nlohmann::json({{"next", 2}}));
    EXPECT_EQ(asideFiles().size(), 2u);
    EXPECT_EQ(store->object("kept"), PreferenceValue(std::int64_t{1}));
}

TEST_F(DefaultsFileTest, AFailedWriteIsLoggedKeptAndTriedAgain) {
    // A plain file where the folder belongs: nothing can be written.
    home.write(file.parent_path(), "in the way");
    auto store = open();
    store->set(std::int64_t{5}, "value");
    EXPECT_FALSE(store->flush());
    EXPECT_EQ(store->object("value"), PreferenceValue(std::int64_t{5}));
    ASSERT_FALSE(log.get().empty());
    EXPECT_THAT(log.get().back(), HasSubstr("could not save the preferences to " + file.string()));

    fs::remove(file.parent_path());
    EXPECT_TRUE(store->flush());
    EXPECT_EQ(onDisk(), nlohmann::json({{"value", 5}}));
}

TEST_F(DefaultsFileTest, AnUnreadableFileIsNeverOverwritten) {
    fs::create_directories(file); // a folder where the file belongs
    auto store = open();
    ASSERT_EQ(log.get().size(), 1u);
    EXPECT_THAT(log.get().front(), HasSubstr("could not read the preferences file"));
    store->set(true, "value");
    EXPECT_FALSE(store->flush());
    EXPECT_TRUE(fs::is_directory(file));
}

TEST_F(DefaultsFileTest, ChangesStillPendingAreWrittenOnDestruction) {
    {
        auto store = open();
        for (int n = 0; n < 50; ++n) {
            store->set(std::int64_t{n}, "counter");
        }
        store->set(PreferenceDate{42}, "last");
    }
    auto reopened = open();
    EXPECT_EQ(reopened->object("counter"), PreferenceValue(std::int64_t{49}));
    EXPECT_EQ(reopened->object("last"), PreferenceValue(PreferenceDate{42}));
}

TEST(DefaultsFileStandardPathTest, FollowsXDGConfigHome) {
    const auto lookup = [](std::optional<std::string> value) {
        return [value](std::string_view name) {
            return name == "XDG_CONFIG_HOME" ? value : std::nullopt;
        };
    };
    const fs::path home = "/home/u";
    EXPECT_EQ(DefaultsFile::standardPath(lookup("/xdg"), home), "/xdg/meterly/defaults.json");
    EXPECT_EQ(DefaultsFile::standardPath(lookup(std::nullopt), home),
              "/home/u/.config/meterly/defaults.json");
    EXPECT_EQ(DefaultsFile::standardPath(lookup(""), home),
              "/home/u/.config/meterly/defaults.json");
    EXPECT_EQ(DefaultsFile::standardPath(lookup("relative"), home),
              "/home/u/.config/meterly/defaults.json");
}

} // namespace
} // namespace meterly::state
