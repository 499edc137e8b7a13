#pragma once
// Notification dispatch: every monitor event is offered, once, to the seven channels in their fixed
// order. UI thread only.

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

#include "engine/host_view.h"
#include "notify/notification_channel.h"
#include "settings/app_settings.h"

namespace quorvane {

// The channels a dispatcher offers events to; an empty one is skipped. Fields in dispatch order.
struct ChannelSet {
    NotificationChannel* syslog = nullptr;
    NotificationChannel* messenger = nullptr;   // worker channel, not built yet
    NotificationChannel* mail = nullptr;        // worker channel, not built yet
    NotificationChannel* messageBox = nullptr;  // worker channel, not built yet
    NotificationChannel* program = nullptr;     // worker channel, not built yet
    NotificationChannel* sound = nullptr;       // worker channel, not built yet
    NotificationChannel* log = nullptr;
};

// Process-wide count of DispatchEvent calls, also of those no channel acts on; wraps at 2^32.
// The messenger channel uses it as the identifier of an event's jobs.
uint32_t DispatchCount();

class Dispatcher {
public:
    Dispatcher(const AppSettings& settings, const ChannelSet& channels);

    // Counts the event; for a kind of 0, 1 or 2 makes its MacroContext and calls, in order, every
    // present channel whose switch for the kind is on.
    void DispatchEvent(HostEntry& host, std::string_view eventText, std::string_view timeText, EventKind kind);
    void DispatchEvent(const MonitorEvent& event);

    // What the event list calls at the end of AddEvent. The dispatcher must outlive it.
    std::function<void(const MonitorEvent&)> Hook();

private:
    struct Slot {
        Channel channel;
        NotificationChannel* target;
    };
    const AppSettings& settings_;
    std::array<Slot, 7> slots_;
};

}  // namespace quorvane
