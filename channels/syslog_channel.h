#pragma once
// The syslog channel: one plain-text UDP datagram per server and event, "<PRI>seq:  message",
// sent on the notify socket from the UI thread. No worker, no reply, no retry.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "notify/notification_channel.h"
#include "platform/net.h"
#include "settings/app_settings.h"

namespace quorvane {

inline constexpr uint16_t kSyslogPort = 514;
inline constexpr int kSyslogFacility = 10;  // authpriv
inline constexpr int kSyslogSeverity = 5;   // notice
// The payload is formatted in this many bytes including a terminating NUL, so at most
// kSyslogBufferSize - 1 bytes are sent.
inline constexpr size_t kSyslogBufferSize = 2888;

// Process-wide datagram sequence: returns the current value (1 at program start) and moves it on
// by one. Wraps to negative values after 2^31 - 1. Shared by the event path and the test send.
int32_t TakeSyslogSequence();

// Writes "<PRI>seq:  message" (format "<%d>%d: %s %s" with an empty third value) into out and
// returns its length, without the NUL. A message that would not fit is cut so the payload is at
// most kSyslogBufferSize - 1 bytes; it also ends at a zero byte, as a C text would.
size_t FormatSyslogPayload(char (&out)[kSyslogBufferSize], int facility, int severity, int32_t sequence,
                           std::string_view message);

// Formats the payload (PRI = facility * 8 + severity) and sends it with one sendto. Returns what
// sendto returns: the bytes sent, or -1.
long SendSyslogDatagram(UdpSocket& socket, int facility, int severity, int32_t sequence, std::string_view message,
                        const Endpoint& destination);

class SyslogChannel final : public NotificationChannel {
public:
    // socket: the notify socket (may be invalid: then nothing is sent, and sequences still move).
    // port: 514; tests give their own.
    SyslogChannel(const AppSettings& settings, UdpSocket& socket, uint16_t port = kSyslogPort);

    // The event path: when the kind's switch is on, expands `syslogMessage` once and sends it to
    // every server in list order, each datagram taking the next sequence number.
    void NotifySyslog(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context);
    void Notify(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context) override {
        NotifySyslog(kind, host, eventText, context);
    }

private:
    const AppSettings& settings_;
    UdpSocket& socket_;
    uint16_t port_;
};

}  // namespace quorvane
