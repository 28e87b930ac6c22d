// Measures what the relay adds over reaching the same local TLS upstream directly: latency of a
// small exchange on a kept connection, throughput of a 64 MiB body, the delay added to each event
// of a streamed response, and 128 concurrent kept connections with the proxy's resident memory.
// Prints figures and whether each meets its target; exits 1 when one does not.

#include "proxy/ProxyConfiguration.hpp"
#include "proxy/ProxyLog.hpp"
#include "proxy/ProxyServer.hpp"
#include "proxy/ProxyUsageSource.hpp"
#include "support/LocalTLSServer.hpp"
#include "support/ScopedEnvironment.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace meterly;
using namespace meterly::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t bigBodySize = 64 * 1024 * 1024;
constexpr int eventCount = 200;

double microseconds(Clock::duration span) {
    return std::chrono::duration<double, std::micro>(span).count();
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// Event send times of the current streamed response, written by the upstream's thread.
std::mutex eventLock;
std::vector<Clock::time_point> eventSent;

void respond(UpstreamConnection& connection, const HTTPMessage& request) {
    const auto target = request.target();
    if (target == "/big") {
        static const std::string piece(1 << 20, 'b');
        connection.write(responseHead(200, "OK",
                                      {{"Content-Length", std::to_string(bigBodySize)},
                                       {"Content-Type", "application/octet-stream"}}));
        for (std::size_t sent = 0; sent < bigBodySize; sent += piece.size()) {
            connection.write(piece);
        }
    } else if (target == "/events") {
        connection.write(responseHead(
            200, "OK", {{"Transfer-Encoding", "chunked"}, {"Content-Type", "text/event-stream"}}));
        for (int i = 0; i < eventCount; ++i) {
            const std::string event = "event: delta\ndata: {\"n\":" + std::to_string(i) + "}\n\n";
            char size[16];
            std::snprintf(size, sizeof size, "%zx\r\n", event.size());
            {
                std::lock_guard guard(eventLock);
                eventSent[static_cast<std::size_t>(i)] = Clock::now();
            }
            connection.write(size + event + "\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        connection.write("0\r\n\r\n");
    } else {
        connection.write(cannedResponse(200, "OK",
                                        {{"Content-Type", "application/json"},
                                         {"anthropic-ratelimit-unified-5h-utilization", "0.42"},
                                         {"anthropic-ratelimit-unified-5h-reset", "1700000000"},
                                         {"anthropic-ratelimit-unified-5h-status", "allowed"}},
                                        R"({"id":"msg","content":[{"type":"text","text":"ok"}]})"));
    }
}

std::unique_ptr<TestClient> connectDirect(const LocalTLSServer& upstream) {
    return std::make_unique<TestClient>(upstream.port(), upstream.certificateFile(), "localhost",
                                        30);
}

std::unique_ptr<TestClient> connectProxy(std::uint16_t port) {
    return std::make_unique<TestClient>(port, 30);
}

const std::string smallRequest =
    "POST /v1/messages HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
    "Content-Length: 19\r\n\r\n{\"model\":\"m\",\"x\":1}";

std::vector<double> exchangeTimes(TestClient& client, int count) {
    std::vector<double> times;
    for (int i = 0; i < count + 200; ++i) {
        const auto start = Clock::now();
        client.send(smallRequest);
        const auto response = client.readResponse();
        const auto end = Clock::now();
        if (!response || response->status() != 200) {
            std::fprintf(stderr, "small exchange failed at %d: %s\n", i,
                         response ? response->head.c_str() : "no response");
            std::exit(2);
        }
        if (i >= 200) {
            times.push_back(microseconds(end - start));
        }
    }
    return times;
}

// Seconds to receive the whole 64 MiB body.
double bigBodySeconds(TestClient& client) {
    const auto start = Clock::now();
    client.send("GET /big HTTP/1.1\r\nHost: localhost\r\n\r\n");
    auto head = client.reader().readHead();
    if (!head) {
        std::exit(2);
    }
    std::size_t received = client.reader().buffered().size();
    client.reader().buffered().clear();
    std::vector<char> buffer(1 << 20);
    while (received < bigBodySize) {
        const long count = client.readSome(buffer.data(), buffer.size());
        if (count <= 0) {
            std::fprintf(stderr, "big body cut off at %zu\n", received);
            std::exit(2);
        }
        received += static_cast<std::size_t>(count);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Per-event delay from the upstream's write to the client's read, in microseconds.
std::vector<double> eventDelays(TestClient& client) {
    {
        std::lock_guard guard(eventLock);
        eventSent.assign(eventCount, Clock::time_point());
    }
    client.send("GET /events HTTP/1.1\r\nHost: localhost\r\nAccept: text/event-stream\r\n\r\n");
    std::vector<Clock::time_point> arrived(eventCount);
    std::string seen = client.reader().readHead().value_or("");
    seen = client.reader().buffered();
    client.reader().buffered().clear();
    int next = 0;
    std::vector<char> buffer(65536);
    std::size_t searchFrom = 0;
    while (next < eventCount) {
        // Every complete event already in hand arrived with the last read.
        while (next < eventCount) {
            const auto marker = "{\"n\":" + std::to_string(next) + "}";
            const auto at = seen.find(marker, searchFrom);
            if (at == std::string::npos) {
                break;
            }
            if (arrived[static_cast<std::size_t>(next)] == Clock::time_point()) {
                arrived[static_cast<std::size_t>(next)] = Clock::now();
            }
            searchFrom = at;
            ++next;
        }
        if (next >= eventCount) {
            break;
        }
        const long count = client.readSome(buffer.data(), buffer.size());
        if (count <= 0) {
            std::fprintf(stderr, "event stream cut off\n");
            std::exit(2);
        }
        seen.append(buffer.data(), static_cast<std::size_t>(count));
    }
    // The end of the body.
    while (seen.find("0\r\n\r\n", searchFrom) == std::string::npos) {
        const long count = client.readSome(buffer.data(), buffer.size());
        if (count <= 0) {
            break;
        }
        seen.append(buffer.data(), static_cast<std::size_t>(count));
    }
    std::vector<double> delays;
    std::lock_guard guard(eventLock);
    for (int i = 0; i < eventCount; ++i) {
        delays.push_back(microseconds(arrived[static_cast<std::size_t>(i)] -
                                      eventSent[static_cast<std::size_t>(i)]));
    }
    return delays;
}

long residentKiB(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field));
        }
    }
    return -1;
}

proxy::ProxyConfiguration configurationFor(std::uint16_t upstreamPort) {
    return proxy::ProxyConfiguration::withSystemLimits(0, "localhost", upstreamPort);
}

// The proxy alone in a child process, so that its resident memory can be read on its own. The
// child is forked before this process starts any thread; it learns the upstream's port and the
// trusted certificate over a pipe and answers with its own port.
struct ProxyChild {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;

    static ProxyChild fork() {
        int down[2];
        int up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) {
            std::exit(2);
        }
        ProxyChild child;
        child.pid = ::fork();
        if (child.pid == 0) {
            ::close(down[1]);
            ::close(up[0]);
            std::uint16_t upstreamPort = 0;
            char certificate[4096] = {};
            if (::read(down[0], &upstreamPort, sizeof upstreamPort) != sizeof upstreamPort ||
                ::read(down[0], certificate, sizeof certificate - 1) <= 0) {
                ::_exit(0);
            }
            ::setenv("SSL_CERT_FILE", certificate, 1);
            proxy::ProxyLog::setSink([](const proxy::ProxyLogEvent&) {});
            proxy::ProxyServer server(configurationFor(upstreamPort),
                                      std::make_shared<proxy::ProxyUsageSource>());
            const std::uint16_t port = server.start();
            if (::write(up[1], &port, sizeof port) != sizeof port) {
                ::_exit(2);
            }
            char done;
            (void)::read(down[0], &done, 1);
            ::_exit(0);
        }
        ::close(down[0]);
        ::close(up[1]);
        child.toChild = down[1];
        child.fromChild = up[0];
        return child;
    }

    std::uint16_t start(std::uint16_t upstreamPort, const std::string& certificate) {
        std::uint16_t port = 0;
        if (::write(toChild, &upstreamPort, sizeof upstreamPort) != sizeof upstreamPort ||
            ::write(toChild, certificate.c_str(), certificate.size()) !=
                static_cast<long>(certificate.size()) ||
            ::read(fromChild, &port, sizeof port) != sizeof port) {
            std::exit(2);
        }
        return port;
    }

    void end() {
        (void)::write(toChild, "x", 1);
        ::close(toChild);
        ::waitpid(pid, nullptr, 0);
    }
};

