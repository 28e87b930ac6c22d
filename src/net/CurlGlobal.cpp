#include "net/CurlGlobal.hpp"

#include <curl/curl.h>
#include <mutex>
#include <openssl/crypto.h>

namespace meterly::net {

void CurlGlobal::initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        // OpenSSL is not torn down at exit: background tasks that nobody joins may still be in a
        // transfer while the process ends, and their per-thread state must stay valid until then.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

} // namespace meterly::net
