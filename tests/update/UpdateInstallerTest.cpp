#include "update/UpdateInstaller.hpp"

#include "support/ReadOnlyFolder.hpp"
#include "support/TempDir.hpp"
#include "support/TestImage.hpp"
#include "update/SHA256Digest.hpp"
#include "update/UpdateDownloadError.hpp"
#include "update/UpdateInstallError.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace meterly::update {
namespace {

using testing::ArchiveEntry;
using Type = ArchiveEntry::Type;
using testing::bundleEntries;
using testing::treeOf;

constexpr const char* identifier = "app.meterly";

class UpdateInstallerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { testing::writeBundle(bundle, identifier, "1.0.7", "old"); }
    UpdateInstaller installer(ImageArchive::Limits limits = {}) const {
        return UpdateInstaller(UpdateInstaller::Options{limits, GetParam()});
    }
    // Writes an image and returns the release record that names it with its digest.
    UpdateInfo image(const std::vector<ArchiveEntry>& entries, const std::string& version = "1.1") {
        const auto path =
            root.write("Downloads/Meterly-" + version + ".tar.gz", testing::makeTarGz(entries));
        UpdateInfo info{version, "https://meterly.app/x"};
        info.sha256 = SHA256Digest::ofFile(path);
        imagePath = path;
        return info;
    }
    std::filesystem::path install(const UpdateInfo& info, ImageArchive::Limits limits = {}) {
        return installer(limits).install(imagePath, bundle, identifier, info);
    }
    // Expects `run` to throw an UpdateInstallError with this description and the applications
    // folder to be exactly as it was.
    template <typename Run>
    void expectFailure(Run run, const std::string& description) {
        const auto before = treeOf(applications);
        try {
            run();
            ADD_FAILURE() << "no error; expected " << description;
        } catch (const UpdateInstallError& error) {
            EXPECT_EQ(std::string(error.what()), description);
        }
        EXPECT_EQ(treeOf(applications), before);
    }

    testing::TempDir root;
    std::filesystem::path applications = root.path() / "Applications";
    std::filesystem::path bundle = applications / "Meterly.app";
    std::filesystem::path kept = applications / ".meterly-previous-Meterly.app";
    std::filesystem::path imagePath;
};

TEST_P(UpdateInstallerTest, SwapsTheNewBundleInAndKeepsOnePreviousCopy) {
    auto entries = bundleEntries("Meterly.app", identifier, "1.1", "new");
    entries.push_back({"Meterly.app/Contents/Resources/", Type::folder, "", 0755, ""});
    entries.push_back({"Meterly.app/Contents/Resources/setuid", Type::file, "x", 04755, ""});
    entries.push_back(
        {"Meterly.app/Contents/Resources/current", Type::symlink, "", 0777, "../MacOS"});
    EXPECT_EQ(install(image(entries)), bundle);
    EXPECT_EQ(root.read(bundle / "Contents/MacOS/meterly"), "new");
    EXPECT_EQ(root.read(kept / "Contents/MacOS/meterly"), "old");
    struct stat info {};
    ASSERT_EQ(::stat((bundle / "Contents/Resources/setuid").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat((bundle / "Contents/MacOS/meterly").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);

    // A second update, from an image whose application has another name: the older kept copy
    // gives way, and the new bundle takes the installed bundle's name.
    install(image(bundleEntries("Renamed.app", identifier, "1.2", "newer"), "1.2"));
    EXPECT_EQ(root.read(bundle / "Contents/MacOS/meterly"), "newer");
    EXPECT_EQ(root.read(kept / "Contents/MacOS/meterly"), "new");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(applications)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".meterly-previous-Meterly.app", "Meterly.app"}));
}

