#include "engine/startup.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include "engine/vendor_table.h"

namespace quorvane {
namespace {

int SocketOption(int fd, int option) {
    int v = 0;
    socklen_t len = sizeof v;
    getsockopt(fd, SOL_SOCKET, option, &v, &len);
    return v;
}

TEST(Startup, NotifySocketIsBroadcastEphemeralWithBuffersAndTimeout) {
    UdpSocket s = OpenNotifySocket();
    ASSERT_TRUE(s.valid());
    EXPECT_NE(s.LocalPort(), 0);
    EXPECT_EQ(SocketOption(s.fd(), SO_BROADCAST), 1);
    EXPECT_GE(SocketOption(s.fd(), SO_SNDBUF), kSocketBufferBytes);
    EXPECT_GE(SocketOption(s.fd(), SO_RCVBUF), kSocketBufferBytes);
    timeval tv{};
    socklen_t len = sizeof tv;
    getsockopt(s.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 0);
}

TEST(Startup, DefaultsComeFromTheInjectedLocalAddressWithoutProbing) {
    AppSettings s;
    EXPECT_EQ(PrepareStartupDefaults(s, Ipv4(192, 168, 5, 77)), Ipv4(192, 168, 5, 77));
    ASSERT_EQ(s.segments.size(), 1u);
    EXPECT_EQ(FormatIpv4(s.segments[0].first), "192.168.5.1");
    EXPECT_EQ(FormatIpv4(s.segments[0].end), "192.168.5.255");
    EXPECT_EQ(s.probePort, 6000);
    // The vendor name order is part of the start-up.
    const VendorEntry* a = LookupVendor({0, 0, 0, 0, 0, 0});
    const VendorEntry* b = LookupVendor({0, 0, 0x0A, 0, 0, 0});
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->nameRank, b->nameRank);
}

}  // namespace
}  // namespace quorvane
