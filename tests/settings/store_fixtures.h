#pragma once
// Helpers of the settings store tests: a host table stand-in, a configuration with every field
// changed, a field-by-field comparison and a reader of the stream's records.

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/net.h"
#include "settings/app_settings.h"
#include "settings/host_persistence.h"
#include "settings/settings_store.h"

namespace quorvane::test {

// Saves a fixed payload and remembers the payload it was given to load.
class FakeHosts final : public HostPersistence {
public:
    std::vector<uint8_t> payload;  // what SaveHosts appends
    uint32_t occupied = 0;
    bool failSave = false;
    std::vector<std::vector<uint8_t>> loaded;

    uint32_t occupiedCount() const override { return occupied; }
    bool SaveHosts(StreamBuffer& out) override {
        if (failSave) return false;
        return out.AppendGrowing(payload.data(), payload.size());
    }
    uint32_t LoadHosts(std::span<const uint8_t> p) override {
        loaded.emplace_back(p.begin(), p.end());
        return 0;
    }
};

// The settings of a fresh start on 192.168.5.77.
inline AppSettings Fresh() {
    AppSettings s;
    ApplyStartupDefaults(s, Ipv4(192, 168, 5, 77));
    return s;
}

template <size_t N>
void Fill(std::array<uint8_t, N>& a, uint8_t seed) {
    for (size_t i = 0; i < N; ++i) a[i] = static_cast<uint8_t>(seed + i * 7);
}

// Every field away from its default, reserved values included (trailer words as a load leaves them).
inline AppSettings AllChanged() {
    AppSettings s = Fresh();
    s.queryTimerSeconds = 7;
    s.queryTimeoutSeconds = 11;
    s.replyContinuousLost = 13;
    s.hostStateThreshold = 5;
    s.probePort = 6137;
    s.segments.clear();
    for (int i = 0; i < 3; ++i) {
        IpSegment seg;
        Fill(seg.reservedHead, static_cast<uint8_t>(i + 1));
        seg.first = Ipv4(10, 1, static_cast<uint8_t>(i), 1);
        seg.end = Ipv4(10, 1, static_cast<uint8_t>(i), 200);
        Fill(seg.reservedTail, static_cast<uint8_t>(i + 9));
        s.segments.push_back(seg);
    }
    s.optionFlags = 0x8F8F5F5Fu;
    s.channelFlags = 0x1F9F1F9Fu;
    s.syslogFlags = 0xFFFFFF1Fu;
    s.mailFlags = 0xF0000003u;
    s.generalReserved0 = -20;
    Fill(s.generalReserved4, 4);
    s.generalReserved66 = 123456;
    s.generalReserved70 = 9;
    s.generalReserved74 = -5;
    Fill(s.generalReserved78, 78);
    Fill(s.generalReserved108, 108);
    Fill(s.generalReserved236, 236);
    s.reservedText1 = "first reserved";
    s.reservedText2 = std::string(255, 'r');
    s.logFile = "/var/tmp/monitor.log";
    s.logTemplate = "<DATE_TIME> <EVENT>";
    s.logReserved = 81;
    s.logTrailer = 6;
    s.smtpServer = "mail.example.test";
    s.smtpPort = 587;
    s.mailFrom = "monitor@example.test";
    s.smtpUser = "monitor";
    s.smtpPassword = "p\xe4ss w;rd";
    s.mailReceivers = {"a@example.test", "", "b@example.test"};
    s.mailSubject = "[<EVENT>]";
    s.mailBody = "Body\r\nof <HOST_NAME>";
    s.mailTestSubject = "test";
    s.mailReserved = 51;
    s.execFile = "/usr/bin/logger";
    s.execParameters = "-t quorvane <EVENT>";
    s.execReserved = 61;
    s.execTrailer = 6;
    s.infoSound = {0, 3, "/snd/info.wav"};
    s.downSound = {0, 4, "/snd/down.wav"};
    s.upSound = {1, 5, "/snd/up.wav"};
    s.soundUntilBreaking = 1;
    s.soundReserved = 91;
    s.soundTrailer = 6;
    s.messengerRetryTimes = 4;
    s.messengerReceivers = {{Ipv4(10, 0, 0, 2), 0}, {Ipv4(10, 0, 0, 3), 77}};
    s.messengerFrom = "Monitor";
    s.messengerMessage = "<EVENT> at <IP_ADDR>";
    s.messengerTestText = std::string(255, 'm');
    s.boxTitle = "Box <EVENT>";
    s.boxText = "Box text";
    s.boxReserved = 71;
    s.boxTrailer = 6;
    s.syslogServers = {{Ipv4(127, 0, 0, 1), 0}, {Ipv4(127, 0, 0, 2), 5}};
    s.syslogMessage = "syslog <EVENT>";
    s.syslogTestText = "syslog test";
    return s;
}

// The names of the fields in which a and b differ.
inline std::vector<std::string> Differences(const AppSettings& a, const AppSettings& b) {
    std::vector<std::string> out;
#define QV_FIELD(f) \
    if (!(a.f == b.f)) out.push_back(#f)
    QV_FIELD(queryTimerSeconds);
    QV_FIELD(queryTimeoutSeconds);
    QV_FIELD(replyContinuousLost);
    QV_FIELD(hostStateThreshold);
    QV_FIELD(probePort);
    QV_FIELD(segments);
    QV_FIELD(optionFlags);
    QV_FIELD(channelFlags);
    QV_FIELD(syslogFlags);
    QV_FIELD(mailFlags);
    QV_FIELD(generalReserved0);
    QV_FIELD(generalReserved4);
    QV_FIELD(generalReserved66);
    QV_FIELD(generalReserved70);
    QV_FIELD(generalReserved74);
    QV_FIELD(generalReserved78);
    QV_FIELD(generalReserved108);
    QV_FIELD(generalReserved236);
    QV_FIELD(reservedText1);
    QV_FIELD(reservedText2);
    QV_FIELD(logFile);
    QV_FIELD(logTemplate);
    QV_FIELD(logReserved);
    QV_FIELD(logTrailer);
    QV_FIELD(smtpServer);
    QV_FIELD(smtpPort);
    QV_FIELD(mailFrom);
    QV_FIELD(smtpUser);
    QV_FIELD(smtpPassword);
    QV_FIELD(mailReceivers);
    QV_FIELD(mailSubject);
    QV_FIELD(mailBody);
    QV_FIELD(mailTestSubject);
    QV_FIELD(mailReserved);
    QV_FIELD(execFile);
    QV_FIELD(execParameters);
    QV_FIELD(execReserved);
    QV_FIELD(execTrailer);
    QV_FIELD(infoSound);
    QV_FIELD(downSound);
    QV_FIELD(upSound);
    QV_FIELD(soundUntilBreaking);
    QV_FIELD(soundReserved);
    QV_FIELD(soundTrailer);
    QV_FIELD(messengerRetryTimes);
    QV_FIELD(messengerReceivers);
    QV_FIELD(messengerFrom);
    QV_FIELD(messengerMessage);
    QV_FIELD(messengerTestText);
    QV_FIELD(boxTitle);
    QV_FIELD(boxText);
    QV_FIELD(boxReserved);
    QV_FIELD(boxTrailer);
    QV_FIELD(syslogServers);
    QV_FIELD(syslogMessage);
    QV_FIELD(syslogTestText);
#undef QV_FIELD
    // A field added to AppSettings but not above shows up here.
    if (out.empty() && !(a == b)) out.push_back("a field missing from Differences()");
    return out;
}

struct Record {
    int32_t sequence;
    int32_t type;
    std::vector<uint8_t> payload;
};

inline int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// The records of a well-formed stream.
inline std::vector<Record> Records(std::span<const uint8_t> s) {
    std::vector<Record> out;
    size_t pos = 0;
    while (pos + 12 <= s.size()) {
        const int32_t len = Le32(&s[pos + 8]);
        if (len < 0 || pos + 12 + static_cast<size_t>(len) > s.size()) break;
        out.push_back({Le32(&s[pos]), Le32(&s[pos + 4]), {s.begin() + pos + 12, s.begin() + pos + 12 + len}});
        pos += 12 + static_cast<size_t>(len);
    }
    return out;
}

// Little builders for hand-made streams.
struct Bytes {
    std::vector<uint8_t> v;
    Bytes& u32(uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
        return *this;
    }
    Bytes& i32(int32_t x) { return u32(static_cast<uint32_t>(x)); }
    Bytes& text(const std::string& t) {
        v.insert(v.end(), t.begin(), t.end());
        v.push_back(0);
        return *this;
    }
    Bytes& chars(const std::string& t) {  // without a terminator
        v.insert(v.end(), t.begin(), t.end());
        return *this;
    }
    Bytes& zeros(size_t n) {
        v.insert(v.end(), n, 0);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& b) {
        v.insert(v.end(), b.begin(), b.end());
        return *this;
    }
    Bytes& record(int32_t type, const std::vector<uint8_t>& payload, int32_t sequence = 0) {
        i32(sequence).i32(type).i32(static_cast<int32_t>(payload.size()));
        return raw(payload);
    }
};

}  // namespace quorvane::test
