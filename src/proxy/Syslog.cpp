#include "proxy/Syslog.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace meterly::proxy {

namespace {

constexpr std::string_view ident = "com.meterly.proxy";
// Facility user (1) and level informational (6), encoded as syslog(3) encodes them.
constexpr std::string_view priority = "<14>";
// How long the writer lets lines gather after sending, so that a busy proxy wakes it rarely: a
// wake-up every millisecond cost a proxy serving one connection several per cent of its pace.
constexpr auto gatherInterval = std::chrono::milliseconds(10);
// Lines held at most while the log does not take them; beyond, lines are counted as lost.
constexpr std::size_t queueLimit = 65536;
// Datagrams handed to the kernel in one call.
constexpr std::size_t batchSize = 64;
// Queue memory kept for the next lines after a delivery; more is given back.
constexpr std::size_t retainedBatchBytes = 1 << 20;

// "Mmm dd hh:mm:ss" in local time, as syslog(3) stamps a line; each thread formats it once a
// second, so that lines do not queue for the time-zone lock.
std::string_view timestamp() {
    thread_local std::time_t second = -1;
    thread_local char text[32] = {};
    thread_local std::size_t length = 0;
    const std::time_t now = std::time(nullptr);
    if (now != second) {
        std::tm local{};
        localtime_r(&now, &local);
        length = std::strftime(text, sizeof text, "%h %e %T", &local);
        second = now;
    }
    return {text, length};
}

} // namespace

Syslog::Syslog(std::string socketPath, std::chrono::milliseconds retryInterval)
    : socketPath_(std::move(socketPath)), retryInterval_(retryInterval),
      tag_(std::string(ident) + "[" + std::to_string(::getpid()) + "]: "),
      socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)), writer_([this] { run(); }) {}

Syslog::~Syslog() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

void Syslog::write(std::string_view line) {
    const auto stamp = timestamp();
    bool wakeWriter = false;
    {
        std::lock_guard guard(lock_);
        ++written_;
        if (queued_.size() >= queueLimit) {
            ++overflowed_;
        } else {
            auto& bytes = queued_.bytes;
            bytes += priority;
            bytes += stamp;
            bytes += ' ';
            bytes += tag_;
            bytes += line;
            queued_.endDatagram();
        }
        wakeWriter = std::exchange(writerWaiting_, false);
    }
    if (wakeWriter) {
        wake_.notify_one();
    }
}

void Syslog::flush() {
    std::unique_lock guard(lock_);
    const std::uint64_t target = written_;
    if (std::exchange(writerWaiting_, false)) {
        wake_.notify_one();
    }
    handled_.wait(guard, [&] { return handledCount_ >= target; });
}

std::string_view Syslog::Batch::datagram(std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends[index - 1];
    return std::string_view(bytes).substr(begin, ends[index] - begin);
}

void Syslog::Batch::clear() {
    if (bytes.capacity() > retainedBatchBytes) {
        // A burst (the log away for a while) does not keep its memory.
        *this = Batch{};
        return;
    }
    bytes.clear();
    ends.clear();
}

void Syslog::run() {
    Batch lines;
    std::unique_lock guard(lock_);
    while (true) {
        if (queued_.empty() && overflowed_ == 0) {
            if (stopping_) {
                return;
            }
            writerWaiting_ = true;
            wake_.wait(guard, [this] { return !writerWaiting_ || stopping_; });
            writerWaiting_ = false;
            continue;
        }
        std::swap(lines, queued_);
        const std::size_t overflowed = std::exchange(overflowed_, 0);
        const bool stopping = stopping_;
        guard.unlock();
        deliver(lines, overflowed);
        const std::size_t handledNow = lines.size() + overflowed;
        lines.clear();
        guard.lock();
        handledCount_ += handledNow;
        handled_.notify_all();
        if (!stopping) {
            // Lines that arrive meanwhile wait for the next round without waking the writer.
            guard.unlock();
            std::this_thread::sleep_for(gatherInterval);
            guard.lock();
        }
    }
}

void Syslog::deliver(Batch& lines, std::size_t overflowed) {
    lost_ += overflowed;
    if (lost_ > 0 && (connected_ || connectSocket())) {
        // What could not be delivered is reported ahead of the lines that follow it.
        Batch report;
        report.bytes = std::string(priority) + std::string(timestamp()) + " " + tag_ +
                       std::to_string(lost_) + " log lines lost: the system log did not take them";
        report.endDatagram();
        if (sendToSocket(report) == 1) {
            lost_ = 0;
        }
    }
    const std::size_t sent = sendToSocket(lines);
    lost_ += lines.size() - sent;
}

// Sends lines from the first on, waiting for the log when it is busy; returns how many it took.
std::size_t Syslog::sendToSocket(const Batch& lines) {
    if (!connected_ && !connectSocket()) {
        return 0;
    }
    std::size_t sent = 0;
    bool reconnected = false;
    mmsghdr messages[batchSize];
    iovec parts[batchSize];
    while (sent < lines.size()) {
        const std::size_t count = std::min(batchSize, lines.size() - sent);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view line = lines.datagram(sent + i);
            parts[i].iov_base = const_cast<char*>(line.data());
            parts[i].iov_len = line.size();
            messages[i] = mmsghdr{};
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int taken = ::sendmmsg(socket_, messages, static_cast<unsigned>(count), MSG_NOSIGNAL);
        if (taken > 0) {
            sent += static_cast<std::size_t>(taken);
            reconnected = false;
            continue;
        }
        if (taken < 0 && errno == EINTR) {
            continue;
        }
        if (taken < 0 && errno == EMSGSIZE) {
            // One line too long for the log: it alone is lost.
            ++sent;
            ++lost_;
            continue;
        }
        if (reconnected) {
            break;
        }
        // The log socket went away (the journal restarted): connect once more.
        connected_ = false;
        nextAttempt_ = {};
        if (!connectSocket()) {
            break;
        }
        reconnected = true;
    }
    return sent;
}

bool Syslog::connectSocket() {
    const auto now = std::chrono::steady_clock::now();
    if (socket_ < 0 || now < nextAttempt_) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.size() < sizeof address.sun_path) {
        std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
        if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            connected_ = true;
            return true;
        }
    }
    nextAttempt_ = now + retryInterval_;
    return false;
}

} // namespace meterly::proxy
