#include "ui/tray/XTraySelectionWatch.hpp"

#include <QSocketNotifier>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace meterly::ui {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPointer = std::unique_ptr<Reply, FreeReply>;

} // namespace

XTraySelectionWatch::XTraySelectionWatch(const std::string& display, QObject* parent)
    : QObject(parent) {
    if (display.empty()) {
        return;
    }
    int screenNumber = 0;
    connection_ = xcb_connect(display.c_str(), &screenNumber);
    if (connection_ == nullptr || xcb_connection_has_error(connection_) != 0) {
        stop();
        return;
    }
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection_, &xcb_xfixes_id);
    if (xfixes == nullptr || xfixes->present == 0) {
        stop();
        return;
    }
    firstEvent_ = xfixes->first_event;
    // XFixes answers only a client that has said which version it speaks.
    ReplyPointer<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        connection_, xcb_xfixes_query_version(connection_, 1, 0), nullptr));

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    if (version == nullptr || screens.rem == 0) {
        stop();
        return;
    }
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
    ReplyPointer<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr));
    if (atom == nullptr) {
        stop();
        return;
    }
    selection_ = atom->atom;
    // Events first, then the owner now: a change in between arrives as an event.
    xcb_xfixes_select_selection_input(connection_, screens.data->root, selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    ReplyPointer<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, selection_), nullptr));
    owner_ = owner != nullptr ? owner->owner : XCB_NONE;

    notifier_ =
        new QSocketNotifier(xcb_get_file_descriptor(connection_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &XTraySelectionWatch::readEvents);
    // Events read along with the replies above wait in the connection's queue, not the socket.
    QMetaObject::invokeMethod(this, &XTraySelectionWatch::readEvents, Qt::QueuedConnection);
}

XTraySelectionWatch::~XTraySelectionWatch() {
    stop();
}

void XTraySelectionWatch::stop() {
    if (notifier_ != nullptr) {
        // Possibly from within its own signal: deleted later (with the watch at the latest).
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }
}

void XTraySelectionWatch::readEvents() {
    if (connection_ == nullptr) {
        return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        ReplyPointer<xcb_generic_event_t> held(event);
        if ((event->response_type & 0x7f) != firstEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
            continue;
        }
        const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        if (notify->selection != selection_) {
            continue;
        }
        const bool taken = notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER &&
                           notify->owner != XCB_NONE;
        owner_ = taken ? notify->owner : XCB_NONE;
        if (onChanged) {
            onChanged(taken);
        }
    }
    if (xcb_connection_has_error(connection_) != 0) {
        // The display went away: no tray on it any more.
        const bool had = owned();
        owner_ = XCB_NONE;
        stop();
        if (had && onChanged) {
            onChanged(false);
        }
    }
}

} // namespace meterly::ui
