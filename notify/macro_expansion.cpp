#include "notify/macro_expansion.h"

#include <cstring>

#include "engine/vendor_table.h"

namespace quorvane {

namespace {

template <size_t N>
std::string_view ZeroTerminated(const char (&text)[N]) {
    return {text, strnlen(text, N)};
}

// Replaces every occurrence of name by value. Searching the old text from just after each match is
// searching the new text from just after the inserted value, so values are never searched again.
void ReplaceAll(std::string& text, std::string_view name, std::string_view value, std::string& scratch) {
    size_t at = text.find(name);
    if (at == std::string::npos) return;
    scratch.clear();
    size_t from = 0;
    do {
        scratch.append(text, from, at - from);
        scratch.append(value);
        from = at + name.size();
        at = text.find(name, from);
    } while (at != std::string::npos);
    scratch.append(text, from, std::string::npos);
    text.swap(scratch);
}

}  // namespace

MacroContext::MacroContext(const HostEntry& host, std::string_view eventTime, const AppSettings& s)
    : settings(s),
      firstFoundText(HostTimeText(host.firstFoundTime)),
      startupText(HostTimeText(host.startupTime)),
      shutdownText(HostTimeText(host.shutdownTime)),
      eventTimeText(eventTime) {}

void ExpandMacros(const MacroContext& context, HostEntry& host, std::string_view eventText, std::string& text) {
    // The MAC text is made on every expansion, whether or not the template names it.
    char mac[kMacTextSize];
    FormatMac(host.mac, context.settings, mac);
    static_assert(sizeof host.macText >= kMacTextSize);
    std::memcpy(host.macText, mac, kMacTextSize);

    if (text.find('<') == std::string::npos) return;
    std::string scratch;
    ReplaceAll(text, "<IP_ADDR>", ZeroTerminated(host.ipText), scratch);
    ReplaceAll(text, "<MAC_ADDR>", ZeroTerminated(mac), scratch);
    ReplaceAll(text, "<DATE_TIME>", context.eventTimeText, scratch);
    ReplaceAll(text, "<GROUP_NAME>", NameView(host.groupName), scratch);
    ReplaceAll(text, "<HOST_NAME>", NameView(host.hostName), scratch);
    ReplaceAll(text, "<USER_NAME>", NameView(host.userName), scratch);
    ReplaceAll(text, "<DESCRIPTION>",
               std::string_view(host.description.data(), strnlen(host.description.data(), host.description.size())),
               scratch);
    if (host.vendor) {
        const char* name = host.vendor->name;
        ReplaceAll(text, "<NIC_VENDOR>", name ? std::string_view(name) : std::string_view(), scratch);
    }
    ReplaceAll(text, "<FIRST_TIME>", context.firstFoundText, scratch);
    ReplaceAll(text, "<STARTUP_TIME>", context.startupText, scratch);
    ReplaceAll(text, "<SHUTDOWN_TIME>", context.shutdownText, scratch);
    ReplaceAll(text, "<EVENT>", eventText, scratch);
}

void MacroContext::ExpandBox(HostEntry& host, std::string_view eventText) {
    boxTitle = settings.boxTitle;
    ExpandMacros(*this, host, eventText, boxTitle);
    boxText = settings.boxText;
    ExpandMacros(*this, host, eventText, boxText);
}

void MacroContext::ExpandProgram(HostEntry& host, std::string_view eventText) {
    programParameters = settings.execParameters;
    ExpandMacros(*this, host, eventText, programParameters);
}

void MacroContext::ExpandLog(HostEntry& host, std::string_view eventText) {
    logLine = settings.logTemplate;
    ExpandMacros(*this, host, eventText, logLine);
}

void MacroContext::ExpandMail(HostEntry& host, std::string_view eventText) {
    mailSubject = settings.mailSubject;
    ExpandMacros(*this, host, eventText, mailSubject);
    mailBody = settings.mailBody;
    ExpandMacros(*this, host, eventText, mailBody);
}

void MacroContext::ExpandMessenger(HostEntry& host, std::string_view eventText) {
    messengerMessage = settings.messengerMessage;
    ExpandMacros(*this, host, eventText, messengerMessage);
}

void MacroContext::ExpandSyslog(HostEntry& host, std::string_view eventText) {
    syslogMessage = settings.syslogMessage;
    ExpandMacros(*this, host, eventText, syslogMessage);
}

}  // namespace quorvane
