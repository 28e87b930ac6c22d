#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <string>

class QLabel;

namespace meterly::ui {

// The app's windows by identifier ("meterly.setup", "meterly.settings"). A window is made on
// first opening from its registered content and kept; opening it again brings it to the front.
// Each window can carry a notice line above its content (such as "no tray on this desktop").
class WindowRegistry {
public:
    static constexpr const char* setupID = "meterly.setup";
    static constexpr const char* settingsID = "meterly.settings";
    static constexpr int minimumWidth = 380;

    // Makes the window's content; the registry owns what it returns.
    using ContentFactory = std::function<QWidget*()>;

    WindowRegistry() = default;
    ~WindowRegistry();
    WindowRegistry(const WindowRegistry&) = delete;
    WindowRegistry& operator=(const WindowRegistry&) = delete;

    // Registers (or replaces, for windows not yet made) the window `id` with its title.
    void add(const std::string& id, const QString& title, ContentFactory content);
    bool contains(const std::string& id) const;

    // Opens the window `id`, centred on the screen the first time, and brings it to the front.
    // A notice shows above its content (none hides an earlier one). Returns the window, or
    // nullptr for an identifier nobody registered.
    QWidget* open(const std::string& id, std::optional<QString> notice = std::nullopt);

    // The window when it has been made, else nullptr.
    QWidget* window(const std::string& id) const;

private:
    struct Entry {
        QString title;
        ContentFactory content;
        QPointer<QWidget> window;
        QPointer<QLabel> notice;
    };
    std::map<std::string, Entry, std::less<>> entries_;
};

} // namespace meterly::ui
