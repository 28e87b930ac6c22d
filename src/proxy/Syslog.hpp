#pragma once

#include "proxy/SystemLog.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace meterly::proxy {

// The system log as syslog(3) writes it, with ident "com.meterly.proxy" at the informational
// level (facility user, the process id after the ident), without syslog(3)'s cost per line on
// the caller's thread: a process-wide lock, a blocking send, and (while the log socket is
// missing) a socket made, connected and closed for every line. write() only formats the line and
// queues it; a writer thread of its own sends what has gathered, at most once in ten milliseconds,
// as datagrams on one socket that it connects once. The writer waits for a busy log as syslog(3)
// does, so that no line is dropped for it; the callers never wait. Lines that cannot be delivered
// (no log socket, as in containers without /dev/log, where syslog(3) drops them as well, or more
// than the queue holds) are counted, and the count is reported in the log as soon as it takes
// lines again; the socket is tried again at most once per `retryInterval`. Queued lines are
// delivered before destruction returns. Safe from any thread.
class Syslog final : public SystemLog {
public:
    explicit Syslog(std::string socketPath = "/dev/log",
                    std::chrono::milliseconds retryInterval = std::chrono::seconds(1));
    ~Syslog() override;
    Syslog(const Syslog&) = delete;
    Syslog& operator=(const Syslog&) = delete;

    void write(std::string_view line) override;

    // Returns once every line written before the call has been delivered or counted as lost.
    void flush();

private:
    // Datagrams back to back in one buffer, so that queueing a line allocates nothing once the
    // buffers have grown.
    struct Batch {
        std::string bytes;
        // Where each datagram ends in `bytes`.
        std::vector<std::size_t> ends;

        std::size_t size() const { return ends.size(); }
        bool empty() const { return ends.empty(); }
        std::string_view datagram(std::size_t index) const;
        // Closes the datagram appended to `bytes` since the last one.
        void endDatagram() { ends.push_back(bytes.size()); }
        void clear();
    };

    void run();
    void deliver(Batch& lines, std::size_t overflowed);
    std::size_t sendToSocket(const Batch& lines);
    bool connectSocket();

    const std::string socketPath_;
    const std::chrono::milliseconds retryInterval_;
    const std::string tag_;

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable handled_;
    Batch queued_;
    std::size_t overflowed_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t handledCount_ = 0;
    bool writerWaiting_ = false;
    bool stopping_ = false;

    // Touched by the writer thread only.
    int socket_ = -1;
    bool connected_ = false;
    std::chrono::steady_clock::time_point nextAttempt_;
    std::size_t lost_ = 0;

    std::thread writer_;
};

} // namespace meterly::proxy
