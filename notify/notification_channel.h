#pragma once
// What the dispatcher needs of a notification channel: its event path. Channels of the layers
// above (syslog, mail, messenger) implement it, so the dispatcher does not depend on them.

#include <string_view>

#include "engine/host_table.h"
#include "notify/macro_expansion.h"
#include "settings/event_kind.h"

namespace quorvane {

class NotificationChannel {
public:
    virtual ~NotificationChannel() = default;
    // The channel's event path, on the UI thread. The dispatcher calls it only when the channel's
    // switch for the kind is on; the channel checks its own further conditions, expands its own
    // templates into its slots of the context, and sends, writes or queues at once.
    virtual void Notify(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context) = 0;
};

}  // namespace quorvane
