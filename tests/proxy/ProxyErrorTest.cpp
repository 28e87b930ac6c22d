#include "proxy/ProxyError.hpp"

#include <gtest/gtest.h>

namespace meterly::proxy {
namespace {

TEST(ProxyErrorTest, TextNamesTheCaseAndTheFailure) {
    EXPECT_STREQ(ProxyError::network(ProxyFailure::addressInUse).what(), "network(addressInUse)");
    EXPECT_STREQ(ProxyError::timedOut().what(), "timedOut");
    EXPECT_STREQ(ProxyError::peerClosed().what(), "peerClosed");
    EXPECT_EQ(ProxyError::network(ProxyFailure::timedOut),
              ProxyError::network(ProxyFailure::timedOut));
    // One form each for a time-out and a cancellation, whoever met it.
    EXPECT_EQ(ProxyError::network(ProxyFailure::timedOut), ProxyError::timedOut());
    EXPECT_STREQ(ProxyError::network(ProxyFailure::timedOut).what(), "timedOut");
    EXPECT_EQ(ProxyError::network(ProxyFailure::cancelled), ProxyError::cancelled());
    EXPECT_FALSE(ProxyError::network(ProxyFailure::timedOut) ==
                 ProxyError::network(ProxyFailure::other));
}

} // namespace
} // namespace meterly::proxy
