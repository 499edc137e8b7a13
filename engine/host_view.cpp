#include "engine/host_view.h"

#include <cstring>
#include <ctime>

namespace quorvane {

std::string NameText(const NameField& name) { return std::string(NameView(name)); }

namespace {
std::string NbNameText(const NbName& name) {
    NameField f{};
    std::memcpy(f.data(), name.data(), name.size());
    return NameText(f);
}
}  // namespace

HostView::HostView(HostTable& table, const AppSettings& settings, HostListSink& list, EventSink& events,
                   const std::atomic<uint8_t>& serviceStopped, WallClock clock)
    : table_(table),
      settings_(settings),
      list_(list),
      events_(events),
      serviceStopped_(serviceStopped),
      clock_(clock ? std::move(clock) : WallClock([] { return static_cast<int64_t>(std::time(nullptr)); })) {}

int64_t HostView::Handle(const EngineMessage& m) {
    switch (m.message) {
        case WM_PASSBEGIN:
            return serviceStopped_.load() ? -1 : 0;
        case WM_PASSEND:
            return 0;
        default:
            break;
    }
    HostEntry* host = m.host;
    // The slot may have been freed since the message was made.
    if (!host || host->ipv4() == 0) return 0;
    switch (m.message) {
        case WM_HOSTFOUND: HostFound(*host); break;
        case WM_HOSTALIVE: HostAlive(*host); break;
        case WM_HOSTDOWN: HostDown(*host); break;
        case WM_HOSTCHANGED: HostChanged(*host, m.changes); break;
        case WM_HOSTMISSED:
        case WM_HOSTANSWERED: HostUncertain(*host); break;
        default: break;
    }
    return 0;
}

void HostView::Raise(HostEntry& host, std::string text, int64_t time, EventKind kind) {
    MonitorEvent e;
    e.host = &host;
    e.text = std::move(text);
    char timeText[kEventTimeTextSize];
    FormatEventTime(time, timeText);
    e.timeText = timeText;
    e.time = time;
    e.kind = kind;
    events_.AddEvent(e);
}

void HostView::HostFound(HostEntry& host) {
    if (host.listed()) return;  // a second found message for the same row would list it twice
    {
        std::lock_guard lock(table_.mutex());
        host.setFlagBits(kHostListed, true);
    }
    host.firstFoundTime = Now();
    host.startupTime = host.firstFoundTime;
    table_.AppendRow(host, list_);
    Raise(host, "Found New Host Name is " + NameText(host.hostName), Now(), EventKind::Up);
    list_.RedrawFirstCell(host.row);
}

void HostView::HostAlive(HostEntry& host) {
    host.startupTime = Now();
    host.listImage = 0;
    if (host.listed()) list_.SetRowImage(host.row, 0);
    if (!host.startupPending()) return;
    char text[kEventTimeTextSize];
    FormatEventTime(host.startupTime, text);
    if (host.listed()) list_.SetHostCell(host, kColStartup, text);
    host.setFlagBits(kHostStartupPending, false);
    if (host.listed()) list_.RedrawFirstCell(host.row);
    Raise(host, "Host is alive of " + NameText(host.hostName), Now(), EventKind::Up);
}

void HostView::HostDown(HostEntry& host) {
    host.shutdownTime = Now();
    host.setFlagBits(kHostStartupPending, true);
    host.listImage = 2;
    if (host.listed()) list_.SetRowImage(host.row, 2);
    host.shutdownTime = Now();
    char text[kEventTimeTextSize];
    FormatEventTime(host.shutdownTime, text);
    if (host.listed()) {
        list_.SetHostCell(host, kColShutdown, text);
        list_.RedrawFirstCell(host.row);
    }
    Raise(host, "Host is down of " + NameText(host.hostName), Now(), EventKind::Down);
}

void HostView::HostChanged(HostEntry& host, const SelectedNames& changes) {
    const int64_t now = Now();
    struct NameChange {
        const std::optional<NbName>& value;
        NameField HostEntry::*field;
        int column;
        const char* label;
    };
    const NameChange names[] = {
        {changes.groupName, &HostEntry::groupName, kColGroup, "Group Name changed from "},
        {changes.hostName, &HostEntry::hostName, kColHost, "Host Name changed from "},
        {changes.userName, &HostEntry::userName, kColUser, "User Name changed from "},
    };
    for (const NameChange& c : names) {
        if (!c.value) continue;
        std::string text = c.label + NameText(host.*c.field) + kChangeSeparator + NbNameText(*c.value);
        {
            std::lock_guard lock(table_.mutex());
            HostEntry::SetName15(host.*c.field, *c.value);
        }
        if (host.listed()) list_.RefreshNameCell(host, c.column);
        Raise(host, std::move(text), now, EventKind::Information);
    }
    if (changes.mac) {
        char macText[kMacTextSize];
        std::string text = std::string("MAC Address changed from ") + FormatMac(host.mac, settings_, macText) +
                           kChangeSeparator;
        std::memcpy(host.macText, macText, sizeof macText);
        const VendorEntry* vendor = LookupVendor(*changes.mac);
        {
            std::lock_guard lock(table_.mutex());
            host.mac = *changes.mac;
            host.vendor = vendor;
        }
        FormatMac(host.mac, settings_, macText);
        std::memcpy(host.macText, macText, sizeof macText);
        if (host.listed()) list_.SetHostCell(host, kColMac, macText);
        text += macText;
        Raise(host, std::move(text), now, EventKind::Information);
        if (vendor && host.listed()) list_.SetHostCell(host, kColVendor, vendor->name);
    }
}

void HostView::HostUncertain(HostEntry& host) {
    host.listImage = 1;
    if (host.listed()) list_.SetRowImage(host.row, 1);
}

}  // namespace quorvane
