#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace meterly::ui {

class Divider;
class ElidedLabel;
class TextButton;

// The token history: models of the week, tokens used per window, today's top projects. Its
// lines are kept and reused as the report changes.
class HistorySection : public QWidget {
    Q_OBJECT
public:
    explicit HistorySection(QWidget* parent = nullptr);

    void setContent(const HistoryContent& content);
    const HistoryContent& content() const { return content_; }
    void setRevealAction(std::function<void(const QString&)> reveal);

    QWidget* modelsBlock() const { return models_; }
    QWidget* projectsBlock() const { return projects_; }

protected:
private:
    struct Line {
        QWidget* row = nullptr;
        ElidedLabel* label = nullptr;
        TextButton* link = nullptr;
        QLabel* tokens = nullptr;
    };
    Line makeLine(QWidget* block, QVBoxLayout* layout, bool withLink);
    void fill(std::vector<Line>& lines, QWidget* block, QVBoxLayout* layout, std::size_t count,
              bool withLink);
    void restyle();

    HistoryContent content_;
    std::function<void(const QString&)> reveal_;
    QWidget* models_;
    QVBoxLayout* modelsLayout_;
    Divider* afterModels_;
    QWidget* windows_;
    QVBoxLayout* windowsLayout_;
    Divider* beforeProjects_;
    QWidget* projects_;
    QVBoxLayout* projectsLayout_;
    std::vector<QLabel*> headings_;
    std::vector<Line> modelLines_;
    std::vector<Line> windowLines_;
    std::vector<Line> projectLines_;
};

} // namespace meterly::ui
