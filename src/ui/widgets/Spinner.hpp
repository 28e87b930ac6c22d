#pragma once

class QProgressBar;
class QWidget;

namespace meterly::ui {

// The small bar that runs without end while something is under way (a read, a check, an
// install).
class Spinner {
public:
    Spinner() = delete;

    static constexpr int width = 16;

    static QProgressBar* create(QWidget* parent, int height = 6);
};

} // namespace meterly::ui
