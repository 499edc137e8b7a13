#include "platform/net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <vector>

namespace quorvane {
namespace {

UdpSocket BoundLoopback() {
    UdpSocket s;
    EXPECT_TRUE(s.Open());
    EXPECT_TRUE(s.Bind(Ipv4(127, 0, 0, 1), 0));
    return s;
}

TEST(UdpSocket, SendAndReceiveWithSourceOnLoopback) {
    UdpSocket a = BoundLoopback();
    UdpSocket b = BoundLoopback();
    ASSERT_NE(b.LocalPort(), 0);
    const std::vector<uint8_t> payload{1, 2, 3, 4, 5};
    ASSERT_EQ(a.SendTo(payload, {Ipv4(127, 0, 0, 1), b.LocalPort()}), 5);

    std::vector<uint8_t> buf(1500);
    Endpoint from;
    ASSERT_EQ(b.ReceiveFromWithin(buf, &from, 2000), 5);
    EXPECT_EQ(from.address, Ipv4(127, 0, 0, 1));
    EXPECT_EQ(from.port, a.LocalPort());
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 5), payload);
}

TEST(UdpSocket, OversizedDatagramIsDroppedAndTimeoutGivesMinusOne) {
    UdpSocket a = BoundLoopback();
    UdpSocket b = BoundLoopback();
    const std::vector<uint8_t> big(1501, 0xAB);
    ASSERT_EQ(a.SendTo(big, {Ipv4(127, 0, 0, 1), b.LocalPort()}), 1501);
    std::vector<uint8_t> buf(1500);
    EXPECT_EQ(b.ReceiveFromWithin(buf, nullptr, 2000), -2);
    // The datagram is gone: nothing more to read.
    EXPECT_EQ(b.ReceiveFromWithin(buf, nullptr, 50), -1);
}

TEST(UdpSocket, OptionsAndClosedSocket) {
    UdpSocket s;
    EXPECT_FALSE(s.valid());
    EXPECT_EQ(s.SendTo(std::vector<uint8_t>{1}, {Ipv4(127, 0, 0, 1), 9}), -1);
    ASSERT_TRUE(s.Open());
    EXPECT_TRUE(s.SetBroadcast(true));
    EXPECT_TRUE(s.SetBufferSizes(131072, 131072));
    EXPECT_TRUE(s.SetReceiveTimeout(1000));
    UdpSocket moved = std::move(s);
    EXPECT_FALSE(s.valid());
    EXPECT_TRUE(moved.valid());
}

TEST(Ipv4Text, FormatAndParse) {
    EXPECT_EQ(FormatIpv4(Ipv4(192, 168, 5, 77)), "192.168.5.77");
    EXPECT_EQ(ParseIpv4("10.0.0.255"), Ipv4(10, 0, 0, 255));
    for (const char* bad : {"", "10.0.0", "10.0.0.256", "a.b.c.d", "10.0.0.1 ", "1.2.3.4.5"})
        EXPECT_FALSE(ParseIpv4(bad).has_value()) << bad;
    EXPECT_TRUE(IsLoopback(Ipv4(127, 0, 1, 1)));
    EXPECT_FALSE(IsLoopback(Ipv4(128, 0, 0, 1)));
}

TEST(LocalAddress, LoopbackResultIsReplacedByFirstInterfaceAddress) {
    const uint32_t lan = Ipv4(192, 168, 5, 77);
    const uint32_t other = Ipv4(10, 1, 2, 3);
    const uint32_t debian = Ipv4(127, 0, 1, 1);
    const struct {
        std::vector<uint32_t> resolved, interfaces;
        std::optional<uint32_t> expected;
    } cases[] = {
        {{lan, other}, {other}, lan},        // a real address is taken as resolved
        {{debian}, {other, lan}, other},     // loopback: the first up interface instead
        {{debian}, {}, std::nullopt},        // loopback and no interface: none
        {{}, {lan}, std::nullopt},           // the name does not resolve: none
    };
    for (const auto& c : cases) EXPECT_EQ(ChooseLocalAddress(c.resolved, c.interfaces), c.expected);
}

TEST(LocalAddress, LeavesOutputUntouchedOnFailureAndNeverGivesLoopback) {
    uint32_t out = 0xDEADBEEF;
    if (GetLocalAddress(&out) == 1) {
        EXPECT_FALSE(IsLoopback(out));
    } else {
        EXPECT_EQ(out, 0xDEADBEEFu);
    }
}

}  // namespace
}  // namespace quorvane
