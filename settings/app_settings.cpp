#include "settings/app_settings.h"

#include <arpa/inet.h>

namespace quorvane {

namespace {

struct FlagPlace {
    uint32_t AppSettings::*word;
    unsigned bit;
};

constexpr FlagPlace PlaceOf(SettingFlag f) {
    using F = SettingFlag;
    switch (f) {
        case F::runAtStartup: return {&AppSettings::optionFlags, 9};
        case F::startServiceAutomatically: return {&AppSettings::optionFlags, 10};
        case F::logAsCsv: return {&AppSettings::optionFlags, 11};
        case F::messengerOnDown: return {&AppSettings::optionFlags, 12};
        case F::messengerOnUp: return {&AppSettings::optionFlags, 13};
        case F::messengerOnInfo: return {&AppSettings::optionFlags, 14};
        case F::boxOnDown: return {&AppSettings::optionFlags, 28};
        case F::boxOnUp: return {&AppSettings::optionFlags, 29};
        case F::boxOnInfo: return {&AppSettings::optionFlags, 30};
        case F::execOnDown: return {&AppSettings::channelFlags, 5};
        case F::execOnUp: return {&AppSettings::channelFlags, 6};
        case F::execOnInfo: return {&AppSettings::channelFlags, 7};
        case F::mailOnDown: return {&AppSettings::channelFlags, 13};
        case F::mailOnUp: return {&AppSettings::channelFlags, 14};
        case F::mailOnInfo: return {&AppSettings::channelFlags, 15};
        case F::soundOnDown: return {&AppSettings::channelFlags, 21};
        case F::soundOnUp: return {&AppSettings::channelFlags, 22};
        case F::soundOnInfo: return {&AppSettings::channelFlags, 23};
        case F::logOnDown: return {&AppSettings::channelFlags, 29};
        case F::logOnUp: return {&AppSettings::channelFlags, 30};
        case F::logOnInfo: return {&AppSettings::channelFlags, 31};
        case F::syslogOnDown: return {&AppSettings::syslogFlags, 5};
        case F::syslogOnUp: return {&AppSettings::syslogFlags, 6};
        case F::syslogOnInfo: return {&AppSettings::syslogFlags, 7};
        case F::mailHighPriority: return {&AppSettings::mailFlags, 0};
        case F::smtpLogon: return {&AppSettings::mailFlags, 1};
    }
    return {&AppSettings::optionFlags, 31};  // unreachable
}

// The down, up and information switches of each channel.
struct ChannelSwitches {
    SettingFlag down, up, info;
};

constexpr ChannelSwitches SwitchesOf(Channel c) {
    using F = SettingFlag;
    switch (c) {
        case Channel::Syslog: return {F::syslogOnDown, F::syslogOnUp, F::syslogOnInfo};
        case Channel::Messenger: return {F::messengerOnDown, F::messengerOnUp, F::messengerOnInfo};
        case Channel::Mail: return {F::mailOnDown, F::mailOnUp, F::mailOnInfo};
        case Channel::MessageBox: return {F::boxOnDown, F::boxOnUp, F::boxOnInfo};
        case Channel::Program: return {F::execOnDown, F::execOnUp, F::execOnInfo};
        case Channel::Sound: return {F::soundOnDown, F::soundOnUp, F::soundOnInfo};
        case Channel::Log: return {F::logOnDown, F::logOnUp, F::logOnInfo};
    }
    return {F::logOnDown, F::logOnUp, F::logOnInfo};  // unreachable
}

}  // namespace

bool AppSettings::flag(SettingFlag f) const {
    const FlagPlace p = PlaceOf(f);
    return ((this->*p.word) >> p.bit) & 1u;
}

void AppSettings::setFlag(SettingFlag f, bool on) {
    const FlagPlace p = PlaceOf(f);
    uint32_t& w = this->*p.word;
    w = on ? (w | (1u << p.bit)) : (w & ~(1u << p.bit));
}

bool ChannelSwitch(const AppSettings& s, Channel channel, EventKind kind) {
    const ChannelSwitches sw = SwitchesOf(channel);
    switch (kind) {
        case EventKind::Up: return s.flag(sw.up);
        case EventKind::Information: return s.flag(sw.info);
        case EventKind::Down: return s.flag(sw.down);
    }
    return false;
}

IpSegment DefaultSegmentFor(uint32_t localAddress) {
    const uint32_t base = (ntohl(localAddress) & ~0xFFu) + 1u;
    IpSegment seg;
    seg.first = htonl(base);
    seg.end = htonl(base + 254u);
    return seg;
}

void ApplyStartupDefaults(AppSettings& s, std::optional<uint32_t> localAddress) {
    s.messengerRetryTimes = 1;
    s.messengerReceivers.clear();
    s.queryTimerSeconds = 3;
    s.queryTimeoutSeconds = 3;
    s.probePort = 6000;
    s.segments.clear();
    if (localAddress) {
        s.messengerReceivers.push_back({*localAddress, 0});
        s.segments.push_back(DefaultSegmentFor(*localAddress));
    }
}

}  // namespace quorvane
