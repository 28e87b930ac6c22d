#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

class QSocketNotifier;
struct xcb_connection_t;

namespace meterly::ui {

// Follows the owner of the X system tray selection (_NET_SYSTEM_TRAY_S<screen>) of a display:
// the XEmbed tray host. The X server tells of every change of owner (XFixes selection events)
// on a connection of this watch's own, so nothing is asked again and again.
class XTraySelectionWatch : public QObject {
    Q_OBJECT
public:
    // `display` as in DISPLAY (":0"). Without a display, or one without XFixes, no tray is ever
    // owned.
    explicit XTraySelectionWatch(const std::string& display, QObject* parent = nullptr);
    ~XTraySelectionWatch() override;

    // Whether a tray host holds the selection now.
    bool owned() const { return owner_ != 0; }
    // Whether the display could be watched at all.
    bool watching() const { return notifier_ != nullptr; }

    // The owner changed: `newHost` is true when a (new) host took the selection.
    std::function<void(bool newHost)> onChanged;

private:
    void readEvents();
    void stop();

    xcb_connection_t* connection_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    std::uint8_t firstEvent_ = 0;
    std::uint32_t selection_ = 0;
    std::uint32_t owner_ = 0;
};

} // namespace meterly::ui
