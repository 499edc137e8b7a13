// The engine against Samba's nmbd in a network namespace of the test's own (root only). It must
// find the peer with exactly the names and MAC that nmblookup -A reports, and declare it down by
// the fourth missed reply once nmbd stops.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "engine/engine.h"
#include "engine/host_view.h"
#include "engine/message_loop.h"
#include "platform/net.h"
#include "tests/support/netns.h"
#include "tests/support/recording_target.h"
#include "tests/support/shared_events.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kPeerName[] = "QV-PEER-NMBD";
constexpr char kWorkgroup[] = "QVPEERS";

struct LookupName {
    std::string name;
    uint8_t suffix;
    bool group;
};

struct Lookup {
    std::vector<LookupName> names;
    std::string mac;
};

Lookup ParseNmblookup(const std::string& text) {
    Lookup out;
    std::istringstream in(text);
    std::string line;
    const std::regex nameLine(R"(^\s+(.{1,15}?)\s*<([0-9a-fA-F]{2})> -\s+(<GROUP>\s+)?\S+\s+<ACTIVE>)");
    const std::regex macLine(R"(MAC Address = ([0-9A-F-]{17}))");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, nameLine)) {
            out.names.push_back({m[1], static_cast<uint8_t>(std::stoi(m[2], nullptr, 16)), m[3].matched});
        } else if (std::regex_search(line, m, macLine)) {
            out.mac = m[1];
        }
    }
    return out;
}

void WriteConf(const fs::path& dir, const std::string& iface, const std::string& name) {
    for (const char* d : {"lock", "state", "cache", "private", "pid", "ncalrpc"}) fs::create_directories(dir / d);
    std::ofstream conf(dir / "smb.conf");
    conf << "[global]\n   netbios name = " << name << "\n   workgroup = " << kWorkgroup
         << "\n   interfaces = " << iface << "\n   bind interfaces only = yes\n   disable netbios = no\n"
         << "   dns proxy = no\n";
    for (const char* d : {"lock directory", "state directory", "cache directory", "private dir", "pid directory",
                          "ncalrpc dir"}) {
        std::string sub = d;
        sub = sub.substr(0, sub.find(' '));
        conf << "   " << d << " = " << (dir / sub).string() << "\n";
    }
    conf << "   log file = " << (dir / "log.%m").string() << "\n   log level = 1\n";
}

