#include "notify/dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/event_host.h"

namespace quorvane {
namespace {

struct Call {
    std::string channel;
    EventKind kind;
    std::string eventText;
    const MacroContext* context;
    std::string eventTime;
};

class FakeChannel : public NotificationChannel {
public:
    FakeChannel(std::string name, std::vector<Call>& calls) : name_(std::move(name)), calls_(calls) {}
    void Notify(EventKind kind, HostEntry&, std::string_view eventText, MacroContext& context) override {
        calls_.push_back({name_, kind, std::string(eventText), &context, context.eventTimeText});
    }

private:
    std::string name_;
    std::vector<Call>& calls_;
};

class Dispatch : public testing::Test {
protected:
    std::vector<Call> calls;
    FakeChannel syslog{"syslog", calls}, messenger{"messenger", calls}, mail{"mail", calls}, box{"box", calls},
        program{"program", calls}, sound{"sound", calls}, log{"log", calls};
    ChannelSet all{&syslog, &messenger, &mail, &box, &program, &sound, &log};
    AppSettings settings;  // fresh configuration
    std::unique_ptr<HostEntry> host = test::MakeEventHost();

    std::vector<std::string> Names() const {
        std::vector<std::string> n;
        for (const Call& c : calls) n.push_back(c.channel);
        return n;
    }
};

TEST_F(Dispatch, FreshConfigurationOffersEachKindToItsChannelsInTheFixedOrder) {
    Dispatcher d(settings, all);
    const uint32_t before = DispatchCount();
    d.DispatchEvent(*host, "Host is down of PC1", "when", EventKind::Down);
    EXPECT_EQ(Names(), (std::vector<std::string>{"syslog", "messenger", "mail", "box", "program", "sound", "log"}));
    for (const Call& c : calls) {
        EXPECT_EQ(c.kind, EventKind::Down);
        EXPECT_EQ(c.eventText, "Host is down of PC1");
        EXPECT_EQ(c.eventTime, "when");
        EXPECT_EQ(c.context, calls.front().context);  // one context for the event
    }
    calls.clear();
    d.DispatchEvent(*host, "Group Name changed", "when", EventKind::Information);
    EXPECT_EQ(Names(), (std::vector<std::string>{"syslog", "log"}));
    EXPECT_EQ(DispatchCount() - before, 2u);
}

TEST_F(Dispatch, SwitchesOffOrAnUnknownKindGiveOnlyTheCount) {
    for (uint32_t* word : {&settings.optionFlags, &settings.channelFlags, &settings.syslogFlags}) *word = 0;
    Dispatcher d(settings, all);
    const uint32_t before = DispatchCount();
    for (EventKind k : {EventKind::Up, EventKind::Information, EventKind::Down}) d.DispatchEvent(*host, "e", "t", k);
    AppSettings fresh;
    Dispatcher freshDispatcher(fresh, all);
    freshDispatcher.DispatchEvent(*host, "e", "t", static_cast<EventKind>(3));
    freshDispatcher.DispatchEvent(*host, "e", "t", static_cast<EventKind>(-1));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(DispatchCount() - before, 5u);
}

TEST_F(Dispatch, OneSwitchDecidesForItsChannelOnly) {
    settings.setFlag(SettingFlag::mailOnUp, false);
    settings.setFlag(SettingFlag::soundOnInfo, true);
    Dispatcher d(settings, all);
    d.DispatchEvent(*host, "e", "t", EventKind::Up);
    EXPECT_EQ(Names(), (std::vector<std::string>{"syslog", "messenger", "box", "program", "sound", "log"}));
    calls.clear();
    d.DispatchEvent(*host, "e", "t", EventKind::Information);
    EXPECT_EQ(Names(), (std::vector<std::string>{"syslog", "sound", "log"}));
}

TEST_F(Dispatch, HookCarriesTheEventAndEmptySlotsAreSkipped) {
    ChannelSet some;
    some.syslog = &syslog;
    some.log = &log;
    Dispatcher d(settings, some);
    const auto hook = d.Hook();
    MonitorEvent e;
    e.host = host.get();
    e.text = "Host is alive of PC1";
    e.timeText = "Tue, 2023-11-14 22:13:20";
    e.kind = EventKind::Up;
    const uint32_t before = DispatchCount();
    hook(e);
    ASSERT_EQ(Names(), (std::vector<std::string>{"syslog", "log"}));
    EXPECT_EQ(calls[1].eventText, e.text);
    EXPECT_EQ(calls[1].eventTime, e.timeText);
    e.host = nullptr;  // counted, nothing to expand
    hook(e);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(DispatchCount() - before, 2u);
}

}  // namespace
}  // namespace quorvane
