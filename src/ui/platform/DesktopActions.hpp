#pragma once

#include "core/Environment.hpp"
#include "ui/platform/Desktop.hpp"

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

namespace meterly::state {
class BlockingWorker;
}

namespace meterly::ui {

// The freedesktop implementation of what the app asks of the desktop: open the Claude
// application through its "claude:" handler, show a folder in the file manager, open a web page.
// Nothing here blocks the main thread: the handler look-up runs on a worker and the file manager
// is asked over D-Bus asynchronously.
class DesktopActions : public QObject, public Desktop {
    Q_OBJECT
public:
    DesktopActions(state::BlockingWorker& worker, core::EnvironmentLookup environment,
                   std::filesystem::path home, QObject* parent = nullptr);

    // Looks for the "claude:" handler; when there is one, opens "claude://". `done` says whether
    // one was found, on the main thread.
    void openClaude(std::function<void(bool installed)> done) override;

    // Opens a window of the file manager on `folder` (org.freedesktop.FileManager1), else the
    // desktop's default for the folder.
    void revealFolder(const QString& folder) override;
    // Shows `file` selected in a window of the file manager (org.freedesktop.FileManager1), else
    // opens the folder it lies in.
    void revealFile(const QString& file) override;

    // Opens `url` in the browser when it is an http or https link; anything else is ignored.
    // Returns whether it was opened.
    static bool openWebPage(const QString& url);

private:
    state::BlockingWorker& worker_;
    core::EnvironmentLookup environment_;
    std::filesystem::path home_;
};

} // namespace meterly::ui
