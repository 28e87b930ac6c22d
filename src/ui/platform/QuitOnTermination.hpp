#pragma once

#include <QObject>

class QSocketNotifier;

namespace meterly::ui {

// Ends the application's event loop on SIGTERM and SIGINT (a session logging out, Ctrl+C in the
// terminal of scripts/run), so that the app stops its loops and writes its preferences out instead
// of dying mid-write. One per process; the handlers stay installed for its life.
class QuitOnTermination : public QObject {
    Q_OBJECT
public:
    explicit QuitOnTermination(QObject* parent = nullptr);
    ~QuitOnTermination() override;

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace meterly::ui