bool report(const char* what, bool met) {
    std::printf("  %-58s %s\n", what, met ? "met" : "NOT MET");
    return met;
}

} // namespace

int main() {
    ::signal(SIGPIPE, SIG_IGN);
    ProxyChild child = ProxyChild::fork();

    LocalTLSServer upstream(respond);
    ScopedEnvironment trust("SSL_CERT_FILE", upstream.certificateFile().string());
    proxy::ProxyLog::setSink([](const proxy::ProxyLogEvent&) {});
    auto usage = std::make_shared<proxy::ProxyUsageSource>();
    const char* threadsText = std::getenv("METERLY_BENCH_THREADS");
    proxy::ProxyServer server(configurationFor(upstream.port()), usage,
                              threadsText ? std::strtoul(threadsText, nullptr, 10) : 4);
    const auto proxyPort = server.start();
    bool allMet = true;

    // 1. Small exchanges on a kept connection.
    constexpr int exchanges = 5000;
    auto directClient = connectDirect(upstream);
    auto proxyClient = connectProxy(proxyPort);
    const auto direct = exchangeTimes(*directClient, exchanges);
    const auto relayed = exchangeTimes(*proxyClient, exchanges);
    const double directMedian = percentile(direct, 0.5);
    const double relayedMedian = percentile(relayed, 0.5);
    const double directP99 = percentile(direct, 0.99);
    const double relayedP99 = percentile(relayed, 0.99);
    std::printf("Small request and response on a kept connection (%d exchanges)\n", exchanges);
    std::printf("  direct   median %8.1f us   p99 %8.1f us\n", directMedian, directP99);
    std::printf("  relayed  median %8.1f us   p99 %8.1f us\n", relayedMedian, relayedP99);
    std::printf("  added    median %8.1f us   p99 %8.1f us\n", relayedMedian - directMedian,
                relayedP99 - directP99);
    allMet &= report("added median latency under 100 us", relayedMedian - directMedian < 100.0);

    // 2. A 64 MiB body, best of three.
    double directSeconds = 1e9;
    double relayedSeconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        directSeconds = std::min(directSeconds, bigBodySeconds(*directClient));
        relayedSeconds = std::min(relayedSeconds, bigBodySeconds(*proxyClient));
    }
    const double mib = static_cast<double>(bigBodySize) / (1024.0 * 1024.0);
    std::printf("64 MiB response body (best of 3)\n");
    std::printf("  direct   %8.1f MiB/s\n  relayed  %8.1f MiB/s   ratio %.2f\n",
                mib / directSeconds, mib / relayedSeconds, directSeconds / relayedSeconds);
    allMet &=
        report("relayed throughput at least 0.8 of direct", directSeconds / relayedSeconds >= 0.8);

    // 3. A streamed (chunked, server-sent events) response.
    const auto directDelays = eventDelays(*directClient);
    const auto relayedDelays = eventDelays(*proxyClient);
    const double directEventMedian = percentile(directDelays, 0.5);
    std::vector<double> added;
    for (const double delay : relayedDelays) {
        added.push_back(delay - directEventMedian);
    }
    std::printf(
        "Streamed response, %d events 2 ms apart (delay from upstream write to client read)\n",
        eventCount);
    std::printf("  direct   median %8.1f us   p99 %8.1f us\n", directEventMedian,
                percentile(directDelays, 0.99));
    std::printf("  relayed  median %8.1f us   p99 %8.1f us   max %8.1f us\n",
                percentile(relayedDelays, 0.5), percentile(relayedDelays, 0.99),
                percentile(relayedDelays, 1.0));
    std::printf("  added    median %8.1f us   p99 %8.1f us   max %8.1f us\n",
                percentile(added, 0.5), percentile(added, 0.99), percentile(added, 1.0));
    allMet &= report("under 1 ms added per event (p99)", percentile(added, 0.99) < 1000.0);

    // 4. 128 concurrent kept connections through a proxy in its own process.
    const auto childPort = child.start(upstream.port(), upstream.certificateFile().string());
    const long idleKiB = residentKiB(child.pid, "VmRSS:");
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 128; ++i) {
        clients.push_back(connectProxy(childPort));
    }
    std::atomic<int> served{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (auto& client : clients) {
        threads.emplace_back([&served, &client] {
            for (int round = 0; round < 20; ++round) {
                client->send(smallRequest);
                const auto response = client->readResponse();
                if (response && response->status() == 200) {
                    ++served;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long busyKiB = residentKiB(child.pid, "VmRSS:");
    const long peakKiB = residentKiB(child.pid, "VmHWM:");
    std::printf("128 concurrent kept connections, 20 requests each\n");
    std::printf("  served %d of %d in %.2f s (%.0f requests/s)\n", served.load(), 128 * 20, seconds,
                served.load() / seconds);
    std::printf("  proxy resident memory: %.1f MiB started, %.1f MiB with 128 connections, "
                "peak %.1f MiB\n",
                static_cast<double>(idleKiB) / 1024.0, static_cast<double>(busyKiB) / 1024.0,
                static_cast<double>(peakKiB) / 1024.0);
    allMet &= report("all 128 connections served", served.load() == 128 * 20);
    allMet &= report("proxy resident memory under 64 MiB", peakKiB < 64 * 1024);
    clients.clear();
    child.end();

    server.stop();
    return allMet ? 0 : 1;
}