TEST_P(UpdateInstallerTest, AnImageOfAnotherApplicationChangesNothing) {
    testing::writeBundle(kept, identifier, "1.0.6", "older");
    struct Case {
        std::vector<ArchiveEntry> entries;
        std::string description;
    };
    const std::vector<Case> cases = {
        {bundleEntries("Meterly.app", "com.example.other", "1.1", "x"),
         "That image contains com.example.other, not app.meterly."},
        {bundleEntries("Meterly.app", std::nullopt, "1.1", "x"),
         "That image contains nothing, not app.meterly."},
        {bundleEntries("Meterly.app", identifier, "1.1.0", "x"),
         "That image contains version 1.1.0, not the 1.1 that was offered."},
        {bundleEntries("Meterly.app", identifier, std::nullopt, "x"),
         "That image contains version nothing, not the 1.1 that was offered."},
        {bundleEntries("Meterly.app", identifier, "1.1", std::nullopt),
         "The disk image has no Meterly.app in it."},
        {{{"Meterly/", Type::folder, "", 0755, ""}, {"Meterly/meterly", Type::file, "x", 0755, ""}},
         "The disk image has no Meterly.app in it."},
        {{{"Meterly.app/Contents/Info.plist", Type::file, "not a plist", 0644, ""},
          {"Meterly.app/Contents/MacOS/meterly", Type::file, "x", 0755, ""}},
         "The disk image has no Meterly.app in it."},
        {{{"Meterly.app/Contents/Info.plist", Type::file, testing::infoPlist(identifier, "1.1"),
           0644, ""},
          {"Meterly.app/Contents/MacOS/meterly", Type::file, "x", 0644, ""}},
         "The disk image has no Meterly.app in it."},
    };
    for (const auto& c : cases) {
        auto info = image(c.entries);
        expectFailure([&] { install(info); }, c.description);
    }
}

TEST_P(UpdateInstallerTest, HostileArchivesAreRefusedAndWriteNothingOutside) {
    const auto outside = root.path() / "outside";
    std::filesystem::create_directories(outside);
    auto valid = bundleEntries("Meterly.app", identifier, "1.1", "new");
    auto with = [&valid](std::vector<ArchiveEntry> extra) {
        auto entries = valid;
        entries.insert(entries.end(), extra.begin(), extra.end());
        return entries;
    };
    const std::string escape = "../../outside/escaped";
    const std::vector<std::vector<ArchiveEntry>> hostile = {
        with({{escape, Type::file, "x", 0644, ""}}),
        with({{"Meterly.app/../../../outside/escaped", Type::file, "x", 0644, ""}}),
        with({{(outside / "escaped").string(), Type::file, "x", 0644, ""}}),
        with({{"Meterly.app/out", Type::symlink, "", 0777, outside.string()},
              {"Meterly.app/out/escaped", Type::file, "x", 0644, ""}}),
        with({{"Meterly.app/up", Type::symlink, "", 0777, "../../outside"}}),
        with({{"Meterly.app/hard", Type::hardlink, "", 0644, (outside / "escaped").string()}}),
        with({{"Meterly.app/hard", Type::hardlink, "", 0644, "Meterly.app/Contents/Info.plist"}}),
        with({{"Meterly.app/pipe", Type::fifo, "", 0644, ""}}),
    };
    for (const auto& entries : hostile) {
        auto info = image(entries);
        const auto before = treeOf(applications);
        try {
            install(info);
            ADD_FAILURE() << "installed a hostile image, last entry " << entries.back().name;
        } catch (const UpdateInstallError& error) {
            EXPECT_EQ(error.kind(), UpdateInstallError::Kind::mountFailed)
                << entries.back().name << ": " << error.what();
            EXPECT_TRUE(std::string(error.what()).starts_with("The disk image would not open: "));
        }
        EXPECT_EQ(treeOf(applications), before);
        EXPECT_TRUE(treeOf(outside).empty()) << entries.back().name;
        EXPECT_FALSE(std::filesystem::exists(root.path() / "escaped"));
    }

    // Caps on entries and bytes, and files that are no archive at all.
    auto info = image(valid);
    expectFailure(
        [&] {
            install(info, {1024 * 1024, 3});
        },
        "The disk image would not open: the archive holds more than 3 entries");
    info =
        image(with({{"Meterly.app/big", Type::file, std::string(3 * 1024 * 1024, 'b'), 0644, ""}}));
    expectFailure(
        [&] {
            install(info, {2 * 1024 * 1024, 100});
        },
        "The disk image would not open: the archive unpacks to more than the 2 MiB "
        "allowed");
    for (const std::string& bytes :
         {std::string("not an archive"), testing::makeTarGz(valid).substr(0, 60)}) {
        root.write(imagePath, bytes);
        UpdateInfo garbage{"1.1", "https://meterly.app/x"};
        garbage.sha256 = SHA256Digest::ofFile(imagePath);
        const auto before = treeOf(applications);
        try {
            installer().install(imagePath, bundle, identifier, garbage);
            ADD_FAILURE() << "installed garbage";
        } catch (const UpdateInstallError& error) {
            EXPECT_EQ(error.kind(), UpdateInstallError::Kind::mountFailed) << error.what();
        }
        EXPECT_EQ(treeOf(applications), before);
    }
}

