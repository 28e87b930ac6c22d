#pragma once

#include <QString>
#include <functional>

namespace meterly::ui {

// What the app's scene asks of the desktop: open the Claude application, show a folder or a file
// in the file manager. None of it blocks the main thread.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Opens the Claude application when its "claude:" handler is installed; `done` says whether
    // one was found, on the main thread.
    virtual void openClaude(std::function<void(bool installed)> done) = 0;
    // Opens a window of the file manager on `folder`.
    virtual void revealFolder(const QString& folder) = 0;
    // Shows `file` selected in a window of the file manager.
    virtual void revealFile(const QString& file) = 0;
};

} // namespace meterly::ui
