#include "engine/host_view.h"
#include "platform/net.h"

#include <gtest/gtest.h>

#include "tests/support/recording_target.h"

namespace quorvane {
namespace {

using test::RecordingEvents;
using test::RecordingList;

class HostViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        IpSegment seg;
        seg.first = Ipv4(127, 0, 0, 5);
        seg.end = Ipv4(127, 0, 0, 6);
        settings.segments = {seg};
        ASSERT_GE(table.ApplySegments(settings.segments, 0, 1), 0);
        HostEntry::SetName15(host().hostName, MakeNbName("WS1"));
        table.BuildRows(list);
    }
    HostEntry& host(size_t i = 0) { return table.slot(i); }
    int64_t Send(uint32_t id, HostEntry* h, int64_t lParam = 0, SelectedNames changes = {}) {
        EngineMessage m;
        m.message = id;
        m.host = h;
        m.lParam = lParam;
        m.changes = changes;
        return view.Handle(m);
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& e : events.events) out.push_back(e.text);
        return out;
    }

    HostTable table;
    AppSettings settings;
    RecordingList list;
    RecordingEvents events;
    std::atomic<uint8_t> stopped{0};
    int64_t now = 1580807103;
    HostView view{table, settings, list, events, stopped, [this] { return now; }};
};

TEST_F(HostViewTest, FoundThenAliveRaiseUpEventsWithPaddedNames) {
    Send(WM_HOSTFOUND, &host());
    EXPECT_TRUE(host().listed());
    EXPECT_EQ(table.rowCount(), 1u);
    EXPECT_EQ(host().firstFoundTime, now);
    EXPECT_EQ(host().listImage, 1u);
    host().setFlagBits(kHostStartupPending, true);  // as the receiver leaves it
    now += 9;
    Send(WM_HOSTALIVE, &host(), 3);
    EXPECT_EQ(texts(), (std::vector<std::string>{"Found New Host Name is WS1            ",
                                                 "Host is alive of WS1            "}));
    EXPECT_EQ(events.events[0].kind, EventKind::Up);
    EXPECT_EQ(events.events[1].kind, EventKind::Up);
    EXPECT_EQ(events.events[1].timeText, "Tue, 2020-02-04 09:05:12");
    EXPECT_FALSE(host().startupPending());
    EXPECT_EQ(host().listImage, 0u);
    bool startupShown = false;
    for (const auto& c : list.calls)
        if (c.what == "cell" && c.column == kColStartup && c.text == "Tue, 2020-02-04 09:05:12") startupShown = true;
    EXPECT_TRUE(startupShown);
}

TEST_F(HostViewTest, MissedAndBackRaisesNothingButRenewsStartupTime) {
    Send(WM_HOSTFOUND, &host());
    host().setFlagBits(kHostStartupPending, true);
    Send(WM_HOSTALIVE, &host(), 3);
    const size_t before = events.events.size();
    list.calls.clear();
    Send(WM_HOSTMISSED, &host(), 1);
    Send(WM_HOSTANSWERED, &host(), 1);
    now += 100;
    Send(WM_HOSTALIVE, &host(), 3);
    EXPECT_EQ(events.events.size(), before);
    EXPECT_EQ(list.images(), (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(host().startupTime, now);
}

TEST_F(HostViewTest, DownThenAliveAgain) {
    Send(WM_HOSTFOUND, &host());
    host().setFlagBits(kHostStartupPending, false);
    now += 60;
    Send(WM_HOSTDOWN, &host(), 3);
    EXPECT_EQ(texts().back(), "Host is down of WS1            ");
    EXPECT_EQ(events.events.back().kind, EventKind::Down);
    EXPECT_EQ(host().shutdownTime, now);
    EXPECT_TRUE(host().startupPending());
    EXPECT_EQ(host().listImage, 2u);
    Send(WM_HOSTALIVE, &host(), 3);
    EXPECT_EQ(texts().back(), "Host is alive of WS1            ");
}

TEST_F(HostViewTest, ChangesComeInOrderWithOneTime) {
    Send(WM_HOSTFOUND, &host());
    host().mac = {0x00, 0x00, 0x0C, 1, 2, 3};
    SelectedNames c;
    c.hostName = MakeNbName("WS2");
    c.mac = MacAddress{0x00, 0x00, 0x0A, 4, 5, 6};
    events.events.clear();
    Send(WM_HOSTCHANGED, &host(), 0, c);
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "Host Name changed from WS1              ---->  WS2            ",
                           "MAC Address changed from 00-00-0C-01-02-03  ---->  00-00-0A-04-05-06"}));
    EXPECT_EQ(events.events[0].time, events.events[1].time);
    EXPECT_EQ(events.events[0].kind, EventKind::Information);
    EXPECT_EQ(NameText(host().hostName), "WS2            ");
    ASSERT_NE(host().vendor, nullptr);
    EXPECT_STREQ(host().macText, "00-00-0A-04-05-06");

    // A MAC whose prefix is in no entry leaves the vendor cell alone.
    list.calls.clear();
    SelectedNames unknown;
    unknown.mac = MacAddress{0xFF, 0xFF, 0xFF, 1, 1, 1};
    Send(WM_HOSTCHANGED, &host(), 0, unknown);
    for (const auto& call : list.calls) EXPECT_NE(call.column, kColVendor);
    EXPECT_EQ(host().vendor, nullptr);
}

TEST_F(HostViewTest, FreedSlotsAndPassBrackets) {
    HostEntry& freed = table.slot(100);
    EXPECT_EQ(Send(WM_HOSTFOUND, &freed), 0);
    EXPECT_TRUE(events.events.empty());
    EXPECT_EQ(Send(WM_PASSBEGIN, nullptr), 0);
    stopped = 1;
    EXPECT_EQ(Send(WM_PASSBEGIN, nullptr), -1);
    EXPECT_EQ(Send(WM_PASSEND, nullptr), 0);
}

}  // namespace
}  // namespace quorvane
