#include "ui/update/UpdateStateOffer.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Stage = UpdateBannerContent::Stage;
using update::DownloadState;

update::UpdateInfo offer() {
    update::UpdateInfo info;
    info.latestVersion = "1.1.0";
    info.downloadURL = "https://meterly.app/Meterly-1.1.0.tar.gz";
    info.notes = "Faster history scans.";
    info.notesURL = "https://meterly.app/notes/1.1.0";
    return info;
}

TEST(UpdateStateOffer, BannerFollowsTheDownloadStage) {
    struct Case {
        DownloadState download;
        Stage stage;
        const char* text;
    };
    const Case cases[] = {
        {DownloadState::idle(), Stage::idle, ""},
        {DownloadState::downloading(0), Stage::downloading, "Downloading 0%"},
        {DownloadState::downloading(0.999), Stage::downloading, "Downloading 99%"},
        {DownloadState::downloading(1), Stage::downloading, "Downloading 100%"},
        // A verified image is installed at once on the road of "Update".
        {DownloadState::ready("/tmp/Meterly-1.1.0.tar.gz"), Stage::installing, "Installing…"},
        {DownloadState::installing(), Stage::installing, "Installing…"},
        {DownloadState::installed(), Stage::restarting, "Restarting…"},
        {DownloadState::failed("The download didn't match its checksum."), Stage::failed,
         "The download didn't match its checksum."},
    };
    for (const auto& c : cases) {
        const auto banner = UpdateStateOffer::present(offer(), c.download);
        EXPECT_EQ(banner.title, "Version 1.1.0 is available");
        EXPECT_EQ(banner.stage, c.stage) << c.text;
        const QString shown = c.stage == Stage::downloading ? banner.progressText
                              : c.stage == Stage::failed    ? banner.failure
                                                            : banner.busyText;
        EXPECT_EQ(shown, QString::fromUtf8(c.text));
    }
}

TEST(UpdateStateOffer, NotesAndTheirLinkOnlyWhenGiven) {
    auto info = offer();
    auto banner = UpdateStateOffer::present(info, DownloadState::idle());
    EXPECT_EQ(banner.notes, QStringLiteral("Faster history scans."));
    EXPECT_TRUE(banner.hasNotesURL);
    info.notes = "";
    info.notesURL.reset();
    banner = UpdateStateOffer::present(info, DownloadState::idle());
    EXPECT_FALSE(banner.notes);
    EXPECT_FALSE(banner.hasNotesURL);
    info.notes = "<a href=\"file:///etc\">notes</a>";
    EXPECT_EQ(UpdateStateOffer::present(info, DownloadState::idle()).notes,
              QStringLiteral("<a href=\"file:///etc\">notes</a>")); // verbatim, shown as plain text
}

} // namespace
} // namespace meterly::ui
