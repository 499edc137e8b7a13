// The NBT simulator on loopback: every reply is checked with the monitor's own codec.

#include <arpa/inet.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/nbt_codec.h"
#include "platform/net.h"
#include "tools/nbtsim/nbt_simulator.h"
#include "tools/nbtsim/sim_commands.h"

namespace quorvane::nbtsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFirst = Ipv4(127, 1, 0, 1);
constexpr uint32_t kHosts = 16;
constexpr size_t kFullLength = 57 + 6 * 18 + 46;  // six names and the statistics
constexpr uint32_t kReplyWaitMs = 5000;           // generous: only a missing reply takes this long

uint32_t HostAt(uint32_t first, uint32_t i) { return htonl(ntohl(first) + i); }

struct Received {
    Endpoint from;
    std::vector<uint8_t> bytes;
};

class NbtSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sim_.AddHosts(kFirst, kHosts), static_cast<int>(kHosts));
        ASSERT_TRUE(sim_.Start()) << sim_.error();
        ASSERT_NE(sim_.port(), 0);
        ASSERT_TRUE(client_.Open());
        ASSERT_TRUE(client_.Bind(Ipv4(127, 0, 0, 1), 0));
    }

    static QueryDatagram Query(uint16_t tid, uint8_t secondFlagsByte = 0) {
        QueryDatagram q;
        BuildNodeStatusQuery(q);
        StampQuery(q, tid);
        q[3] = secondFlagsByte;
        return q;
    }

    void Send(uint32_t to, std::span<const uint8_t> bytes) {
        ASSERT_EQ(client_.SendTo(bytes, {to, sim_.port()}), static_cast<long>(bytes.size()));
    }
    void SendQuery(uint32_t to, uint16_t tid) {
        const QueryDatagram q = Query(tid);
        Send(to, q);
    }

    std::optional<Received> Receive(uint32_t timeoutMs = kReplyWaitMs) {
        std::vector<uint8_t> buf(4096);
        Endpoint from;
        const long n = client_.ReceiveFromWithin(buf, &from, timeoutMs);
        if (n < 0) return std::nullopt;
        buf.resize(static_cast<size_t>(n));
        return Received{from, std::move(buf)};
    }

    // The reply to a fresh query, asserted to come from `from` with the query's transaction id.
    std::optional<Received> Ask(uint32_t host, uint16_t tid, uint32_t from = 0) {
        SendQuery(host, tid);
        auto r = Receive();
        EXPECT_TRUE(r) << "no reply from " << FormatIpv4(host);
        if (!r) return r;
        EXPECT_EQ(r->from.address, from ? from : host);
        EXPECT_EQ(r->from.port, sim_.port());
        if (r->bytes.size() >= 2) {
            EXPECT_EQ(ReplyTransactionId(r->bytes), tid);
        }
        return r;
    }

    NbtSimulator sim_{{.port = 0}};
    UdpSocket client_;
};

SelectedNames Select(const std::vector<uint8_t>& bytes, const StoredNames& stored = {}) {
    NodeStatusReply reply;
    EXPECT_TRUE(AcceptNodeStatusReply(bytes));
    EXPECT_TRUE(ParseNodeStatusReply(bytes, reply));
    return SelectNames(reply, stored);
}

