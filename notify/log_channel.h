#pragma once
// The log file channel: one line per event, appended to `logFile` through a fully buffered
// 64 KiB stream that stays open for the run. UI thread only, so the stream needs no lock.

#include <cstdio>
#include <memory>
#include <string>

#include "notify/notification_channel.h"
#include "platform/shell.h"
#include "settings/app_settings.h"

namespace quorvane {

inline constexpr size_t kLogBufferBytes = 65536;

class LogFileChannel final : public NotificationChannel {
public:
    explicit LogFileChannel(const AppSettings& settings);
    ~LogFileChannel() override;  // CloseLog
    LogFileChannel(const LogFileChannel&) = delete;
    LogFileChannel& operator=(const LogFileChannel&) = delete;

    // Opens `logFile` for appending (created if missing). An empty path or a failed open leaves
    // the channel without a stream, silently. Does nothing while a stream is open.
    void OpenLog();
    // Closes the stream (writing its buffer out), then OpenLog with the current settings.
    void ReopenLog();
    // Writes the buffer out and closes the stream; for the normal exit and SIGTERM.
    void CloseLog();
    void Flush();
    bool isOpen() const { return stream_ != nullptr; }

    // The event path: when the kind's switch is on, a stream is open and `logTemplate` is not
    // empty, expands the template into the context's log line and writes it with CR LF in one
    // buffered write. A write error is not looked at.
    void NotifyLog(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context);
    void Notify(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context) override {
        NotifyLog(kind, host, eventText, context);
    }

    // View Log File: nothing without a path or a stream; otherwise flushes, then shows a path
    // ending in ".log" (any case) with its registered viewer and any other in the text editor.
    void ViewLogFile(Shell& shell);

private:
    const AppSettings& settings_;
    std::FILE* stream_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // the stream's buffer; lives until the stream is closed
    std::string openPath_;            // the file as opened, absolute
};

}  // namespace quorvane
