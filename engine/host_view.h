#pragma once
// The host view's handling of the engine messages, without any GUI: it writes the host times,
// listing and row image, drives the host list through HostListSink and raises the monitor events
// into an EventSink. Runs on the UI thread only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/host_list.h"
#include "engine/host_table.h"
#include "engine/messages.h"
#include "engine/vendor_table.h"
#include "settings/app_settings.h"

namespace quorvane {

struct MonitorEvent {
    HostEntry* host = nullptr;
    std::string text;
    std::string timeText;  // FormatEventTime of time
    int64_t time = 0;      // seconds since 1970
    EventKind kind = EventKind::Information;
};

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void AddEvent(const MonitorEvent& event) = 0;
};

// "  ---->  " between the old and the new value of a change event.
inline constexpr char kChangeSeparator[] = "  ---->  ";

// The stored name as event texts show it: its 15 characters, padding included, up to a zero byte.
std::string NameText(const NameField& name);

class HostView {
public:
    using WallClock = std::function<int64_t()>;

    HostView(HostTable& table, const AppSettings& settings, HostListSink& list, EventSink& events,
             const std::atomic<uint8_t>& serviceStopped, WallClock clock = {});

    // Handles one engine message; the result is what a Send returns (-1 refuses a pass).
    int64_t Handle(const EngineMessage& message);

    void HostFound(HostEntry& host);
    void HostAlive(HostEntry& host);
    void HostDown(HostEntry& host);
    void HostChanged(HostEntry& host, const SelectedNames& changes);
    void HostUncertain(HostEntry& host);  // missed, or answering again

private:
    int64_t Now() const { return clock_(); }
    void Raise(HostEntry& host, std::string text, int64_t time, EventKind kind);

    HostTable& table_;
    const AppSettings& settings_;
    HostListSink& list_;
    EventSink& events_;
    const std::atomic<uint8_t>& serviceStopped_;
    WallClock clock_;
};

}  // namespace quorvane
