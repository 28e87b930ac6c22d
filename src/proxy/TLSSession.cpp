#include "proxy/TLSSession.hpp"

#include <algorithm>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/ssl.h>

namespace meterly::proxy {

namespace {

int createInput(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// Hands OpenSSL received ciphertext; none at hand asks it to try again later, as a memory BIO
// whose end is not reached does.
int readInput(BIO* bio, char* into, int size) {
    auto* self = static_cast<TLSSession*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (self == nullptr || size <= 0 || self->pendingInput() == 0) {
        BIO_set_retry_read(bio);
        return -1;
    }
    const std::size_t count = std::min(self->pendingInput(), static_cast<std::size_t>(size));
    std::memcpy(into, self->inputBuffer.get() + self->inputStart, count);
    self->inputStart += count;
    return static_cast<int>(count);
}

long controlInput(BIO* bio, int command, long, void*) {
    const auto* self = static_cast<const TLSSession*>(BIO_get_data(bio));
    switch (command) {
    case BIO_CTRL_PENDING:
        return self == nullptr ? 0 : static_cast<long>(self->pendingInput());
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

} // namespace

TLSSession::TLSSession(SSL_CTX* context) : ssl(SSL_new(context)) {
    if (ssl == nullptr) {
        return;
    }
    inputMethod = BIO_meth_new(BIO_TYPE_SOURCE_SINK, "meterly ciphertext input");
    if (inputMethod != nullptr) {
        BIO_meth_set_create(inputMethod, &createInput);
        BIO_meth_set_read(inputMethod, &readInput);
        BIO_meth_set_ctrl(inputMethod, &controlInput);
        input = BIO_new(inputMethod);
    }
    output = BIO_new(BIO_s_mem());
    if (input == nullptr || output == nullptr) {
        BIO_free(input);
        BIO_free(output);
        SSL_free(ssl);
        ssl = nullptr;
        return;
    }
    BIO_set_data(input, this);
    BIO_set_mem_eof_return(output, -1);
    SSL_set_bio(ssl, input, output);
}

TLSSession::~TLSSession() {
    if (ssl != nullptr) {
        SSL_free(ssl);
    }
    if (inputMethod != nullptr) {
        BIO_meth_free(inputMethod);
    }
}

} // namespace meterly::proxy
