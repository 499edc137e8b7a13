#pragma once
#include <cstdint>

namespace quorvane {

// Kind of a monitor event; the numbers index the event list's images and the channel switches.
enum class EventKind : int32_t { Up = 0, Information = 1, Down = 2 };

// The seven notification channels, in dispatch order.
enum class Channel { Syslog, Messenger, Mail, MessageBox, Program, Sound, Log };

}  // namespace quorvane
