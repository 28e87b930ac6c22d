#include "support/LocalTLSServer.hpp"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace meterly::testing {

namespace {

[[noreturn]] void failWith(const std::string& what) {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error(what + ": " + text);
}

void ignoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1024) != 0) {
        ::close(fd);
        throw std::runtime_error("bind or listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int connectToLoopback(std::uint16_t port, int receiveLimitSeconds) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    timeval limit{};
    limit.tv_sec = receiveLimitSeconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("connect to 127.0.0.1:" + std::to_string(port) + " failed");
    }
    return fd;
}

bool writeAll(int fd, SSL* ssl, std::string_view bytes) {
    while (!bytes.empty()) {
        long written;
        if (ssl != nullptr) {
            written = SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
        } else {
            written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

long readFrom(int fd, SSL* ssl, char* into, std::size_t size) {
    if (ssl != nullptr) {
        const int count = SSL_read(ssl, into, static_cast<int>(size));
        return count > 0 ? count : (SSL_get_error(ssl, count) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
    }
    return ::recv(fd, into, size, 0);
}

} // namespace

TestCertificate::TestCertificate(const std::vector<std::string>& names) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    if (key == nullptr || certificate == nullptr) {
        failWith("key generation failed");
    }
    X509_set_version(certificate, 2);
    std::uint64_t serial = 0;
    RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(certificate), serial >> 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
    X509_set_pubkey(certificate, key);
    X509_NAME* subject = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Meterly test server"), -1,
                               -1, 0);
    X509_set_issuer_name(certificate, subject);

    std::string alternativeNames;
    for (const auto& name : names) {
        alternativeNames += (alternativeNames.empty() ? "" : ",") + name;
    }
    X509V3_CTX extensions;
    X509V3_set_ctx_nodb(&extensions);
    X509V3_set_ctx(&extensions, certificate, certificate, nullptr, nullptr, 0);
    const std::pair<int, std::string> wanted[] = {
        {NID_basic_constraints, "critical,CA:TRUE"},
        {NID_key_usage, "critical,digitalSignature,keyCertSign"},
        {NID_ext_key_usage, "serverAuth"},
        {NID_subject_alt_name, alternativeNames},
    };
    for (const auto& [nid, value] : wanted) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &extensions, nid, value.c_str());
        if (extension == nullptr) {
            failWith("certificate extension failed");
        }
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(certificate, key, EVP_sha256()) == 0) {
        failWith("signing failed");
    }

    certificate_ = folder_.path() / "certificate.pem";
    key_ = folder_.path() / "key.pem";
    FILE* out = std::fopen(certificate_.c_str(), "w");
    PEM_write_X509(out, certificate);
    std::fclose(out);
    out = std::fopen(key_.c_str(), "w");
    PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
    X509_free(certificate);
    EVP_PKEY_free(key);
}

UpstreamConnection::UpstreamConnection(int socket, SSL* ssl)
    : socket_(socket), ssl_(ssl), reader_([this](char* into, std::size_t size) {
          return readFrom(socket_, ssl_, into, size);
      }) {}

UpstreamConnection::~UpstreamConnection() {
    SSL_free(ssl_);
}

bool UpstreamConnection::write(std::string_view bytes) {
    return !closed_ && writeAll(socket_, ssl_, bytes);
}

void UpstreamConnection::close() {
    if (!closed_) {
        SSL_shutdown(ssl_);
        ::shutdown(socket_, SHUT_RDWR);
        closed_ = true;
    }
}

void UpstreamConnection::closeTLSOnly() {
    if (!closed_) {
        SSL_shutdown(ssl_);
    }
}

void UpstreamConnection::closeAbruptly() {
    if (!closed_) {
        ::shutdown(socket_, SHUT_RDWR);
        closed_ = true;
    }
}

void UpstreamConnection::interrupt() {
    ::shutdown(socket_, SHUT_RDWR);
}

int recordALPN(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
               unsigned int inLength, void* argument) {
    auto* server = static_cast<LocalTLSServer*>(argument);
    std::vector<std::string> offered;
    for (unsigned int i = 0; i < inLength;) {
        const unsigned length = in[i];
        offered.emplace_back(reinterpret_cast<const char*>(in + i + 1), length);
        i += 1 + length;
    }
    {
        std::lock_guard guard(server->lock_);
        server->offered_.push_back(offered);
    }
    static const unsigned char http11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    unsigned char* selected = nullptr;
    if (SSL_select_next_proto(&selected, outLength, http11, sizeof http11, in, inLength) !=
        OPENSSL_NPN_NEGOTIATED) {
        return SSL_TLSEXT_ERR_NOACK;
    }
    *out = selected;
    return SSL_TLSEXT_ERR_OK;
}

