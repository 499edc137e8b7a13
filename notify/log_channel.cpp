#include "notify/log_channel.h"

#include <filesystem>

namespace quorvane {

LogFileChannel::LogFileChannel(const AppSettings& settings) : settings_(settings) {}

LogFileChannel::~LogFileChannel() { CloseLog(); }

void LogFileChannel::OpenLog() {
    if (stream_ || settings_.logFile.empty()) return;
    // "e": the descriptor must not leak into the programs the desktop starts for us.
    std::FILE* f = std::fopen(settings_.logFile.c_str(), "abe");
    if (!f) return;
    auto buffer = std::make_unique<char[]>(kLogBufferBytes);
    if (std::setvbuf(f, buffer.get(), _IOFBF, kLogBufferBytes) != 0) {
        std::fclose(f);
        return;
    }
    stream_ = f;
    buffer_ = std::move(buffer);
    // The viewer is given the file that was opened, even if the working folder changes later, and
    // a path that could be taken for an option ("-x.log") reaches it as an absolute one.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(settings_.logFile, ec);
    openPath_ = ec ? settings_.logFile : absolute.string();
}

void LogFileChannel::ReopenLog() {
    CloseLog();
    OpenLog();
}

void LogFileChannel::CloseLog() {
    if (!stream_) return;
    std::fclose(stream_);
    stream_ = nullptr;
    buffer_.reset();
    openPath_.clear();
}

void LogFileChannel::Flush() {
    if (stream_) std::fflush(stream_);
}

void LogFileChannel::NotifyLog(EventKind kind, HostEntry& host, std::string_view eventText, MacroContext& context) {
    if (!ChannelSwitch(settings_, Channel::Log, kind)) return;
    if (!stream_ || settings_.logTemplate.empty()) return;
    context.ExpandLog(host, eventText);
    context.logLine += "\r\n";
    std::fwrite(context.logLine.data(), 1, context.logLine.size(), stream_);
}

void LogFileChannel::ViewLogFile(Shell& shell) {
    const std::string& path = settings_.logFile;
    if (path.empty() || !stream_) return;
    std::fflush(stream_);
    std::string ending = path.size() > 4 ? path.substr(path.size() - 4) : path;
    for (char& c : ending)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (ending == ".LOG")
        shell.Open(openPath_);
    else
        shell.OpenAsText(openPath_);
}

}  // namespace quorvane
