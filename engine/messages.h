#pragma once
// The private window messages by which the engine threads, the workers and the windows talk.
// The numbers are fixed. "Send" blocks until the target's thread has handled the message and
// returns its result; "Post" queues it and returns at once.

#include <cstdint>
#include <string>

#include "engine/nbt_codec.h"

namespace quorvane {

struct HostEntry;

enum WindowMessage : uint32_t {
    WM_USER_BASE = 1024,
    WM_PASSBEGIN = 1033,       // sender -> host view, Send; wParam pass tick; result -1 refuses the pass
    WM_PASSEND = 1034,         // sender -> host view, Send; wParam pass tick
    WM_ENGINESTART = 1035,     // main frame -> itself, Post
    WM_TRAYNOTIFY = 1042,      // tray icon callback
    WM_PLAYSOUND = 1055,       // sound worker -> main frame, Send; text path, lParam repeat flag
    WM_STOPSOUND = 1060,       // sound worker or UI -> main frame, Send
    WM_SHOWHOST = 1074,        // event list -> host list, Post; wParam row
    WM_SHOWHOSTEVENTS = 1075,  // host list -> event list, Post; host, lParam mode 1, 2 or 3
    WM_HOSTCHANGED = 1124,     // receiver -> host view, Post; host, changes copied in
    WM_HOSTDOWN = 1126,        // sender -> host view, Send; host, lParam missed-reply count
    WM_HOSTALIVE = 1127,       // receiver -> host view, Post; host, lParam reply count
    WM_HOSTFOUND = 1130,       // receiver -> host view, Post; host
    WM_HOSTMISSED = 1132,      // sender -> host view, Send; host, lParam 1
    WM_HOSTANSWERED = 1150,    // receiver -> host view, Post; host, lParam 1
    WM_BLANKBOX = 1152,        // shows an empty message box
    WM_JOBDONE = 2025,         // message-box, program and mail workers -> job's window, Post
    WM_NETSENDDONE = 2032,     // messenger worker -> job's window, Post; job id, send result
};

inline constexpr uint32_t WM_MCINOTIFY_COMPLETE = 953;  // media playback completion notice

// One message with its typed payload. Pending name and MAC changes travel as a copy, so the
// handler sees the values of the reply that caused the message.
struct EngineMessage {
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
    HostEntry* host = nullptr;
    SelectedNames changes;
    std::string text;
};

// A window as a message target. Implementations: the Qt bridge onto the UI thread, and a plain
// one for tests that runs handlers on a thread of the test's choosing.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual int64_t Send(EngineMessage message) = 0;
    virtual void Post(EngineMessage message) = 0;
};

}  // namespace quorvane