LocalTLSServer::LocalTLSServer(Responder responder, std::vector<std::string> names)
    : certificate_(names), responder_(std::move(responder)) {
    ignoreBrokenPipes();
    context_ = SSL_CTX_new(TLS_server_method());
    if (context_ == nullptr ||
        SSL_CTX_use_certificate_file(context_, certificate_.certificateFile().c_str(),
                                     SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, certificate_.keyFile().c_str(), SSL_FILETYPE_PEM) !=
            1) {
        failWith("server context failed");
    }
    SSL_CTX_set_alpn_select_cb(context_, recordALPN, this);
    listener_ = listenOnLoopback(port_);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LocalTLSServer::~LocalTLSServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptThread_.join();
    ::close(listener_);
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(lock_);
        for (auto* connection : live_) {
            connection->interrupt();
        }
        threads.swap(connectionThreads_);
    }
    changed_.notify_all();
    for (auto& thread : threads) {
        thread.join();
    }
    SSL_CTX_free(context_);
}

void LocalTLSServer::acceptLoop() {
    while (!stopping_) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_) {
                return;
            }
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard guard(lock_);
        ++accepted_;
        connectionThreads_.emplace_back([this, fd] { serve(fd); });
    }
}

void LocalTLSServer::serve(int fd) {
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, fd);
    UpstreamConnection connection(fd, ssl);
    {
        std::lock_guard guard(lock_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        live_.push_back(&connection);
    }
    if (SSL_accept(ssl) == 1) {
        if (const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name)) {
            std::lock_guard guard(lock_);
            serverNames_.emplace_back(name);
        }
        while (!connection.isClosed()) {
            auto request = connection.readRequest();
            if (!request) {
                break;
            }
            {
                std::lock_guard guard(lock_);
                requests_.push_back(*request);
            }
            changed_.notify_all();
            responder_(connection, *request);
        }
    }
    {
        std::lock_guard guard(lock_);
        std::erase(live_, &connection);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        ++closed_;
    }
    changed_.notify_all();
}

std::vector<HTTPMessage> LocalTLSServer::requests() const {
    std::lock_guard guard(lock_);
    return requests_;
}

int LocalTLSServer::connectionsAccepted() const {
    std::lock_guard guard(lock_);
    return accepted_;
}

std::vector<std::string> LocalTLSServer::serverNames() const {
    std::lock_guard guard(lock_);
    return serverNames_;
}

std::vector<std::vector<std::string>> LocalTLSServer::offeredProtocols() const {
    std::lock_guard guard(lock_);
    return offered_;
}

void LocalTLSServer::waitForClosedConnections(int count) const {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return closed_ >= count || stopping_; });
}

void LocalTLSServer::waitForRequests(std::size_t count) const {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [&] { return requests_.size() >= count || stopping_; });
}

TestClient::TestClient(std::uint16_t port, int receiveLimitSeconds)
    : socket_(connectToLoopback(port, receiveLimitSeconds)),
      reader_([this](char* into, std::size_t size) { return readSome(into, size); }) {
    ignoreBrokenPipes();
}

TestClient::TestClient(std::uint16_t port, const std::filesystem::path& trustedCertificate,
                       const std::string& serverName, int receiveLimitSeconds)
    : TestClient(port, receiveLimitSeconds) {
    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr ||
        SSL_CTX_load_verify_locations(context_, trustedCertificate.c_str(), nullptr) != 1) {
        failWith("client context failed");
    }
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, socket_);
    SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
             const_cast<char*>(serverName.c_str()));
    SSL_set1_host(ssl_, serverName.c_str());
    if (SSL_connect(ssl_) != 1) {
        failWith("TLS handshake failed");
    }
}

TestClient::~TestClient() {
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
    }
    if (context_ != nullptr) {
        SSL_CTX_free(context_);
    }
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

bool TestClient::send(std::string_view bytes) {
    return writeAll(socket_, ssl_, bytes);
}

long TestClient::readSome(char* into, std::size_t size) {
    return readFrom(socket_, ssl_, into, size);
}

void TestClient::close() {
    if (socket_ >= 0) {
        ::shutdown(socket_, SHUT_RDWR);
    }
}

} // namespace meterly::testing
