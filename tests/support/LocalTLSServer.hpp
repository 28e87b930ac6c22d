#pragma once

#include "support/HTTPTestMessages.hpp"
#include "support/TempDir.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace meterly::testing {

// A self-signed certificate and its key, made with OpenSSL at run time and written as PEM files
// into a temporary folder. `names` are subject alternative names ("DNS:localhost").
class TestCertificate {
public:
    explicit TestCertificate(const std::vector<std::string>& names = {"DNS:localhost",
                                                                      "IP:127.0.0.1"});
    const std::filesystem::path& certificateFile() const { return certificate_; }
    const std::filesystem::path& keyFile() const { return key_; }

private:
    TempDir folder_{"meterly-tls"};
    std::filesystem::path certificate_;
    std::filesystem::path key_;
};

// One accepted connection of the local TLS server, handed to its responder.
class UpstreamConnection {
public:
    UpstreamConnection(int socket, SSL* ssl);
    ~UpstreamConnection();
    UpstreamConnection(const UpstreamConnection&) = delete;
    UpstreamConnection& operator=(const UpstreamConnection&) = delete;

    // The next request; nullopt when the peer closed or the connection broke.
    std::optional<HTTPMessage> readRequest() { return reader_.readRequest(); }
    // Writes all bytes; false when the connection is broken.
    bool write(std::string_view bytes);
    // Ends the connection after what was written (TLS close, then TCP close).
    void close();
    // Sends the TLS close and leaves the TCP connection open.
    void closeTLSOnly();
    // Drops the TCP connection without closing TLS first.
    void closeAbruptly();
    bool isClosed() const { return closed_; }
    // Interrupts a blocked read or write from another thread.
    void interrupt();

private:
    int socket_;
    SSL* ssl_;
    MessageReader reader_;
    bool closed_ = false;
};

// A TLS server of the tests' own on 127.0.0.1 (port chosen by the system), trusted by pointing
// SSL_CERT_FILE at certificateFile(). Each connection runs on a thread of its own: it reads
// requests one after the other and hands each to the responder, which writes whatever it likes
// (canned heads, chunked or until-close bodies, interim responses, an early close). The
// connection ends when the responder closes it or the peer goes away.
class LocalTLSServer {
public:
    using Responder = std::function<void(UpstreamConnection&, const HTTPMessage&)>;

    explicit LocalTLSServer(Responder responder,
                            std::vector<std::string> names = {"DNS:localhost", "IP:127.0.0.1"});
    ~LocalTLSServer();
    LocalTLSServer(const LocalTLSServer&) = delete;
    LocalTLSServer& operator=(const LocalTLSServer&) = delete;

    std::uint16_t port() const { return port_; }
    const std::filesystem::path& certificateFile() const { return certificate_.certificateFile(); }

    // What the server saw, in order.
    std::vector<HTTPMessage> requests() const;
    int connectionsAccepted() const;
    // The server names sent in the handshakes and the ALPN protocol lists offered.
    std::vector<std::string> serverNames() const;
    std::vector<std::vector<std::string>> offeredProtocols() const;

    // Blocks until `count` connections have ended on the server's side.
    void waitForClosedConnections(int count) const;

    // Blocks until `count` requests have arrived (or the server stops).
    void waitForRequests(std::size_t count) const;

private:
    void acceptLoop();
    void serve(int socket);

    TestCertificate certificate_;
    Responder responder_;
    SSL_CTX* context_ = nullptr;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::thread> connectionThreads_;
    std::vector<UpstreamConnection*> live_;
    std::vector<HTTPMessage> requests_;
    int accepted_ = 0;
    int closed_ = 0;
    std::vector<std::string> serverNames_;
    std::vector<std::vector<std::string>> offered_;

    friend int recordALPN(SSL*, const unsigned char**, unsigned char*, const unsigned char*,
                          unsigned int, void*);
};

// A blocking HTTP client for tests and benchmarks: plain TCP to 127.0.0.1, or TLS trusting one
// certificate file. Reads give up after `receiveLimitSeconds` so that a broken case fails
// instead of hanging.
class TestClient {
public:
    explicit TestClient(std::uint16_t port, int receiveLimitSeconds = 10);
    TestClient(std::uint16_t port, const std::filesystem::path& trustedCertificate,
               const std::string& serverName, int receiveLimitSeconds = 10);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool send(std::string_view bytes);
    std::optional<HTTPMessage> readResponse(std::string_view method = "GET") {
        return reader_.readResponse(method);
    }
    // True when the peer has closed the connection and nothing is left to read.
    bool closedByPeer() { return reader_.atEnd(); }
    std::string readToEnd() { return reader_.readToEnd(); }
    MessageReader& reader() { return reader_; }
    // Closes the sending side and the connection.
    void close();
    int socket() const { return socket_; }
    // One read straight off the connection, past the message reader (0 at the end).
    long readSome(char* into, std::size_t size);

private:
    int socket_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    MessageReader reader_;
};

} // namespace meterly::testing
