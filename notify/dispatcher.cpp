#include "notify/dispatcher.h"

#include <atomic>

namespace quorvane {

namespace {
std::atomic<uint32_t> g_dispatchCount{0};
}

uint32_t DispatchCount() { return g_dispatchCount.load(std::memory_order_relaxed); }

Dispatcher::Dispatcher(const AppSettings& settings, const ChannelSet& c)
    : settings_(settings),
      slots_{{{Channel::Syslog, c.syslog},
              {Channel::Messenger, c.messenger},
              {Channel::Mail, c.mail},
              {Channel::MessageBox, c.messageBox},
              {Channel::Program, c.program},
              {Channel::Sound, c.sound},
              {Channel::Log, c.log}}} {}

void Dispatcher::DispatchEvent(HostEntry& host, std::string_view eventText, std::string_view timeText,
                               EventKind kind) {
    g_dispatchCount.fetch_add(1, std::memory_order_relaxed);
    switch (kind) {
        case EventKind::Up:
        case EventKind::Information:
        case EventKind::Down:
            break;
        default:
            return;
    }
    MacroContext context(host, timeText, settings_);
    for (const Slot& slot : slots_) {
        if (slot.target && ChannelSwitch(settings_, slot.channel, kind)) slot.target->Notify(kind, host, eventText, context);
    }
}

void Dispatcher::DispatchEvent(const MonitorEvent& event) {
    if (!event.host) {  // nothing to expand; still an event
        g_dispatchCount.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    DispatchEvent(*event.host, event.text, event.timeText, event.kind);
}

std::function<void(const MonitorEvent&)> Dispatcher::Hook() {
    return [this](const MonitorEvent& event) { DispatchEvent(event); };
}

}  // namespace quorvane
