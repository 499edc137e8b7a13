#include "engine/reply_handler.h"
#include "platform/net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "tests/support/nbt_reply_builder.h"
#include "tests/support/recording_target.h"

namespace quorvane {
namespace {

using test::BuildReply;
using test::RecordingTarget;
using test::WorkstationNames;

constexpr uint32_t kAddr = Ipv4(127, 0, 0, 5);

class ReplyHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        IpSegment seg;
        seg.first = seg.end = kAddr;
        settings.segments = {seg};
        ASSERT_GE(table.ApplySegments(settings.segments, 0, 1), 0);
    }
    HostEntry& host() { return table.slot(0); }
    // A query went out now; the reply comes `age` ms later.
    ReplyHandler::Outcome Answer(const std::vector<uint8_t>& d, uint32_t age = 10, uint32_t from = kAddr) {
        host().lastSendTick = ticks.Now();
        host().replyTick = 0;
        ticks.Advance(age);
        return handler.Handle(d, from);
    }
    std::vector<uint8_t> Reply(const std::string& name = "WS1", const std::string& user = "ALICE",
                               MacAddress mac = {0x00, 0x00, 0x0C, 1, 2, 3}, uint16_t tid = 0) {
        return BuildReply(tid, WorkstationNames(name, "OFFICE", user), mac);
    }

    HostTable table;
    AppSettings settings;
    RecordingTarget view;
    ManualTicks ticks{5000};
    ReplyHandler handler{table, settings, view, ticks};
};

TEST_F(ReplyHandlerTest, FirstReplyStoresNamesAndIsFoundThenAliveAtTheFourth) {
    EXPECT_EQ(Answer(Reply()), ReplyHandler::Outcome::Parsed);
    EXPECT_EQ(NameText(host().hostName), "WS1            ");
    EXPECT_EQ(NameText(host().groupName), "OFFICE         ");
    EXPECT_EQ(NameText(host().userName), "ALICE          ");
    EXPECT_EQ(host().mac, (MacAddress{0x00, 0x00, 0x0C, 1, 2, 3}));
    ASSERT_NE(host().vendor, nullptr);
    EXPECT_EQ(host().state(), HostState::Answering);
    EXPECT_TRUE(host().startupPending());
    EXPECT_EQ(view.ids(), std::vector<uint32_t>{WM_HOSTFOUND});

    for (int i = 0; i < 3; ++i) EXPECT_EQ(Answer(Reply()), ReplyHandler::Outcome::Unchanged);
    EXPECT_EQ(host().state(), HostState::Up);
    const auto msgs = view.messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1].message, WM_HOSTALIVE);
    EXPECT_EQ(msgs[1].lParam, 3);
}

TEST_F(ReplyHandlerTest, InTimeAtTheTimeoutLateOneMillisecondAfter) {
    EXPECT_EQ(Answer(Reply(), 2000), ReplyHandler::Outcome::Parsed);
    view.clear();
    const HostState before = host().state();
    EXPECT_EQ(Answer(Reply("WS2"), 2001), ReplyHandler::Outcome::Late);
    EXPECT_EQ(host().state(), before);
    EXPECT_EQ(host().replyTick, 0u);
    EXPECT_TRUE(view.messages().empty());
    // A reply with no query outstanding (already counted as missed) is late too.
    host().lastSendTick = 0;
    EXPECT_EQ(handler.Handle(Reply(), kAddr), ReplyHandler::Outcome::Late);
}

TEST_F(ReplyHandlerTest, IgnoredDatagrams) {
    std::vector<uint8_t> notResponse = Reply();
    notResponse[2] &= 0x7F;
    std::vector<uint8_t> noAnswers = Reply();
    noAnswers[7] = 0;
    std::vector<uint8_t> oversized = Reply();
    oversized.resize(1501);
    const struct {
        std::vector<uint8_t> d;
        uint32_t from;
    } cases[] = {
        {notResponse, kAddr},
        {noAnswers, kAddr},
        {{}, kAddr},
        {{0x00}, kAddr},
        {oversized, kAddr},
        {Reply(), Ipv4(127, 0, 0, 6)},           // from another address than the slot's
        {Reply("WS1", "A", {}, 1), kAddr},       // names a slot holding no / another address
    };
    for (const auto& c : cases) EXPECT_EQ(Answer(c.d, 10, c.from), ReplyHandler::Outcome::Ignored);
    EXPECT_TRUE(view.messages().empty());
    EXPECT_EQ(host().state(), HostState::Down);
}

TEST_F(ReplyHandlerTest, IdenticalRepliesAreNotParsedAgainEvenWithAnotherTransactionId) {
    Answer(Reply());
    EXPECT_EQ(Answer(Reply()), ReplyHandler::Outcome::Unchanged);
    // The saved copy carries another transaction id (the host had another slot when it was kept).
    host().savedReply[0] = 0x55;
    host().savedReply[1] = 0x01;
    EXPECT_EQ(Answer(Reply()), ReplyHandler::Outcome::Unchanged);
    EXPECT_EQ(host().streak, 2u);
}

TEST_F(ReplyHandlerTest, ListedHostChangeTravelsAsACopyBeforeTheStateStep) {
    Answer(Reply());
    host().setFlagBits(kHostListed, true);  // the view listed it
    host().setState(HostState::Missing);
    view.clear();

    Answer(Reply("WS1", "BOB"));
    Answer(Reply("WS1", "CAROL"));  // a further change before the view handled the first
    const auto msgs = view.messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].message, WM_HOSTCHANGED);
    ASSERT_TRUE(msgs[0].changes.userName);
    EXPECT_EQ(*msgs[0].changes.userName, MakeNbName("BOB"));
    EXPECT_FALSE(msgs[0].changes.hostName);
    EXPECT_EQ(msgs[1].message, WM_HOSTANSWERED);
    EXPECT_EQ(msgs[1].lParam, 1);
    EXPECT_EQ(msgs[2].message, WM_HOSTCHANGED);
    // A listed host's stored names wait for the view.
    EXPECT_EQ(NameText(host().userName), "ALICE          ");
}

TEST_F(ReplyHandlerTest, ShortDatagramStillCountsAsAnAnswer) {
    std::vector<uint8_t> d = Reply();
    d.resize(40);  // accepted (R bit, ANCOUNT) but cut before the name table
    EXPECT_EQ(Answer(d), ReplyHandler::Outcome::Parsed);
    EXPECT_EQ(host().state(), HostState::Answering);
    EXPECT_EQ(host().hostName[0], 0);
    EXPECT_EQ(host().savedReplyLength, 40);
}

}  // namespace
}  // namespace quorvane