TEST_P(UpdateInstallerTest, TheImageIsCheckedAgainstTheFeedsDigestAsItIsUnpacked) {
    auto info = image(bundleEntries("Meterly.app", identifier, "1.1", "new"));
    // Replaced after the download was verified.
    root.write(imagePath,
               testing::makeTarGz(bundleEntries("Meterly.app", identifier, "1.1", "evil")));
    const auto before = treeOf(applications);
    try {
        install(info);
        ADD_FAILURE() << "installed a swapped image";
    } catch (const UpdateDownloadError& error) {
        EXPECT_EQ(error.kind(), UpdateDownloadError::Kind::digestMismatch);
    }
    info.sha256.reset();
    EXPECT_THROW(install(info), UpdateDownloadError);
    EXPECT_EQ(treeOf(applications), before);
}

TEST_P(UpdateInstallerTest, PutsTheKeptCopyBackAndDiscardsTheFailingVersion) {
    expectFailure([&] { installer().restorePrevious(bundle); },
                  "The update could not be put in place: There is no kept copy of the previous "
                  "version to go back to.");
    const auto original = treeOf(bundle);
    install(image(bundleEntries("Meterly.app", identifier, "1.1", "new")));
    installer().restorePrevious(bundle);
    EXPECT_EQ(treeOf(bundle), original);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(applications)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"Meterly.app"});
}

TEST_P(UpdateInstallerTest, AnUnwritableFolderIsReportedBeforeAnythingChanges) {
    testing::writeBundle(kept, identifier, "1.0.6", "older");
    auto info = image(bundleEntries("Meterly.app", identifier, "1.1", "new"));
    testing::ReadOnlyFolder readOnly(applications);
    if (!readOnly.active()) {
        GTEST_SKIP() << "cannot make a folder read-only here";
    }
    const std::string description = "Meterly cannot write to " + applications.string() +
                                    ". Install it by hand from the disk image.";
    expectFailure([&] { install(info); }, description);
    expectFailure([&] { installer().restorePrevious(bundle); }, description);
}

INSTANTIATE_TEST_SUITE_P(Swap, UpdateInstallerTest, ::testing::Bool(),
                         [](const auto& swap) { return swap.param ? "Exchange" : "TwoRenames"; });

TEST(UpdateInstallErrorTest, RendersItsCasesPlainly) {
    struct Case {
        UpdateInstallError error;
        std::string rendering;
    };
    const Case cases[] = {
        {UpdateInstallError::replaceFailed(UpdateInstallError::noKeptCopy),
         R"(replaceFailed("There is no kept copy of the previous version to go back to."))"},
        {UpdateInstallError::destinationNotWritable("/Apps/\"x\"\\y\n"),
         R"(destinationNotWritable("/Apps/\"x\"\\y\n"))"},
        {UpdateInstallError::wrongBundle("a", "b"), R"(wrongBundle(expected: "a", found: "b"))"},
        {UpdateInstallError::mountFailed(std::string("bell\a")), "mountFailed(\"bell\\u{7}\")"},
        {UpdateInstallError::noAppInImage(), "noAppInImage"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.plainRendering(), c.rendering);
    }
}

} // namespace
} // namespace meterly::update
