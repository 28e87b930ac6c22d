#include "ui/scene/WindowRegistry.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace meterly::ui {

WindowRegistry::~WindowRegistry() {
    for (auto& [id, entry] : entries_) {
        delete entry.window.data();
    }
}

void WindowRegistry::add(const std::string& id, const QString& title, ContentFactory content) {
    auto& entry = entries_[id];
    entry.title = title;
    entry.content = std::move(content);
}

bool WindowRegistry::contains(const std::string& id) const {
    return entries_.contains(id);
}

QWidget* WindowRegistry::window(const std::string& id) const {
    auto found = entries_.find(id);
    return found == entries_.end() ? nullptr : found->second.window.data();
}

QWidget* WindowRegistry::open(const std::string& id, std::optional<QString> notice) {
    auto found = entries_.find(id);
    if (found == entries_.end()) {
        return nullptr;
    }
    Entry& entry = found->second;
    const bool fresh = entry.window == nullptr;
    if (fresh) {
        auto* window = new QWidget(nullptr, Qt::Window);
        window->setWindowTitle(entry.title);
        window->setObjectName(QString::fromStdString(id));
        auto* column = new QVBoxLayout(window);
        // Only as large as its content: the window cannot be resized past it.
        column->setSizeConstraint(QLayout::SetFixedSize);
        // Never narrower than a readable line, whatever the content.
        const auto margins = column->contentsMargins();
        column->addSpacerItem(new QSpacerItem(minimumWidth - margins.left() - margins.right(), 0,
                                              QSizePolicy::Fixed, QSizePolicy::Fixed));
        auto* line = PlainText::label(window);
        line->setWordWrap(true);
        Typography::style(line, Typography::caption(), Palette::current().orange);
        line->hide();
        column->addWidget(line);
        if (entry.content) {
            if (QWidget* content = entry.content()) {
                column->addWidget(content);
            }
        }
        entry.window = window;
        entry.notice = line;
    }
    entry.notice->setText(notice.value_or(QString()));
    entry.notice->setVisible(notice.has_value());
    QWidget* window = entry.window;
    window->adjustSize();
    if (fresh) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
        }
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace meterly::ui
