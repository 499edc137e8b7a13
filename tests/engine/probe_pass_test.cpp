#include "engine/probe_pass.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <vector>

#include "tests/support/recording_target.h"

namespace quorvane {
namespace {

using test::RecordingTarget;

class ProbePassTest : public ::testing::Test {
protected:
    void Apply(uint32_t first, uint32_t count) {
        IpSegment seg;
        seg.first = htonl(first);
        seg.end = htonl(first + count - 1);
        settings.segments = {seg};
        ASSERT_GE(table.ApplySegments(settings.segments, 0, 1), 0);
    }
    ProbePass MakePass() {
        return ProbePass(table, settings, view, stopped, ticks, [this](std::span<const uint8_t> d, const Endpoint& to) {
            EXPECT_EQ(d.size(), kQueryLength);
            sentTo.push_back(to);
            sentSlots.push_back(static_cast<uint16_t>(d[0] | d[1] << 8));
            if (afterSend) afterSend();
            return sendResult;
        });
    }
    HostEntry& Host(size_t i) { return table.slot(i); }

    HostTable table;
    AppSettings settings;
    RecordingTarget view;
    std::atomic<uint8_t> stopped{0};
    ManualTicks ticks{100000};
    std::vector<Endpoint> sentTo;
    std::vector<uint16_t> sentSlots;
    std::function<void()> afterSend;
    long sendResult = 50;
};

TEST_F(ProbePassTest, EverySlotBelowHighWaterIsQueriedOncePerPass) {
    Apply(0x7F010001, 300);  // 127.1.0.1 - 127.1.1.44: slots beyond 255 too
    ProbePass pass = MakePass();
    pass.Run();
    ASSERT_EQ(sentTo.size(), 300u);
    EXPECT_EQ(sentSlots[258], 258);
    EXPECT_EQ(sentTo[258].address, Host(258).ipv4());
    EXPECT_EQ(sentTo[258].port, kNbnsPort);
    EXPECT_EQ(view.ids().front(), WM_PASSBEGIN);
    EXPECT_EQ(view.ids().back(), WM_PASSEND);
    EXPECT_EQ(view.messages().front().wParam, 100000u);

    // Answered queries: the next pass asks each host once more, never twice.
    for (size_t i = 0; i < 300; ++i) Host(i).replyTick = ticks.Now();
    ticks.Advance(3000);
    pass.Run();
    EXPECT_EQ(sentTo.size(), 600u);
}

TEST_F(ProbePassTest, UnansweredQueryIsMissedAtItsTimeoutNotBefore) {
    Apply(0x7F000005, 1);
    Host(0).setState(HostState::Up);
    ProbePass pass = MakePass();
    pass.Run();  // query at 100000
    ASSERT_EQ(sentTo.size(), 1u);

    ticks.Set(101999);  // 1999 ms: still in time
    pass.Run();
    EXPECT_EQ(sentTo.size(), 1u);
    EXPECT_TRUE(view.hostMessages().empty());

    ticks.Set(102000);  // 2000 ms: missed; no query in this pass
    pass.Run();
    EXPECT_EQ(sentTo.size(), 1u);
    const auto msgs = view.hostMessages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].message, WM_HOSTMISSED);
    EXPECT_EQ(msgs[0].lParam, 1);
    EXPECT_EQ(Host(0).state(), HostState::Missing);
    EXPECT_EQ(Host(0).streak, 0u);
    EXPECT_EQ(Host(0).lastSendTick, 0u);

    ticks.Advance(3000);  // the pass after a miss asks again
    pass.Run();
    EXPECT_EQ(sentTo.size(), 2u);
}

TEST_F(ProbePassTest, SilentMissingHostGoesDownAtTheThreshold) {
    Apply(0x7F000005, 1);
    Host(0).setState(HostState::Missing);
    ProbePass pass = MakePass();
    std::vector<uint32_t> streaks;
    for (int p = 0; p < 6; ++p) {  // query, miss, query, miss, query, miss
        pass.Run();
        streaks.push_back(Host(0).streak);
        ticks.Advance(3000);
    }
    EXPECT_EQ(streaks, (std::vector<uint32_t>{0, 1, 1, 2, 2, 3}));
    EXPECT_EQ(Host(0).state(), HostState::Down);
    const auto msgs = view.hostMessages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].message, WM_HOSTDOWN);
    EXPECT_EQ(msgs[0].lParam, 3);

    // Down stays Down without messages.
    pass.Run();
    ticks.Advance(3000);
    pass.Run();
    EXPECT_EQ(view.hostMessages().size(), 1u);
}

TEST_F(ProbePassTest, RefusedPassDoesNothingAndStopMidPassStillEndsIt) {
    Apply(0x7F000001, 10);
    ProbePass pass = MakePass();
    view.onSend = [](const EngineMessage& m) { return m.message == WM_PASSBEGIN ? -1 : 0; };
    pass.Run();
    EXPECT_TRUE(sentTo.empty());
    EXPECT_EQ(view.ids(), std::vector<uint32_t>{WM_PASSBEGIN});

    view.onSend = nullptr;
    view.clear();
    afterSend = [this] { stopped = 1; };  // the user stops the service during the pass
    pass.Run();
    EXPECT_EQ(sentTo.size(), 1u);
    EXPECT_EQ(view.ids().back(), WM_PASSEND);
}

TEST_F(ProbePassTest, FailedSendLeavesNoOutstandingQuery) {
    Apply(0x7F000001, 2);
    sendResult = -1;
    ProbePass pass = MakePass();
    pass.Run();
    EXPECT_EQ(sentTo.size(), 2u);
    EXPECT_EQ(Host(0).lastSendTick, 0u);
    EXPECT_EQ(pass.queriesSent(), 0u);
    ticks.Advance(3000);
    pass.Run();  // tried again, and no miss counted
    EXPECT_EQ(sentTo.size(), 4u);
    EXPECT_TRUE(view.hostMessages().empty());
}

}  // namespace
}  // namespace quorvane
