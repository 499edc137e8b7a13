#pragma once
// The one set of settings of the program: model defaults at construction, the start-up defaults
// applied before the store loads, and reserved values the store carries through unchanged.
// Written on the UI thread only; workers get copies inside their jobs.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/event_kind.h"

namespace quorvane {

// A monitored address range, 24 bytes exactly as stored. Addresses in network byte order;
// first above end is allowed (the host table swaps them when applying).
struct IpSegment {
    std::array<uint8_t, 8> reservedHead{};
    uint32_t first = 0;
    uint32_t end = 0;
    std::array<uint8_t, 8> reservedTail{};
    bool operator==(const IpSegment&) const = default;
};
static_assert(sizeof(IpSegment) == 24);

// An address list entry (messenger receivers, syslog servers) with the reserved word stored beside it.
struct AddressEntry {
    uint32_t address = 0;  // network byte order
    uint32_t reserved = 0;
    bool operator==(const AddressEntry&) const = default;
};

struct SoundRule {
    uint32_t beep = 0;  // bit 0: 1 beep for `seconds`, 0 play `soundFile`
    int32_t seconds = 0;
    std::string soundFile;
    bool operator==(const SoundRule&) const = default;
};

// Switches packed into the flag words. Each names its word and bit.
enum class SettingFlag {
    runAtStartup,
    startServiceAutomatically,
    logAsCsv,
    messengerOnDown, messengerOnUp, messengerOnInfo,
    boxOnDown, boxOnUp, boxOnInfo,
    execOnDown, execOnUp, execOnInfo,
    mailOnDown, mailOnUp, mailOnInfo,
    soundOnDown, soundOnUp, soundOnInfo,
    logOnDown, logOnUp, logOnInfo,
    syslogOnDown, syslogOnUp, syslogOnInfo,
    mailHighPriority, smtpLogon,
};

inline constexpr uint32_t kFreshOptionFlags = 0x307036A0u;
inline constexpr uint32_t kFreshChannelFlags = 0xE0606060u;
inline constexpr uint32_t kFreshSyslogFlags = 0xE0u;
inline constexpr size_t kMaxSegments = 2048;
inline constexpr size_t kMaxSyslogServers = 88;

inline const char kDefaultMailBody[] =
    "<EVENT>\r\nEvent time is <DATE_TIME>\r\nHOSTNAME is <HOST_NAME>\r\nIP ADDR is <IP_ADDR>\r\n"
    "MAC ADDR is <MAC_ADDR>\r\nGROUP NAME is <GROUP_NAME>\r\nUSER NAME is <USER_NAME>";

struct AppSettings {
    // --- General and engine -------------------------------------------------------------
    int32_t queryTimerSeconds = 3;
    int32_t queryTimeoutSeconds = 5;  // shown and stored only
    int32_t replyContinuousLost = 3;  // shown and stored only
    uint32_t hostStateThreshold = 3;
    uint16_t probePort = 0;
    std::vector<IpSegment> segments;

    // Flag words, written by the store as they are; reserved bits keep their values.
    uint32_t optionFlags = kFreshOptionFlags;
    uint32_t channelFlags = kFreshChannelFlags;
    uint32_t syslogFlags = kFreshSyslogFlags;
    // Mail record flags: bit 0 mailHighPriority, bit 1 smtpLogon, other bits reserved.
    uint32_t mailFlags = 0;

    // Reserved words of the general block (offsets in the stored block).
    int32_t generalReserved0 = 20;                  // offset 0
    std::array<uint8_t, 32> generalReserved4{};     // offset 4
    int32_t generalReserved66 = 691200;             // offset 66
    int32_t generalReserved70 = 0;                  // offset 70; a load turns 0 into 3
    int32_t generalReserved74 = 5;                  // offset 74
    std::array<uint8_t, 30> generalReserved78{};    // offset 78
    std::array<uint8_t, 128> generalReserved108{};  // offset 108
    std::array<uint8_t, 128> generalReserved236{};  // offset 236
    std::string reservedText1;                      // at most 255 bytes
    std::string reservedText2;                      // at most 255 bytes

