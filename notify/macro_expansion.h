#pragma once
// Macro expansion of the channel templates. A MacroContext is made for one event by the
// dispatcher; each channel expands its own templates into its own slots of it. UI thread only.

#include <string>
#include <string_view>

#include "engine/host_table.h"
#include "settings/app_settings.h"

namespace quorvane {

struct MacroContext {
    // Fixes the host's three time texts as they are now (empty for a time of 0).
    MacroContext(const HostEntry& host, std::string_view eventTimeText, const AppSettings& settings);

    const AppSettings& settings;  // templates and the MAC text format
    std::string firstFoundText;
    std::string startupText;
    std::string shutdownText;
    std::string eventTimeText;

    // One slot per channel text; each holds the expanded template once its channel has acted.
    std::string boxTitle;
    std::string boxText;
    std::string programParameters;
    std::string logLine;
    std::string mailSubject;
    std::string mailBody;
    std::string messengerMessage;
    std::string syslogMessage;

    // Per-channel expansion: copy the channel's templates into their slots and expand them.
    void ExpandBox(HostEntry& host, std::string_view eventText);
    void ExpandProgram(HostEntry& host, std::string_view eventText);
    void ExpandLog(HostEntry& host, std::string_view eventText);
    void ExpandMail(HostEntry& host, std::string_view eventText);
    void ExpandMessenger(HostEntry& host, std::string_view eventText);
    void ExpandSyslog(HostEntry& host, std::string_view eventText);
};

// Replaces, in place, every occurrence of the twelve macros in their fixed order, each search
// going on right after the value just inserted. A later macro's name inside an earlier value is
// replaced too; "<EVENT>" comes last, so the event text is never expanded. Without a vendor
// "<NIC_VENDOR>" stays as written. "<MAC_ADDR>" is made now with the current MAC format and also
// kept in host.macText. Texts of any length.
void ExpandMacros(const MacroContext& context, HostEntry& host, std::string_view eventText, std::string& text);

}  // namespace quorvane
