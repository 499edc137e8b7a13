#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include "platform/net.h"

namespace quorvane {
namespace {

TEST(AppSettings, FreshFlagWordsAndSwitches) {
    const AppSettings s;
    EXPECT_EQ(s.optionFlags, 0x307036A0u);
    EXPECT_EQ(s.channelFlags, 0xE0606060u);
    EXPECT_EQ(s.syslogFlags, 0xE0u);
    EXPECT_EQ(s.macSeparatorStyle(), 0u);
    EXPECT_EQ(s.macUpperCase(), 1u);
    EXPECT_TRUE(s.flag(SettingFlag::runAtStartup));
    EXPECT_TRUE(s.flag(SettingFlag::startServiceAutomatically));
    EXPECT_FALSE(s.flag(SettingFlag::logAsCsv));

    // Every channel is on for down and up; only the log file and syslog for information.
    const Channel all[] = {Channel::Syslog, Channel::Messenger, Channel::Mail, Channel::MessageBox,
                           Channel::Program, Channel::Sound, Channel::Log};
    for (Channel c : all) {
        EXPECT_TRUE(ChannelSwitch(s, c, EventKind::Down));
        EXPECT_TRUE(ChannelSwitch(s, c, EventKind::Up));
        EXPECT_EQ(ChannelSwitch(s, c, EventKind::Information), c == Channel::Syslog || c == Channel::Log);
        EXPECT_FALSE(ChannelSwitch(s, c, static_cast<EventKind>(3)));
    }
}

TEST(AppSettings, SwitchesSitAtTheirBitsAndKeepReservedBits) {
    const struct {
        SettingFlag flag;
        uint32_t AppSettings::*word;
        unsigned bit;
    } cases[] = {
        {SettingFlag::runAtStartup, &AppSettings::optionFlags, 9},
        {SettingFlag::messengerOnInfo, &AppSettings::optionFlags, 14},
        {SettingFlag::boxOnDown, &AppSettings::optionFlags, 28},
        {SettingFlag::execOnUp, &AppSettings::channelFlags, 6},
        {SettingFlag::mailOnInfo, &AppSettings::channelFlags, 15},
        {SettingFlag::soundOnDown, &AppSettings::channelFlags, 21},
        {SettingFlag::logOnInfo, &AppSettings::channelFlags, 31},
        {SettingFlag::syslogOnUp, &AppSettings::syslogFlags, 6},
        {SettingFlag::smtpLogon, &AppSettings::mailFlags, 1},
    };
    for (const auto& c : cases) {
        AppSettings s;
        s.optionFlags = s.channelFlags = s.syslogFlags = s.mailFlags = 0xFFFFFFFFu;
        s.setFlag(c.flag, false);
        EXPECT_EQ(s.*c.word, ~(1u << c.bit)) << c.bit;
        EXPECT_FALSE(s.flag(c.flag));
        s.setFlag(c.flag, true);
        EXPECT_EQ(s.*c.word, 0xFFFFFFFFu);
    }
    AppSettings s;
    s.optionFlags = 0xFFFFFF80u;
    s.setMacSeparatorStyle(1);
    s.setMacUpperCase(0);
    EXPECT_EQ(s.optionFlags, 0xFFFFFF81u);
}

TEST(AppSettings, ModelAndStartupDefaults) {
    AppSettings s;
    EXPECT_EQ(s.queryTimeoutSeconds, 5);
    EXPECT_EQ(s.probePort, 0);
    EXPECT_EQ(s.logTemplate, "<EVENT>;<IP_ADDR>;<HOST_NAME>");
    EXPECT_EQ(s.messengerMessage, s.mailBody);
    EXPECT_EQ(s.infoSound, (SoundRule{1, 10, {}}));
    EXPECT_EQ(s.upSound, (SoundRule{0, 1, {}}));

    ApplyStartupDefaults(s, Ipv4(192, 168, 5, 77));
    EXPECT_EQ(s.queryTimerSeconds, 3);
    EXPECT_EQ(s.queryTimeoutSeconds, 3);
    EXPECT_EQ(s.replyContinuousLost, 3);
    EXPECT_EQ(s.probePort, 6000);
    EXPECT_EQ(s.messengerRetryTimes, 1);
    ASSERT_EQ(s.segments.size(), 1u);
    EXPECT_EQ(s.segments[0].first, Ipv4(192, 168, 5, 1));
    EXPECT_EQ(s.segments[0].end, Ipv4(192, 168, 5, 255));
    ASSERT_EQ(s.messengerReceivers.size(), 1u);
    EXPECT_EQ(s.messengerReceivers[0].address, Ipv4(192, 168, 5, 77));

    AppSettings none;
    ApplyStartupDefaults(none, std::nullopt);
    EXPECT_TRUE(none.segments.empty());
    EXPECT_TRUE(none.messengerReceivers.empty());
    EXPECT_EQ(none.probePort, 6000);
}

}  // namespace
}  // namespace quorvane
