#include "ui/popover/HistorySection.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/Divider.hpp"
#include "ui/widgets/ElidedLabel.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {
namespace {

QVBoxLayout* block(QWidget* widget, QLabel* heading) {
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(heading);
    return layout;
}

} // namespace

HistorySection::HistorySection(QWidget* parent)
    : QWidget(parent), models_(new QWidget(this)), afterModels_(new Divider(this)),
      windows_(new QWidget(this)), beforeProjects_(new Divider(this)),
      projects_(new QWidget(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    auto heading = [this](QWidget* owner, const QString& text) {
        auto* label = PlainText::label(owner);
        label->setText(text);
        headings_.push_back(label);
        return label;
    };
    modelsLayout_ = block(models_, heading(models_, QStringLiteral("Models this week")));
    windowsLayout_ = block(windows_, heading(windows_, QStringLiteral("Tokens used")));
    projectsLayout_ = block(projects_, heading(projects_, QStringLiteral("Top projects today")));
    column->addWidget(models_);
    column->addWidget(afterModels_);
    column->addWidget(windows_);
    column->addWidget(beforeProjects_);
    column->addWidget(projects_);
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void HistorySection::setRevealAction(std::function<void(const QString&)> reveal) {
    reveal_ = std::move(reveal);
}

HistorySection::Line HistorySection::makeLine(QWidget* owner, QVBoxLayout* layout, bool withLink) {
    Line line;
    line.row = new QWidget(owner);
    auto* row = new QHBoxLayout(line.row);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    line.label = new ElidedLabel(Qt::ElideMiddle, line.row);
    row->addWidget(line.label, 1, Qt::AlignVCenter);
    if (withLink) {
        line.link = new TextButton(QString(), line.row);
        line.link->setElideMode(Qt::ElideMiddle);
        row->addWidget(line.link, 1, Qt::AlignVCenter);
        auto* link = line.link;
        connect(link, &TextButton::clicked, this, [this, link] {
            const QString path = link->property("path").toString();
            if (reveal_ && !path.isEmpty()) {
                reveal_(path);
            }
        });
    }
    row->addStretch(0);
    line.tokens = PlainText::label(line.row);
    row->addWidget(line.tokens, 0, Qt::AlignVCenter);
    layout->addWidget(line.row);
    return line;
}

void HistorySection::fill(std::vector<Line>& lines, QWidget* owner, QVBoxLayout* layout,
                          std::size_t count, bool withLink) {
    while (lines.size() < count) {
        lines.push_back(makeLine(owner, layout, withLink));
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i].row->setVisible(i < count);
    }
}

void HistorySection::setContent(const HistoryContent& content) {
    content_ = content;
    fill(modelLines_, models_, modelsLayout_, content.models.size(), false);
    for (std::size_t i = 0; i < content.models.size(); ++i) {
        modelLines_[i].label->setText(content.models[i].label);
        modelLines_[i].tokens->setText(content.models[i].tokens);
    }
    fill(windowLines_, windows_, windowsLayout_, content.windows.size(), false);
    for (std::size_t i = 0; i < content.windows.size(); ++i) {
        windowLines_[i].label->setText(content.windows[i].label);
        windowLines_[i].tokens->setText(content.windows[i].tokens);
    }
    fill(projectLines_, projects_, projectsLayout_, content.projects.size(), true);
    for (std::size_t i = 0; i < content.projects.size(); ++i) {
        const auto& project = content.projects[i];
        auto& line = projectLines_[i];
        const bool revealable = project.revealablePath.has_value();
        line.label->setVisible(!revealable);
        line.link->setVisible(revealable);
        line.label->setText(project.displayName);
        line.link->setTitle(project.displayName);
        line.link->setProperty("path", project.revealablePath.value_or(QString()));
        PlainText::setToolTip(line.link, project.revealablePath.value_or(QString()));
        line.tokens->setText(project.tokens);
    }
    const bool hasModels = !content.models.empty();
    const bool hasProjects = !content.projects.empty();
    models_->setVisible(hasModels);
    afterModels_->setVisible(hasModels);
    beforeProjects_->setVisible(hasProjects);
    projects_->setVisible(hasProjects);
    restyle();
}

void HistorySection::restyle() {
    const Palette palette = Palette::current();
    for (auto* heading : headings_) {
        Typography::style(heading, Typography::system(11, QFont::Medium), palette.primary);
    }
    const QFont caption = Typography::caption();
    const QFont digits = Typography::monospacedDigits(caption);
    for (auto* lines : {&modelLines_, &windowLines_, &projectLines_}) {
        for (auto& line : *lines) {
            line.label->setFont(caption);
            line.label->setColour(palette.secondary);
            if (line.link != nullptr) {
                line.link->setFont(caption);
                line.link->setColours(palette.blue, palette.blue.lighter(120));
            }
            Typography::style(line.tokens, digits, palette.primary);
        }
    }
}

} // namespace meterly::ui
