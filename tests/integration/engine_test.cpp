// The engine end to end against the NBT simulator on loopback: real sockets, real threads.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <thread>

#include "tests/integration/engine_rig.h"

namespace quorvane {
namespace {

using test::EngineRig;

constexpr uint32_t kFirst = Ipv4(127, 42, 0, 1);

bool Has(const std::vector<MonitorEvent>& events, const std::string& text) {
    for (const auto& e : events)
        if (e.text == text) return true;
    return false;
}

TEST(EngineIntegration, FoundAtFirstReplyAliveAtFourthDownAtFourthMissAndBack) {
    EngineRig rig(kFirst, 3);
    rig.Start();
    const std::string name = "H-42-0-1       ";
    ASSERT_TRUE(rig.events().WaitFor([&](const auto& ev) { return Has(ev, "Host is alive of " + name); }));
    const auto first = rig.events().events();
    // Found first, then alive, for each of the three hosts.
    EXPECT_EQ(rig.events().CountText("Found New Host Name is " + name), 1u);
    size_t found = 0, alive = 0;
    for (const auto& e : first) {
        if (e.host != &rig.Slot(0)) continue;
        if (e.text.rfind("Found", 0) == 0) {
            EXPECT_EQ(alive, 0u) << "alive before found";
        }
        found += e.text.rfind("Found", 0) == 0;
        alive += e.text.rfind("Host is alive", 0) == 0;
    }
    EXPECT_EQ(found, 1u);
    HostEntry& h = rig.Slot(0);
    EXPECT_EQ(NameText(h.groupName), "WG-0           ");
    EXPECT_EQ(NameText(h.userName), "U-42-0-1       ");
    EXPECT_EQ(h.mac, (MacAddress{0x02, 0x00, 127, 42, 0, 1}));
    EXPECT_EQ(h.state(), HostState::Up);
    EXPECT_TRUE(h.listed());

    rig.sim().SetSilent(rig.Address(0), true);
    ASSERT_TRUE(rig.events().WaitFor([&](const auto& ev) { return Has(ev, "Host is down of " + name); }));
    EXPECT_EQ(h.state(), HostState::Down);
    EXPECT_NE(h.shutdownTime, 0);
    // The other hosts answer on and stay up.
    EXPECT_EQ(rig.events().CountText("Host is down of H-42-0-2       "), 0u);

    rig.sim().SetSilent(rig.Address(0), false);
    ASSERT_TRUE(rig.events().WaitFor([&](const auto& ev) {
        size_t n = 0;
        for (const auto& e : ev) n += e.text == "Host is alive of " + name;
        return n == 2;
    }));
    // Back up, but not found anew: it kept its row.
    EXPECT_EQ(rig.events().CountText("Found New Host Name is " + name), 1u);
}

TEST(EngineIntegration, NameAndMacChangeRaiseTwoEventsWithOneTime) {
    EngineRig rig(kFirst, 1);
    rig.Start();
    ASSERT_TRUE(rig.events().WaitFor([](const auto& ev) { return ev.size() >= 2; }));  // found, alive
    nbtsim::HostProfile p = nbtsim::DefaultProfile(rig.Address(0));
    p.hostName = "RENAMED";
    p.mac = {0x00, 0x00, 0x0C, 9, 9, 9};
    rig.sim().SetProfile(rig.Address(0), p);  // both in the next reply
    ASSERT_TRUE(rig.events().WaitFor([](const auto& ev) {
        size_t info = 0;
        for (const auto& e : ev) info += e.kind == EventKind::Information;
        return info >= 2;
    }));
    std::vector<MonitorEvent> info;
    for (const auto& e : rig.events().events())
        if (e.kind == EventKind::Information) info.push_back(e);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].text, "Host Name changed from H-42-0-1         ---->  RENAMED        ");
    EXPECT_EQ(info[1].text, "MAC Address changed from 02-00-7F-2A-00-01  ---->  00-00-0C-09-09-09");
    EXPECT_EQ(info[0].time, info[1].time);
    EXPECT_EQ(NameText(rig.Slot(0).hostName), "RENAMED        ");
}

TEST(EngineIntegration, LateAndSpoofedRepliesAreIgnored) {
    // One query per 3 s cycle (query, then a pass that counts the miss): the reply, 2 s late,
    // can only be matched against its own query.
    EngineRig rig(kFirst, 2, {.periodMs = 3000, .replyTimeoutMs = 400});
    rig.sim().SetDelay(rig.Address(0), 2000);
    rig.sim().SetSpoofSource(rig.Address(1), Ipv4(127, 42, 0, 99));
    rig.Start();
    // Both are queried over and over, neither is ever found.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rig.engine().datagramsReceived() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // handled by now
    EXPECT_EQ(rig.sim().Host(rig.Address(0))->replies, 1u);
    EXPECT_EQ(rig.sim().Host(rig.Address(1))->replies, 1u);
    EXPECT_TRUE(rig.events().events().empty());
    EXPECT_EQ(rig.Slot(0).state(), HostState::Down);
    EXPECT_EQ(rig.Slot(1).state(), HostState::Down);
    EXPECT_GE(rig.engine().datagramsReceived(), 2u);
}

TEST(EngineIntegration, StoppedServiceSendsNothing) {
    EngineRig rig(kFirst, 4);
    rig.Start();
    ASSERT_TRUE(rig.events().WaitFor([](const auto& ev) { return ev.size() >= 4; }));
    rig.OnUiThread([&] { rig.engine().SetServiceStopped(true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // a pass in progress ends
    const uint64_t sent = rig.engine().queriesSent();
    const uint64_t queries = rig.sim().Stats().queriesReceived;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(rig.engine().queriesSent(), sent);
    EXPECT_EQ(rig.sim().Stats().queriesReceived, queries);
    // Nothing was counted as missed meanwhile, and starting again resumes the queries.
    for (uint32_t i = 0; i < 4; ++i) EXPECT_NE(rig.Slot(i).state(), HostState::Missing);
    rig.OnUiThread([&] { rig.engine().SetServiceStopped(false); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rig.engine().queriesSent() == sent && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GT(rig.engine().queriesSent(), sent);
}

TEST(EngineIntegration, DeleteHostDuringPassesFindsItAnew) {
    EngineRig rig(kFirst, 20);
    rig.Start();
    ASSERT_TRUE(rig.events().WaitFor([](const auto& ev) { return ev.size() >= 40; }));  // found + alive each
    bool edited = false;
    rig.OnUiThread([&] {
        edited = rig.engine().TableEdit(
            [&] {
                for (uint32_t i : {3u, 7u, 11u}) rig.table().RemoveHost(rig.Slot(i), false, &rig.list());
            },
            [&] { rig.loop().ProcessPending(); });
    });
    EXPECT_TRUE(edited);
    EXPECT_TRUE(rig.events().WaitFor([](const auto& ev) {
        size_t found = 0;
        for (const auto& e : ev) found += e.text.rfind("Found New Host Name is ", 0) == 0;
        return found == 23;
    }));
    rig.OnUiThread([&] { EXPECT_EQ(rig.table().rowCount(), 20u); });
}

}  // namespace
}  // namespace quorvane