TEST(NmbdPeer, EngineFindsThePeerAsNmblookupSeesItAndDeclaresItDown) {
    ASSERT_EQ(geteuid(), 0u) << "the nmbd peer test needs root for its network namespaces";
    std::string ignored;
    ASSERT_EQ(test::RunProgram({"sh", "-c", "command -v nmbd && command -v nmblookup"}, &ignored), 0)
        << "nmbd and nmblookup are needed (Debian samba, samba-common-bin)";

    test::NetnsLab lab("nm", "10.231.0.1/24", "10.231.0.2/24");
    ASSERT_TRUE(lab.ok()) << lab.error();
    const fs::path dir = test::TempHome() / "nmbd-peer";
    WriteConf(dir / "peer", lab.farInterface(), kPeerName);
    WriteConf(dir / "client", "lo", "QV-PEER-CLIENT");
    const pid_t nmbd = lab.Spawn({"nmbd", "-F", "--no-process-group", "-s", (dir / "peer/smb.conf").string()},
                                 (dir / "nmbd.out").string());
    ASSERT_GT(nmbd, 0);
    struct Stopper {
        pid_t& pid;
        ~Stopper() { test::StopProcess(pid); }
    } stopper{const_cast<pid_t&>(nmbd)};

    // Wait for the browser election (about 20 s), so the name table no longer changes.
    auto lookup = [&] {
        std::string out;
        test::RunProgram({"ip", "netns", "exec", lab.nearName(), "nmblookup", "-s",
                          (dir / "client/smb.conf").string(), "-A", "10.231.0.2"},
                         &out);
        return out;
    };
    Lookup expected;
    for (int i = 0; i < 60 && expected.names.size() < 7; ++i) {
        std::this_thread::sleep_for(1s);
        expected = ParseNmblookup(lookup());
    }
    ASSERT_GE(expected.names.size(), 7u) << lookup();

    AppSettings settings;
    settings.probePort = 0;
    IpSegment seg;
    seg.first = seg.end = Ipv4(10, 231, 0, 2);
    settings.segments = {seg};
    HostTable table;
    ASSERT_EQ(table.ApplySegments(settings.segments, 0, 1), 1);
    table.slot(0).replyTimeoutMs = 1000;
    table.slot(0).queryIntervalMs = 0;
    test::RecordingList list;
    test::SharedEvents events;
    std::unique_ptr<HostView> view;
    MessageLoop loop([&](const EngineMessage& m) { return view->Handle(m); });
    auto engine = std::make_unique<Engine>(settings, table, loop);
    view = std::make_unique<HostView>(table, settings, list, events, engine->serviceStopped());
    loop.Start();
    int started = 1;
    ASSERT_TRUE(lab.WithNamespace([&] { started = engine->Start(); }));  // the probe socket lives there
    ASSERT_EQ(started, 0);
    engine->SetQueryPeriod(300);

    const std::string name15 = std::string(kPeerName) + std::string(15 - sizeof kPeerName + 1, ' ');
    auto count = [](const std::vector<MonitorEvent>& ev, const std::string& text) {
        return std::count_if(ev.begin(), ev.end(), [&](const MonitorEvent& e) { return e.text == text; });
    };
    ASSERT_TRUE(events.WaitFor([&](const auto& ev) { return count(ev, "Host is alive of " + name15) == 1; }, 30000));
    EXPECT_EQ(events.CountText("Found New Host Name is " + name15), 1u);

    // The stored values are those nmblookup shows for the peer.
    const Lookup now = ParseNmblookup(lookup());
    HostEntry& host = table.slot(0);
    std::vector<LookupName> parsed;
    {
        std::lock_guard lock(table.mutex());
        NodeStatusReply reply;
        ASSERT_TRUE(ParseNodeStatusReply({host.savedReply.get(), host.savedReplyLength}, reply));
        for (int i = 0; i < reply.nameCount; ++i) {
            std::string n(reinterpret_cast<const char*>(reply.names[i].name.data()), 15);
            n.erase(n.find_last_not_of(' ') + 1);
            for (char& c : n)
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '.';  // as nmblookup shows it
            parsed.push_back({n, reply.names[i].suffix, reply.names[i].group()});
        }
        char mac[kMacTextSize];
        EXPECT_EQ(FormatMac(host.mac, settings, mac), now.mac);
    }
    ASSERT_EQ(parsed.size(), now.names.size());
    for (size_t i = 0; i < parsed.size(); ++i) {
        EXPECT_EQ(parsed[i].name, now.names[i].name) << i;
        EXPECT_EQ(parsed[i].suffix, now.names[i].suffix) << i;
        EXPECT_EQ(parsed[i].group, now.names[i].group) << i;
    }
    EXPECT_EQ(NameText(host.hostName), name15);
    EXPECT_EQ(NameText(host.userName), name15);  // nmbd's only <03> name is its own
    EXPECT_EQ(NameText(host.groupName), std::string(kWorkgroup) + std::string(15 - sizeof kWorkgroup + 1, ' '));

    // nmbd stops: four missed replies later the host is down.
    test::StopProcess(nmbd);
    ASSERT_TRUE(events.WaitFor([&](const auto& ev) { return count(ev, "Host is down of " + name15) == 1; }, 30000));
    EXPECT_EQ(host.state(), HostState::Down);

    engine.reset();
    loop.Quit();
}

}  // namespace
}  // namespace quorvane
