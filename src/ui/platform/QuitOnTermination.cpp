#include "ui/platform/QuitOnTermination.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace meterly::ui {
namespace {

// The write end of the pipe from the signal handler to the event loop.
volatile sig_atomic_t signalWriteEnd = -1;

extern "C" void onTermination(int) {
    const int fd = signalWriteEnd;
    if (fd >= 0) {
        const char byte = 1;
        // Only async-signal-safe calls here; a full pipe already has a wake-up in it.
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
}

} // namespace

QuitOnTermination::QuitOnTermination(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        return; // the default handlers stay: the app still ends, only less tidily
    }
    signalWriteEnd = fds[0];
    notifier_ = new QSocketNotifier(fds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [fd = fds[1]] {
        char buffer[16];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

QuitOnTermination::~QuitOnTermination() {
    if (notifier_ != nullptr) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        const int writeEnd = signalWriteEnd;
        signalWriteEnd = -1;
        ::close(writeEnd);
        ::close(static_cast<int>(notifier_->socket()));
    }
}

} // namespace meterly::ui
