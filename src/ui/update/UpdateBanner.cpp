#include "ui/update/UpdateBanner.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/LineLimitedLabel.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/Spinner.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

namespace meterly::ui {
namespace {

QHBoxLayout* row(QWidget* owner, int spacing) {
    auto* layout = new QHBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QVBoxLayout* stack(QWidget* owner, int spacing) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

void call(const std::function<void()>& action) {
    if (action) {
        action();
    }
}

} // namespace

UpdateBanner::UpdateBanner(QWidget* parent)
    : QWidget(parent), title_(PlainText::label(this)), notesText_(new LineLimitedLabel(3, this)),
      idle_(new QWidget(this)), update_(new TextButton(QStringLiteral("Update"), idle_)),
      notes_(new TextButton(QStringLiteral("What's new"), idle_)), download_(new QWidget(this)),
      progress_(new QProgressBar(download_)), progressText_(PlainText::label(download_)),
      busy_(new QWidget(this)), spinner_(Spinner::create(busy_, 4)),
      busyText_(PlainText::label(busy_)), failed_(new QWidget(this)),
      failure_(PlainText::label(failed_)),
      tryAgain_(new TextButton(QStringLiteral("Try again"), failed_)),
      browser_(new TextButton(QStringLiteral("Download in browser"), failed_)) {
    auto* column = stack(this, 6);
    column->setContentsMargins(8, 8, 8, 8);
    column->addWidget(title_);
    column->addWidget(notesText_);

    auto* idleRow = row(idle_, 10);
    idleRow->addWidget(update_, 0, Qt::AlignVCenter);
    idleRow->addWidget(notes_, 0, Qt::AlignVCenter);
    idleRow->addStretch(1);
    column->addWidget(idle_);

    auto* downloading = stack(download_, 3);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(4);
    downloading->addWidget(progress_);
    downloading->addWidget(progressText_);
    column->addWidget(download_);

    auto* busyRow = row(busy_, 6);
    busyRow->addWidget(spinner_, 0, Qt::AlignVCenter);
    busyRow->addWidget(busyText_, 0, Qt::AlignVCenter);
    busyRow->addStretch(1);
    column->addWidget(busy_);

    auto* failedStack = stack(failed_, 3);
    failure_->setWordWrap(true);
    failedStack->addWidget(failure_);
    auto* failedRow = new QHBoxLayout();
    failedRow->setSpacing(10);
    failedRow->addWidget(tryAgain_, 0, Qt::AlignVCenter);
    failedRow->addWidget(browser_, 0, Qt::AlignVCenter);
    failedRow->addStretch(1);
    failedStack->addLayout(failedRow);
    column->addWidget(failed_);

    connect(update_, &TextButton::clicked, this, [this] { call(actions_.update); });
    connect(notes_, &TextButton::clicked, this, [this] { call(actions_.openNotes); });
    connect(tryAgain_, &TextButton::clicked, this, [this] { call(actions_.tryAgain); });
    connect(browser_, &TextButton::clicked, this, [this] { call(actions_.downloadInBrowser); });

    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setContent(content_);
    ThemeWatch::follow(this, [this] { restyle(); });
}

void UpdateBanner::setActions(Actions actions) {
    actions_ = std::move(actions);
}

void UpdateBanner::setContent(const UpdateBannerContent& content) {
    content_ = content;
    using Stage = UpdateBannerContent::Stage;
    title_->setText(content.title);
    notesText_->setText(content.notes.value_or(QString()));
    notesText_->setVisible(content.notes.has_value());
    idle_->setVisible(content.stage == Stage::idle);
    notes_->setVisible(content.hasNotesURL);
    download_->setVisible(content.stage == Stage::downloading);
    progress_->setValue(static_cast<int>(std::lround(content.progress * 1000)));
    progressText_->setText(content.progressText);
    busy_->setVisible(content.stage == Stage::installing || content.stage == Stage::restarting);
    busyText_->setText(content.busyText);
    failed_->setVisible(content.stage == Stage::failed);
    failure_->setText(content.failure);
    restyle();
}

void UpdateBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 6, 6);
    painter.fillPath(path, Palette::withOpacity(Palette::current().blue, 0.1));
}

void UpdateBanner::restyle() {
    const Palette palette = Palette::current();
    Typography::style(title_, Typography::system(11, QFont::DemiBold), palette.primary);
    notesText_->setFont(Typography::caption2());
    notesText_->setColour(palette.secondary);
    for (auto* button : {update_, tryAgain_}) {
        button->setFont(Typography::caption());
        button->setColours(palette.blue, palette.blue.lighter(120));
    }
    for (auto* button : {notes_, browser_}) {
        button->setFont(Typography::caption2());
        button->setColours(palette.secondary, palette.primary);
    }
    Typography::style(progressText_, Typography::monospacedDigits(Typography::caption2()),
                      palette.secondary);
    Typography::style(busyText_, Typography::caption2(), palette.secondary);
    Typography::style(failure_, Typography::caption2(), palette.red);
}

} // namespace meterly::ui
