#pragma once

#include "ui/platform/Desktop.hpp"

#include <QString>
#include <QStringList>
#include <functional>

namespace meterly::ui {

// A desktop that records what it is asked to show and answers whether Claude is installed as the
// test decides.
class FakeDesktop final : public Desktop {
public:
    void openClaude(std::function<void(bool installed)> done) override {
        ++claudeOpenings;
        if (done) {
            done(claudeInstalled);
        }
    }
    void revealFolder(const QString& folder) override { revealedFolders << folder; }
    void revealFile(const QString& file) override { revealedFiles << file; }

    bool claudeInstalled = false;
    int claudeOpenings = 0;
    QStringList revealedFolders;
    QStringList revealedFiles;
};

} // namespace meterly::ui
