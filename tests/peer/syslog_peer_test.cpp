// The syslog channel against a private rsyslogd (imudp on two loopback addresses): what a real
// syslog server makes of our datagrams.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "channels/syslog_channel.h"
#include "engine/startup.h"
#include "notify/dispatcher.h"
#include "tests/peer/peer_process.h"
#include "tests/support/event_host.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using test::Padded;

bool UdpPortBound(uint32_t address, uint16_t port) {
    char key[32];
    std::snprintf(key, sizeof key, " %08X:%04X ", address, port);  // as /proc shows it on little-endian
    std::ifstream in("/proc/net/udp");
    std::string line;
    while (std::getline(in, line))
        if (line.find(key) != std::string::npos) return true;
    return false;
}

// A port free on both addresses at the moment of asking.
uint16_t FreePortOn(uint32_t a, uint32_t b) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        UdpSocket s1, s2;
        if (!s1.Open() || !s1.Bind(a, 0)) continue;
        const uint16_t port = s1.LocalPort();
        if (s2.Open() && s2.Bind(b, port)) return port;
    }
    return 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1) out.push_back(text.substr(from, at - from));
    return out;
}

std::string RsyslogPath() {
    for (const char* p : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd", "/usr/bin/rsyslogd"})
        if (access(p, X_OK) == 0) return p;
    return {};
}

TEST(SyslogPeer, RsyslogParsesTheDatagramsOfADownEventFromTwoServers) {
    const fs::path dir = test::TempHome() / "rsyslog";
    fs::create_directories(dir);
    // Loopback addresses of this process, so parallel runs do not meet.
    const uint8_t hi = static_cast<uint8_t>(100 + getpid() % 100), mid = static_cast<uint8_t>(1 + (getpid() / 100) % 250);
    const uint32_t first = Ipv4(127, hi, mid, 1), second = Ipv4(127, hi, mid, 2);
    const uint16_t port = FreePortOn(first, second);
    ASSERT_NE(port, 0);

    const std::string rsyslogd = RsyslogPath();
    ASSERT_FALSE(rsyslogd.empty()) << "rsyslogd not found: install Debian's rsyslog package";
    const fs::path conf = dir / "rsyslog.conf", received = dir / "received.log", pidFile = dir / "rsyslogd.pid";
    {
        std::ofstream c(conf);
        c << "global(workDirectory=\"" << dir.string() << "\" maxMessageSize=\"8k\" net.enableDNS=\"off\")\n"
          << "module(load=\"imudp\")\n"
          << "input(type=\"imudp\" name=\"first\" address=\"" << FormatIpv4(first) << "\" port=\"" << port
          << "\" ruleset=\"fromnet\")\n"
          << "input(type=\"imudp\" name=\"second\" address=\"" << FormatIpv4(second) << "\" port=\"" << port
          << "\" ruleset=\"fromnet\")\n"
          << "template(name=\"fields\" type=\"string\" string=\"input=%inputname% facility=%syslogfacility-text%"
             "(%syslogfacility%) severity=%syslogseverity-text%(%syslogseverity%) tag=[%syslogtag%] "
             "msg=[%msg%] raw=[%rawmsg%]\\n\")\n"
          << "ruleset(name=\"fromnet\") { action(type=\"omfile\" file=\"" << received.string()
          << "\" template=\"fields\") }\n";
    }
    test::PeerProcess peer;
    ASSERT_TRUE(peer.Start(rsyslogd, {"-n", "-f", conf.string(), "-i", pidFile.string()}, dir / "rsyslogd.out"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!(UdpPortBound(first, port) && UdpPortBound(second, port))) {
        ASSERT_TRUE(peer.Running()) << "rsyslogd could not be started (exit status " << peer.exitStatus()
                                    << "):\n" << peer.Output();
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "rsyslogd did not listen:\n" << peer.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    AppSettings settings;  // fresh: syslog on for down events, the default message
    settings.syslogServers = {{first, 0}, {second, 0}};
    UdpSocket socket = OpenNotifySocket();
    ASSERT_TRUE(socket.valid());
    SyslogChannel syslog(settings, socket, port);
    Dispatcher dispatcher(settings, {.syslog = &syslog});
    auto host = test::MakeEventHost("192.168.1.5", "PC1");
    const std::string down = "Host is down of " + Padded("PC1");
    const int32_t next = TakeSyslogSequence() + 1;
    dispatcher.DispatchEvent(*host, down, "Tue, 2023-11-14 22:13:20", EventKind::Down);
    // A message too long for the payload arrives cut to it.
    settings.syslogServers.resize(1);
    settings.syslogMessage = std::string(4000, 'L') + "<EVENT>";
    dispatcher.DispatchEvent(*host, down, "Tue, 2023-11-14 22:13:21", EventKind::Down);

    std::vector<std::string> lines;
    while ((lines = Lines(test::ReadWholeFile(received))).size() < 3) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline + std::chrono::seconds(10))
            << "rsyslogd wrote:\n" << test::ReadWholeFile(received) << "\nrsyslogd said:\n" << peer.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    peer.Stop();
    ASSERT_EQ(lines.size(), 3u);

    // rsyslog's inputs run on their own threads: order the lines by the sequence number.
    struct Parsed {
        std::string input, msg, raw;
    };
    std::map<int, Parsed> bySequence;
    const std::regex fields(
        R"(input=(\w+) facility=authpriv\(10\) severity=notice\(5\) tag=\[(-?\d+):\] msg=\[([^\]]*)\] raw=\[([^\]]*)\])");
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, fields)) << line.substr(0, 300);
        bySequence[std::stoi(m[2])] = {m[1], m[3], m[4]};
    }
    ASSERT_EQ(bySequence.size(), 3u);
    ASSERT_EQ(bySequence.begin()->first, next);
    ASSERT_EQ(bySequence.rbegin()->first, next + 2);

    const std::string message = "PEER is 192.168.1.5/" + Padded("PC1") + " " + down;
    const Parsed& a = bySequence[next];
    const Parsed& b = bySequence[next + 1];
    EXPECT_EQ(a.input, "first");  // the first server in the list takes the lower number
    EXPECT_EQ(b.input, "second");
    EXPECT_EQ(a.msg, "  " + message);  // both blanks kept: the tag is the number and its colon
    EXPECT_EQ(b.msg, "  " + message);
    EXPECT_EQ(a.raw, "<85>" + std::to_string(next) + ":  " + message);

    const Parsed& c = bySequence[next + 2];
    const std::string head = "<85>" + std::to_string(next + 2) + ":  ";
    EXPECT_EQ(c.input, "first");
    EXPECT_EQ(c.raw.size(), kSyslogBufferSize - 1);
    EXPECT_TRUE(c.raw == head + std::string(kSyslogBufferSize - 1 - head.size(), 'L')) << c.raw.substr(0, 80);
}

}  // namespace
}  // namespace quorvane
