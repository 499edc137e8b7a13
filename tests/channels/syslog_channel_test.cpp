#include "channels/syslog_channel.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/startup.h"
#include "notify/dispatcher.h"
#include "notify/log_channel.h"
#include "tests/support/event_host.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

using test::Padded;

std::string Payload(int32_t sequence, std::string_view message) {
    char out[kSyslogBufferSize];
    const size_t n = FormatSyslogPayload(out, kSyslogFacility, kSyslogSeverity, sequence, message);
    EXPECT_EQ(out[n], '\0');
    return std::string(out, n);
}

TEST(SyslogPayload, FormatAndLimits) {
    EXPECT_EQ(Payload(7, "hello"), "<85>7:  hello");
    EXPECT_EQ(Payload(12, ""), "<85>12:  ");
    EXPECT_EQ(Payload(-2147483647 - 1, "w"), "<85>-2147483648:  w");
    EXPECT_EQ(Payload(3, std::string_view("ab\0cd", 5)), "<85>3:  ab");
    const std::string cut = Payload(123, std::string(5000, 'm'));
    EXPECT_EQ(cut.size(), kSyslogBufferSize - 1);
    EXPECT_EQ(cut, "<85>123:  " + std::string(kSyslogBufferSize - 1 - 10, 'm'));
    const std::string fits(kSyslogBufferSize - 1 - 10, 'f');
    EXPECT_EQ(Payload(123, fits), "<85>123:  " + fits);
}

// Loopback receivers on two addresses sharing one port, as the channel sends to one port.
struct TwoReceivers {
    UdpSocket a, b;
    uint16_t port = 0;
    bool Open() {
        for (int attempt = 0; attempt < 20; ++attempt) {
            a = UdpSocket();
            b = UdpSocket();
            if (!a.Open() || !a.Bind(Ipv4(127, 0, 0, 1), 0)) return false;
            port = a.LocalPort();
            if (b.Open() && b.Bind(Ipv4(127, 0, 0, 2), port)) return true;
        }
        return false;
    }
};

std::string Receive(UdpSocket& s) {
    std::vector<uint8_t> buf(4096);
    const long n = s.ReceiveFromWithin(buf, nullptr, 5000);
    return n < 0 ? std::string("(nothing)") : std::string(buf.begin(), buf.begin() + n);
}

bool NothingWaiting(UdpSocket& s) {
    std::vector<uint8_t> buf(4096);
    return s.ReceiveFromWithin(buf, nullptr, 200) == -1;
}

class SyslogChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rx.Open());
        socket = OpenNotifySocket();
        ASSERT_TRUE(socket.valid());
        settings.syslogServers = {{Ipv4(127, 0, 0, 1), 0}, {Ipv4(127, 0, 0, 2), 0}};
    }
    void Dispatch(EventKind kind, const std::string& text, ChannelSet channels) {
        Dispatcher d(settings, channels);
        d.DispatchEvent(*host, text, "t", kind);
    }

    TwoReceivers rx;
    UdpSocket socket;
    AppSettings settings;
    std::unique_ptr<HostEntry> host = test::MakeEventHost("192.168.1.5", "PC1");
};

TEST_F(SyslogChannelTest, TwoServersGetConsecutiveNumbersInListOrder) {
    SyslogChannel syslog(settings, socket, rx.port);
    const std::string down = "Host is down of " + Padded("PC1");
    Dispatch(EventKind::Down, down, {.syslog = &syslog});
    const std::string message = "PEER is 192.168.1.5/" + Padded("PC1") + " " + down;
    const std::string first = Receive(rx.a);
    const std::string second = Receive(rx.b);
    int n1 = 0, n2 = 0;
    ASSERT_EQ(std::sscanf(first.c_str(), "<85>%d:", &n1), 1) << first;
    ASSERT_EQ(std::sscanf(second.c_str(), "<85>%d:", &n2), 1) << second;
    EXPECT_EQ(n2, n1 + 1);
    EXPECT_EQ(first, "<85>" + std::to_string(n1) + ":  " + message);
    EXPECT_EQ(second, "<85>" + std::to_string(n2) + ":  " + message);
    EXPECT_EQ(TakeSyslogSequence(), n2 + 1);  // the event path and other senders share the counter
}

