#include "channels/syslog_channel.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <span>

namespace quorvane {

namespace {
// Unsigned underneath, so the wrap to negative numbers is defined.
std::atomic<uint32_t> g_syslogSequence{1};
}  // namespace

int32_t TakeSyslogSequence() {
    return static_cast<int32_t>(g_syslogSequence.fetch_add(1, std::memory_order_relaxed));
}

size_t FormatSyslogPayload(char (&out)[kSyslogBufferSize], int facility, int severity, int32_t sequence,
                           std::string_view message) {
    // The fixed part: "<PRI>", the number, a colon, the empty third value between two blanks.
    const int head = std::snprintf(out, sizeof out, "<%d>%d:  ", facility * 8 + severity, static_cast<int>(sequence));
    if (head < 0) {
        out[0] = '\0';
        return 0;
    }
    const size_t used = static_cast<size_t>(head);  // at most a few dozen bytes: two ints
    if (message.empty()) return used;
    if (const void* zero = std::memchr(message.data(), 0, message.size()))
        message = message.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - message.data()));
    const size_t room = sizeof out - 1 - used;
    const size_t n = message.size() < room ? message.size() : room;
    std::memcpy(out + used, message.data(), n);
    out[used + n] = '\0';
    return used + n;
}

long SendSyslogDatagram(UdpSocket& socket, int facility, int severity, int32_t sequence, std::string_view message,
                        const Endpoint& destination) {
    char payload[kSyslogBufferSize];
    const size_t length = FormatSyslogPayload(payload, facility, severity, sequence, message);
    return socket.SendTo(std::span(reinterpret_cast<const uint8_t*>(payload), length), destination);
}

SyslogChannel::SyslogChannel(const AppSettings& settings, UdpSocket& socket, uint16_t port)
    : settings_(settings), socket_(socket), port_(port) {}

void SyslogChannel::NotifySyslog(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context) {
    if (!ChannelSwitch(settings_, Channel::Syslog, kind)) return;
    context.ExpandSyslog(host, eventText);
    for (const AddressEntry& server : settings_.syslogServers) {
        SendSyslogDatagram(socket_, kSyslogFacility, kSyslogSeverity, TakeSyslogSequence(), context.syslogMessage,
                           {server.address, port_});
    }
}

}  // namespace quorvane