TEST_F(NbtSimTest, AnswersFromTheQueriedAddressLikeANameServer) {
    const uint32_t host = HostAt(kFirst, 3);  // 127.1.0.4
    // Flags 0x0000 as the monitor and nmblookup send; 0x0010 (broadcast bit) as nbtscan sends.
    for (const uint8_t flags : {uint8_t{0x00}, uint8_t{0x10}}) {
        const QueryDatagram q = Query(0x0102, flags);
        Send(host, q);
        const auto r = Receive();
        ASSERT_TRUE(r) << "flags " << int{flags};
        EXPECT_EQ(r->from, (Endpoint{host, sim_.port()}));
        ASSERT_EQ(r->bytes.size(), kFullLength);
        EXPECT_EQ(r->bytes[0], 0x02);
        EXPECT_EQ(r->bytes[1], 0x01);
        EXPECT_EQ(r->bytes[2], 0x84);  // response, authoritative
        EXPECT_EQ(r->bytes[54] << 8 | r->bytes[55], static_cast<int>(kFullLength - 56));  // RDLENGTH

        NodeStatusReply reply;
        ASSERT_TRUE(ParseNodeStatusReply(r->bytes, reply));
        ASSERT_EQ(reply.nameCount, 6);
        const NodeName expected[] = {{MakeNbName("H-1-0-4"), 0x00, 0x04}, {MakeNbName("WG-0"), 0x00, 0x84},
                                     {MakeNbName("H-1-0-4"), 0x20, 0x04}, {MakeNbName("H-1-0-4"), 0x03, 0x04},
                                     {MakeNbName("WG-0"), 0x1E, 0x84},    {MakeNbName("U-1-0-4"), 0x03, 0x04}};
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(reply.names[i], expected[i]) << i;

        const SelectedNames s = Select(r->bytes);
        EXPECT_EQ(s.hostName, MakeNbName("H-1-0-4"));
        EXPECT_EQ(s.groupName, MakeNbName("WG-0"));
        EXPECT_EQ(s.userName, MakeNbName("U-1-0-4"));
        EXPECT_EQ(s.mac, (MacAddress{0x02, 0x00, 127, 1, 0, 4}));
    }
    const auto h = sim_.Host(host);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->queries, 2u);
    EXPECT_EQ(h->replies, 2u);
}

TEST_F(NbtSimTest, IgnoresEverythingButNodeStatusQueriesToSimulatedHosts) {
    const uint32_t host = HostAt(kFirst, 0);
    auto bent = [](auto change) {
        QueryDatagram q = Query(7);
        change(q);
        return std::vector<uint8_t>(q.begin(), q.end());
    };
    struct Case {
        const char* what;
        uint32_t to;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"unconfigured address", Ipv4(127, 1, 0, 200), bent([](QueryDatagram&) {})},
        {"the machine's own loopback", Ipv4(127, 0, 0, 1), bent([](QueryDatagram&) {})},
        {"recursion desired", host, bent([](QueryDatagram& q) { q[2] = 0x01; })},
        {"a response", host, bent([](QueryDatagram& q) { q[2] = 0x84; })},
        {"name query, not NBSTAT", host, bent([](QueryDatagram& q) { q[47] = 0x20; })},
        {"a name other than *", host, bent([](QueryDatagram& q) { q[14] = 'E'; })},
        {"one byte short", host, bent([](QueryDatagram&) {})},
        {"empty", host, {}},
    };
    cases[6].bytes.pop_back();
    for (const Case& c : cases) Send(c.to, c.bytes);
    // Datagrams are handled in arrival order: once this reply is here, all of the above were seen.
    ASSERT_TRUE(Ask(host, 99));
    EXPECT_FALSE(Receive(200)) << "something else was answered";
    const SimulatorStats s = sim_.Stats();
    EXPECT_EQ(s.ignored, cases.size());
    EXPECT_EQ(s.queriesReceived, 1u);
    EXPECT_EQ(s.repliesSent, 1u);
}

TEST_F(NbtSimTest, SilentHostStaysQuietUntilToldToAnswer) {
    const uint32_t host = HostAt(kFirst, 1);
    ASSERT_TRUE(sim_.SetSilent(host, true));
    SendQuery(host, 1);
    EXPECT_FALSE(Receive(300));
    ASSERT_TRUE(sim_.SetSilent(host, false));
    // Had the silent query been answered after all, its id 1 would arrive here instead of 2.
    ASSERT_TRUE(Ask(host, 2));
    const auto h = sim_.Host(host);
    EXPECT_EQ(h->queries, 2u);
    EXPECT_EQ(h->replies, 1u);
}

