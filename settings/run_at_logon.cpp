#include "settings/run_at_logon.h"

#include <unistd.h>

#include <climits>

#include "platform/config_dir.h"

namespace quorvane {

namespace {

// An Exec argument in double quotes, with the characters the quoting reserves escaped and '%'
// doubled so that it is no field code.
std::string QuoteExecArgument(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out.push_back('\\');
        if (c == '%') out.push_back('%');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// The escapes of a string value, applied to the Exec line after the quoting.
std::string EscapeValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string OwnExecutable() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return {};
    std::string exe(path, static_cast<size_t>(n));
    // The program was replaced on disk while running: its path still names the new one.
    constexpr std::string_view kDeleted = " (deleted)";
    if (exe.ends_with(kDeleted)) exe.resize(exe.size() - kDeleted.size());
    return exe;
}

}  // namespace

std::string AutostartEntry(const std::string& exePath) {
    return "[Desktop Entry]\nType=Application\nName=Quorvane\nExec=" + EscapeValue(QuoteExecArgument(exePath)) +
           "\n";
}

std::string AutostartEntryPath() { return ConfigHome() + "/autostart/quorvane.desktop"; }

int RegisterRunAtLogon(const std::string& exePath, FileOps& ops) {
    if (exePath.empty()) return 1;
    const std::string path = AutostartEntryPath();
    const std::string dir = ParentDir(path);
    const std::string temp = path + ".tmp";
    const std::string text = AutostartEntry(exePath);
    if (!ops.MakeDirs(dir, 0700)) return 1;
    ops.Remove(temp);
    const int fd = ops.CreateExclusive(temp, 0644);
    if (fd < 0) return 1;
    bool ok = ops.WriteAll(fd, text.data(), text.size()) && ops.Sync(fd);
    ok = ops.Close(fd) && ok;
    if (ok && ops.Rename(temp, path)) {
        ops.SyncDir(dir);
    } else {
        ops.Remove(temp);
    }
    return 1;
}

int RegisterRunAtLogon() { return RegisterRunAtLogon(OwnExecutable(), SystemFileOps()); }

}  // namespace quorvane
