#include "engine/probe_threads.h"
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/nbt_reply_builder.h"
#include "tests/support/recording_target.h"

namespace quorvane {
namespace {

using test::BuildReply;
using test::RecordingTarget;
using test::WorkstationNames;
using Clock = std::chrono::steady_clock;

// The reply receiver on a real loopback socket, fed by one socket per simulated host (each bound
// to the host's own 127.x address, so the source check passes).
class ReceiverTest : public ::testing::Test {
protected:
    static constexpr uint32_t kHosts = 4;

    void SetUp() override {
        IpSegment seg;
        seg.first = Ipv4(127, 77, 0, 1);
        seg.end = Ipv4(127, 77, 0, kHosts);
        settings.segments = {seg};
        ASSERT_GE(table.ApplySegments(settings.segments, 0, 1), 0);
        ASSERT_TRUE(probe.Open());
        ASSERT_TRUE(probe.Bind(Ipv4(127, 0, 0, 1), 0));
        probe.SetBufferSizes(kProbeSocketBuffer, kProbeSocketBuffer);
        for (uint32_t i = 0; i < kHosts; ++i) {
            ASSERT_TRUE(hosts[i].Open());
            ASSERT_TRUE(hosts[i].Bind(table.slot(i).ipv4(), 0)) << i;
        }
        receiver = MakeThread<crecvnbtthread>(probe, handler, pausedAck);
        receiver->Resume();
    }
    void TearDown() override {
        if (receiver) receiver->StopAndWake();
    }
    // Every host gets a query outstanding (the reply is in time), then sends `each` replies.
    void Burst(uint32_t each) {
        for (uint32_t r = 0; r < each; ++r) {
            for (uint32_t i = 0; i < kHosts; ++i) {
                {
                    std::lock_guard lock(table.mutex());
                    table.slot(i).lastSendTick = ticks.Now();
                    table.slot(i).replyTick = 0;
                }
                const auto reply = BuildReply(static_cast<uint16_t>(i), WorkstationNames("WS", "OFFICE", "ALICE"),
                                              MacAddress{0x02, 0, 0, 0, 0, static_cast<uint8_t>(i)});
                ASSERT_GT(hosts[i].SendTo(reply, probe.LocalEndpoint()), 0);
            }
        }
    }
    bool WaitDatagrams(uint64_t n) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (receiver->datagrams() < n && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return receiver->datagrams() >= n;
    }
    size_t Count(uint32_t id) const {
        size_t n = 0;
        for (uint32_t m : view.ids()) n += m == id;
        return n;
    }

    HostTable table;
    AppSettings settings;
    RecordingTarget view;
    ManualTicks ticks{5000};
    ReplyHandler handler{table, settings, view, ticks};
    UdpSocket probe;
    UdpSocket hosts[kHosts];
    Event pausedAck;
    ThreadPtr<crecvnbtthread> receiver;
};

TEST_F(ReceiverTest, EveryReplyOfRepeatedBurstsIsHandled) {
    // Bursts no larger than the sender's pacing lets arrive, each read before the next.
    uint64_t sent = 0;
    for (int burst = 0; burst < 20; ++burst) {
        Burst(8);
        sent += 8 * kHosts;
        ASSERT_TRUE(WaitDatagrams(sent)) << "burst " << burst << ": " << receiver->datagrams() << " of " << sent;
    }
    EXPECT_EQ(receiver->datagrams(), sent);
    // Found at the first reply, Up at the fourth, and nothing more for the rest.
    EXPECT_EQ(Count(WM_HOSTFOUND), kHosts);
    EXPECT_EQ(Count(WM_HOSTALIVE), kHosts);
    EXPECT_EQ(view.ids().size(), 2 * kHosts);
    for (uint32_t i = 0; i < kHosts; ++i) EXPECT_EQ(table.slot(i).state(), HostState::Up) << i;
}

TEST_F(ReceiverTest, PausedReceiverHandlesNothingUntilReleasedAndStopsPromptly) {
    receiver->RequestPause();
    ASSERT_TRUE(pausedAck.Wait(5000));
    Burst(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(receiver->datagrams(), 0u);  // held still: the table is being edited
    receiver->Release();
    EXPECT_TRUE(WaitDatagrams(kHosts));
    EXPECT_EQ(Count(WM_HOSTFOUND), kHosts);

    receiver->StopAndWake();
    EXPECT_EQ(receiver->WaitStop(), 1);
    EXPECT_EQ(receiver->threadExitCode(), 0);
}

}  // namespace
}  // namespace quorvane