TEST_F(SyslogChannelTest, SwitchOffSendsNothingAndKeepsTheNumber) {
    settings.setFlag(SettingFlag::syslogOnInfo, false);
    SyslogChannel syslog(settings, socket, rx.port);
    const int32_t before = TakeSyslogSequence();
    MacroContext context(*host, "t", settings);
    syslog.NotifySyslog(EventKind::Information, *host, "changed", context);
    EXPECT_EQ(TakeSyslogSequence(), before + 1);
    EXPECT_TRUE(NothingWaiting(rx.a));
    EXPECT_TRUE(NothingWaiting(rx.b));
}

TEST_F(SyslogChannelTest, EmptyMessageStillGivesADatagram) {
    settings.syslogMessage.clear();
    settings.syslogServers.resize(1);
    SyslogChannel syslog(settings, socket, rx.port);
    Dispatch(EventKind::Up, "up", {.syslog = &syslog});
    const std::string got = Receive(rx.a);
    int n = 0;
    ASSERT_EQ(std::sscanf(got.c_str(), "<85>%d:", &n), 1) << got;
    EXPECT_EQ(got, "<85>" + std::to_string(n) + ":  ");
}

TEST_F(SyslogChannelTest, WithoutASocketNumbersStillMove) {
    UdpSocket none;
    SyslogChannel syslog(settings, none, rx.port);
    const int32_t before = TakeSyslogSequence();
    Dispatch(EventKind::Down, "down", {.syslog = &syslog});
    EXPECT_EQ(TakeSyslogSequence(), before + 3);
}

TEST_F(SyslogChannelTest, LimitedBroadcastIsSentWhenTheSocketPermitsIt) {
    // Tied to the loopback interface, so the broadcast never reaches a real network (needs root).
    ASSERT_EQ(setsockopt(socket.fd(), SOL_SOCKET, SO_BINDTODEVICE, "lo", 3), 0)
        << "SO_BINDTODEVICE: " << std::strerror(errno) << " (the test needs CAP_NET_RAW)";
    const Endpoint broadcast{Ipv4(255, 255, 255, 255), rx.port};
    EXPECT_EQ(SendSyslogDatagram(socket, kSyslogFacility, kSyslogSeverity, 9, "hello", broadcast), 13);

    UdpSocket plain;  // the same socket without SO_BROADCAST is refused
    ASSERT_TRUE(plain.Open());
    ASSERT_EQ(setsockopt(plain.fd(), SOL_SOCKET, SO_BINDTODEVICE, "lo", 3), 0);
    EXPECT_EQ(SendSyslogDatagram(plain, kSyslogFacility, kSyslogSeverity, 9, "hello", broadcast), -1);
}

TEST_F(SyslogChannelTest, FreshInformationEventReachesOnlySyslogAndTheLogFile) {
    struct Refuse : NotificationChannel {
        int calls = 0;
        void Notify(EventKind, HostEntry&, std::string_view, MacroContext&) override { ++calls; }
    } messenger, mail, box, program, sound;
    const auto dir = test::TempHome() / "fresh-info";
    std::filesystem::create_directories(dir);
    settings.logFile = (dir / "quorvane.log").string();
    settings.syslogServers.resize(1);
    SyslogChannel syslog(settings, socket, rx.port);
    LogFileChannel log(settings);
    log.OpenLog();
    const std::string text = "Host Name changed from " + Padded("PC1") + "  ---->  " + Padded("PC2");
    Dispatch(EventKind::Information, text, {&syslog, &messenger, &mail, &box, &program, &sound, &log});
    log.CloseLog();
    EXPECT_EQ(messenger.calls + mail.calls + box.calls + program.calls + sound.calls, 0);
    EXPECT_NE(Receive(rx.a).find("/" + Padded("PC1") + " " + text), std::string::npos);
    std::ifstream in(settings.logFile, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), text + ";192.168.1.5;" + Padded("PC1") + "\r\n");
}

}  // namespace
}  // namespace quorvane
