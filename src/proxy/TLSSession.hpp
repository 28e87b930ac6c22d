#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <openssl/bio.h>
#include <openssl/ssl.h>

namespace meterly::proxy {

// One TLS client session over memory buffers, driven by NetworkStream: ciphertext moves between
// the buffers and the socket in as large pieces as are at hand. Received ciphertext is read from
// the socket straight into the session's own input buffer, which OpenSSL reads through a small
// BIO of ours; what OpenSSL writes collects in a memory BIO until the stream sends it.
struct TLSSession {
    // `ssl` is null when OpenSSL could not make the session.
    explicit TLSSession(SSL_CTX* context);
    ~TLSSession();
    TLSSession(const TLSSession&) = delete;
    TLSSession& operator=(const TLSSession&) = delete;

    std::size_t pendingInput() const { return inputEnd - inputStart; }

    SSL* ssl;
    BIO_METHOD* inputMethod = nullptr;
    BIO* input = nullptr;
    BIO* output = nullptr;
    // Ciphertext received and not yet taken by OpenSSL lies in [inputStart, inputEnd).
    std::unique_ptr<std::uint8_t[]> inputBuffer;
    std::size_t inputStart = 0;
    std::size_t inputEnd = 0;
};

} // namespace meterly::proxy