TEST_F(NbtSimTest, ChangedNamesAndMacShowInTheNextReply) {
    const uint32_t host = HostAt(kFirst, 2);
    const StoredNames stored{MakeNbName("WG-0"), MakeNbName("H-1-0-3"), MakeNbName("U-1-0-3"),
                             {0x02, 0x00, 127, 1, 0, 3}};
    auto r = Ask(host, 1);
    ASSERT_TRUE(r);
    EXPECT_FALSE(Select(r->bytes, stored).any());

    const MacAddress mac{0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(sim_.SetHostName(host, "WS1"));
    ASSERT_TRUE(sim_.SetGroupName(host, "OFFICE"));
    ASSERT_TRUE(sim_.SetUserName(host, "alice"));
    ASSERT_TRUE(sim_.SetMac(host, mac));
    r = Ask(host, 2);
    ASSERT_TRUE(r);
    const SelectedNames s = Select(r->bytes, stored);
    EXPECT_EQ(s.hostName, MakeNbName("WS1"));
    EXPECT_EQ(s.groupName, MakeNbName("OFFICE"));
    EXPECT_EQ(s.userName, MakeNbName("alice"));
    EXPECT_EQ(s.mac, mac);

    // An empty user name leaves its entry out; the host's own <03> name then is the user name.
    ASSERT_TRUE(sim_.SetUserName(host, ""));
    r = Ask(host, 3);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->bytes.size(), kFullLength - 18);
    EXPECT_EQ(Select(r->bytes).userName, MakeNbName("WS1"));

    // Refused: a name longer than 15 bytes, an address that is not simulated.
    EXPECT_FALSE(sim_.SetHostName(host, "SIXTEEN-CHARS-XX"));
    EXPECT_FALSE(sim_.SetHostName(Ipv4(127, 1, 0, 200), "X"));
    EXPECT_EQ(sim_.Host(host)->profile.hostName, "WS1");
}

TEST_F(NbtSimTest, LateRepliesWaitTheirDelayInDueOrder) {
    const uint32_t slow = HostAt(kFirst, 4);
    const uint32_t fast = HostAt(kFirst, 5);
    ASSERT_TRUE(sim_.SetDelay(slow, 600));
    ASSERT_TRUE(sim_.SetDelay(fast, 250));
    EXPECT_FALSE(sim_.SetDelay(fast, NbtSimulator::kMaxDelayMs + 1));
    const auto t0 = Clock::now();
    SendQuery(slow, 1);
    SendQuery(fast, 2);
    const auto first = Receive();
    const auto t1 = Clock::now();
    const auto second = Receive();
    const auto t2 = Clock::now();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->from.address, fast);
    EXPECT_EQ(second->from.address, slow);
    EXPECT_GE(t1 - t0, std::chrono::milliseconds(250));
    EXPECT_GE(t2 - t0, std::chrono::milliseconds(600));
    EXPECT_EQ(ReplyTransactionId(second->bytes), 1);
}

TEST_F(NbtSimTest, SpoofedSourceAddress) {
    const uint32_t host = HostAt(kFirst, 6);
    const uint32_t other = Ipv4(127, 9, 9, 9);
    ASSERT_TRUE(sim_.SetSpoofSource(host, other));
    ASSERT_TRUE(Ask(host, 5, other));
    ASSERT_TRUE(sim_.SetSpoofSource(host, 0));
    ASSERT_TRUE(Ask(host, 6));
}

TEST_F(NbtSimTest, MalformedReplies) {
    struct Case {
        Malform kind;
        size_t length;       // 0: any length from 2 to 512
        bool accepted;       // AcceptNodeStatusReply
        bool parsed;         // ParseNodeStatusReply
        uint8_t nameCount;   // complete entries
        bool unitId;
    };
    const Case cases[] = {
        {Malform::ResponseBitClear, kFullLength, false, true, 6, true},
        {Malform::NoAnswers, kFullLength, false, true, 6, true},
        {Malform::TruncatedNames, 57 + 2 * 18 + 7, true, true, 2, false},
        {Malform::TruncatedUnitId, 57 + 6 * 18 + 3, true, true, 6, false},
        {Malform::ShortHeader, 30, true, false, 0, false},
        {Malform::Oversized, kMaxDatagram + 1, true, true, 6, true},
    };
    const uint32_t host = HostAt(kFirst, 7);
    uint16_t tid = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(MalformName(c.kind));
        ASSERT_TRUE(sim_.SetMalformed(host, c.kind));
        const auto r = Ask(host, ++tid);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->bytes.size(), c.length);
        EXPECT_EQ(AcceptNodeStatusReply(r->bytes), c.accepted);
        NodeStatusReply reply;
        ASSERT_EQ(ParseNodeStatusReply(r->bytes, reply), c.parsed);
        if (!c.parsed) continue;
        EXPECT_EQ(reply.nameCount, c.nameCount);
        EXPECT_EQ(reply.unitId.has_value(), c.unitId);
    }

    ASSERT_TRUE(sim_.SetMalformed(host, Malform::Empty));
    auto r = Ask(host, ++tid);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->bytes.empty());

    ASSERT_TRUE(sim_.SetMalformed(host, Malform::RandomBytes));
    std::vector<std::vector<uint8_t>> randoms;
    for (int i = 0; i < 3; ++i) {
        r = Ask(host, ++tid);
        ASSERT_TRUE(r);
        EXPECT_GE(r->bytes.size(), 2u);
        EXPECT_LE(r->bytes.size(), 512u);
        randoms.push_back(r->bytes);
    }
    EXPECT_FALSE(randoms[0] == randoms[1] && randoms[1] == randoms[2]);

    ASSERT_TRUE(sim_.SetMalformed(host, Malform::None));
    r = Ask(host, ++tid);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->bytes.size(), kFullLength);
}