    // --- Log file channel ---------------------------------------------------------------
    std::string logFile = "quorvane.log";
    std::string logTemplate = "<EVENT>;<IP_ADDR>;<HOST_NAME>";
    int32_t logReserved = 0;
    int32_t logTrailer = 1;

    // --- Mail channel -------------------------------------------------------------------
    std::string smtpServer;
    int32_t smtpPort = 25;
    std::string mailFrom;
    std::string smtpUser;
    std::string smtpPassword;
    std::vector<std::string> mailReceivers;
    std::string mailSubject = "<EVENT>";
    std::string mailBody = kDefaultMailBody;
    std::string mailTestSubject = "send a test Email";
    int32_t mailReserved = 0;

    // --- Program execution channel ------------------------------------------------------
    std::string execFile;
    std::string execParameters;
    int32_t execReserved = 0;
    int32_t execTrailer = 1;

    // --- Sound channel ------------------------------------------------------------------
    SoundRule infoSound{1, 10, {}};
    SoundRule downSound{1, 10, {}};
    SoundRule upSound{0, 1, {}};
    uint32_t soundUntilBreaking = 0;  // bit 0
    int32_t soundReserved = 0;
    int32_t soundTrailer = 6;

    // --- Messenger channel --------------------------------------------------------------
    int32_t messengerRetryTimes = 1;
    std::vector<AddressEntry> messengerReceivers;
    std::string messengerFrom;  // at most 255 bytes
    std::string messengerMessage = kDefaultMailBody;
    std::string messengerTestText = "This is a test message";  // at most 255 bytes

    // --- Message box channel ------------------------------------------------------------
    std::string boxTitle = "<EVENT>";
    std::string boxText =
        "<DATE_TIME>\r\nHOSTNAME is <HOST_NAME>\r\nIP ADDR is <IP_ADDR>\r\nMAC ADDR is <MAC_ADDR>\r\n"
        "GROUP NAME is <GROUP_NAME>";
    int32_t boxReserved = 0;
    int32_t boxTrailer = 1;

    // --- Syslog channel -----------------------------------------------------------------
    std::vector<AddressEntry> syslogServers;
    std::string syslogMessage = "PEER is <IP_ADDR>/<HOST_NAME> <EVENT>";
    std::string syslogTestText = "This is a syslog test message";

    // --- Switches -----------------------------------------------------------------------
    bool flag(SettingFlag f) const;
    void setFlag(SettingFlag f, bool on);
    // Bits 0-4 of optionFlags: 0 six dash-separated pairs, else three dot-separated groups.
    uint32_t macSeparatorStyle() const { return optionFlags & 0x1Fu; }
    void setMacSeparatorStyle(uint32_t v) { optionFlags = (optionFlags & ~0x1Fu) | (v & 0x1Fu); }
    // Bits 5-6 of optionFlags: non-zero upper-case hexadecimal digits.
    uint32_t macUpperCase() const { return (optionFlags >> 5) & 0x3u; }
    void setMacUpperCase(uint32_t v) { optionFlags = (optionFlags & ~0x60u) | ((v & 0x3u) << 5); }

    bool operator==(const AppSettings&) const = default;
};

// The switch of a channel for an event kind; false for a kind that is not 0, 1 or 2.
bool ChannelSwitch(const AppSettings& s, Channel channel, EventKind kind);

// The start-up defaults, applied after construction and before the store loads: timers, probe
// port, messenger retries, and, when the local address is known, the local .1-.255 segment and
// the local host as the one messenger receiver. Without an address both lists stay empty.
void ApplyStartupDefaults(AppSettings& s, std::optional<uint32_t> localAddress);

// The segment .1 to .255 of the /24 holding the address (all in network byte order).
IpSegment DefaultSegmentFor(uint32_t localAddress);

}  // namespace quorvane