TEST_F(NbtSimTest, AnswersOnlyEveryKthQuery) {
    const uint32_t host = HostAt(kFirst, 8);
    ASSERT_FALSE(sim_.SetAnswerEvery(host, 0));
    ASSERT_TRUE(sim_.SetAnswerEvery(host, 3));
    for (uint16_t tid = 1; tid <= 8; ++tid) SendQuery(host, tid);
    std::vector<uint16_t> answered;
    for (int i = 0; i < 2; ++i) {
        const auto r = Receive();
        ASSERT_TRUE(r);
        answered.push_back(*ReplyTransactionId(r->bytes));
    }
    EXPECT_EQ(answered, (std::vector<uint16_t>{3, 6}));
    ASSERT_TRUE(Ask(host, 9));  // the 7th and 8th are not answered: id 9 comes next
    EXPECT_EQ(sim_.Host(host)->queries, 9u);
    EXPECT_EQ(sim_.Host(host)->replies, 3u);
}

TEST_F(NbtSimTest, StopDropsPendingLateRepliesAndStartAnswersAgain) {
    const uint32_t host = HostAt(kFirst, 9);
    ASSERT_TRUE(sim_.SetDelay(host, NbtSimulator::kMaxDelayMs));
    SendQuery(host, 1);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (sim_.Stats().lateReplyPending == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(sim_.Stats().lateReplyPending, 1u);
    sim_.Stop();  // must not wait for the ten-minute reply
    EXPECT_FALSE(sim_.running());
    EXPECT_EQ(sim_.Stats().lateReplyPending, 0u);
    EXPECT_EQ(sim_.Stats().lateReplyDropped, 1u);

    ASSERT_TRUE(sim_.SetDelay(host, 0));
    ASSERT_TRUE(sim_.Start()) << sim_.error();
    ASSERT_TRUE(Ask(host, 2));
}

TEST(NbtSimBurst, ThousandsOfQueriesToDistinctHostsAreAllAnswered) {
    constexpr uint32_t kCount = 4000;
    constexpr uint32_t kBase = Ipv4(127, 2, 0, 1);
    NbtSimulator sim({.port = 0});
    ASSERT_EQ(sim.AddHosts(kBase, kCount), static_cast<int>(kCount));
    ASSERT_TRUE(sim.Start()) << sim.error();
    UdpSocket client;
    ASSERT_TRUE(client.Open());
    ASSERT_TRUE(client.Bind(Ipv4(127, 0, 0, 1), 0));
    // Room for every reply, as the simulator has room for every query (root raises the limit).
    const int want = 16 << 20;
    if (setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want) != 0)
        setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &want, sizeof want);

    QueryDatagram q;
    BuildNodeStatusQuery(q);
    for (uint32_t i = 0; i < kCount; ++i) {
        StampQuery(q, static_cast<uint16_t>(i));
        ASSERT_EQ(client.SendTo(q, {HostAt(kBase, i), sim.port()}), 50);
    }
    std::vector<bool> seen(kCount);
    uint32_t distinct = 0;
    std::vector<uint8_t> buf(1500);
    while (distinct < kCount) {
        Endpoint from;
        const long n = client.ReceiveFromWithin(buf, &from, kReplyWaitMs);
        if (n < 0) break;
        const auto tid = ReplyTransactionId(std::span(buf.data(), static_cast<size_t>(n)));
        ASSERT_TRUE(tid && *tid < kCount);
        ASSERT_EQ(from.address, HostAt(kBase, *tid)) << "reply " << *tid << " from the wrong address";
        if (!seen[*tid]) ++distinct;
        seen[*tid] = true;
    }
    const SimulatorStats s = sim.Stats();
    EXPECT_EQ(distinct, kCount) << FormatStats(s);
    EXPECT_EQ(s.kernelDrops, 0u);
    EXPECT_EQ(s.repliesSent, kCount);
}

TEST(NbtSimCommands, ScriptLinesSteerTheHosts) {
    NbtSimulator sim({.port = 0});
    ASSERT_EQ(sim.AddHosts(kFirst, 8), 8);
    const uint32_t h2 = HostAt(kFirst, 1);
    const uint32_t h5 = HostAt(kFirst, 4);

    EXPECT_EQ(RunCommand(sim, "silent 127.1.0.1-127.1.0.3 on").output, "3 host(s)");
    EXPECT_TRUE(sim.Host(h2)->silent);
    EXPECT_FALSE(sim.Host(HostAt(kFirst, 3))->silent);
    EXPECT_TRUE(RunCommand(sim, "host 127.1.0.5 WS1").ok);
    EXPECT_TRUE(RunCommand(sim, "  user 127.1.0.5 -   # no user logged on").ok);
    EXPECT_TRUE(RunCommand(sim, "mac 127.1.0.5 00-1B-21-aa-bb-cc").ok);
    EXPECT_TRUE(RunCommand(sim, "delay 127.1.0.5 250").ok);
    EXPECT_TRUE(RunCommand(sim, "spoof 127.1.0.5 127.9.9.9").ok);
    EXPECT_TRUE(RunCommand(sim, "malformed all truncmac").ok);
    EXPECT_TRUE(RunCommand(sim, "every 127.1.0.5 4").ok);
    const HostState h = *sim.Host(h5);
    EXPECT_EQ(h.profile.hostName, "WS1");
    EXPECT_EQ(h.profile.userName, "");
    EXPECT_EQ(h.profile.mac, (MacAddress{0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(h.delayMs, 250u);
    EXPECT_EQ(h.spoofSource, Ipv4(127, 9, 9, 9));
    EXPECT_EQ(h.malform, Malform::TruncatedUnitId);
    EXPECT_EQ(h.answerEvery, 4u);
    EXPECT_NE(RunCommand(sim, "stats 127.1.0.5").output.find("host 'WS1'"), std::string::npos);

    EXPECT_TRUE(RunCommand(sim, "reset all").ok);
    EXPECT_EQ(sim.Host(h5)->profile, DefaultProfile(h5));
    EXPECT_FALSE(sim.Host(h2)->silent);
    EXPECT_EQ(sim.Host(h5)->malform, Malform::None);

    EXPECT_EQ(RunCommand(sim, "sleep 50").sleepMs, 50u);
    EXPECT_TRUE(RunCommand(sim, "quit").quit);
    EXPECT_TRUE(RunCommand(sim, "# comment only").ok);
    for (const char* bad : {"silent 127.1.0.1 maybe", "host 127.1.0.1 SIXTEEN-CHARS-XX", "every 127.1.0.1 0",
                            "delay 10.0.0.1 5", "delay 127.1.0.1 -5", "mac 127.1.0.1 02:00:00:00:00",
                            "malformed 127.1.0.1 weird", "silent 127.1.0.9-127.1.0.1 on", "frobnicate",
                            "host 127.1.0.1"}) {
        const CommandResult r = RunCommand(sim, bad);
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_EQ(r.output.rfind("error: ", 0), 0u) << bad;
    }

    EXPECT_EQ(ParseAddressRange("127.1.0.1-127.1.255.254"), (std::pair{kFirst, 65534u}));
    EXPECT_EQ(ParseAddressRange("127.1.0.1/10"), (std::pair{kFirst, 10u}));
    EXPECT_EQ(ParseAddressRange("127.1.0.1"), (std::pair{kFirst, 1u}));
    for (const char* bad : {"127.1.0.2-127.1.0.1", "127.1.0.1/0", "127.1.0/4", "x"})
        EXPECT_FALSE(ParseAddressRange(bad)) << bad;
    EXPECT_EQ(sim.AddHosts(Ipv4(255, 255, 255, 250), 10), -1);  // would wrap
}

}  // namespace
}  // namespace quorvane::nbtsim
