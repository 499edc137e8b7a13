#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

namespace quorvane {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> SplitPath(const std::string& list) {
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(list);
    while (std::getline(in, part, ':')) {
        if (!part.empty()) out.push_back(part);  // an empty element would mean the working folder
    }
    return out;
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

// Marks every descriptor from 3 up close-on-exec. Only async-signal-safe calls: runs after fork.
void CloseOnExecFrom3() {
#if defined(CLOSE_RANGE_CLOEXEC)
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    long max = ::sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = 3; fd < max; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        size -= static_cast<size_t>(n);
    }
}

// Runs path with argv detached from this process (double fork). Returns 0 once the program has
// been executed, -1 when the fork or the exec failed.
int SpawnDetached(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> words;
    words.reserve(args.size() + 1);
    words.push_back(path);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return -1;

    const pid_t child = ::fork();
    if (child < 0) {
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        return -1;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on: the parent has other threads.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            const int e = errno;
            WriteAll(errPipe[1], &e, sizeof e);
            ::_exit(1);
        }
        if (grandchild > 0) ::_exit(0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (devNull >= 0) ::dup2(devNull, 0);
        CloseOnExecFrom3();
        ::execv(path.c_str(), argv.data());
        const int e = errno;
        WriteAll(errPipe[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(errPipe[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec; an error number arrives when it failed.
    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(errPipe[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    ::close(errPipe[0]);
    if (got > 0) return -1;
    return (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 0 : -1;
}

// Key file text: "\s", "\n", "\t", "\r" and "\\" unescaped.
std::string UnescapeKeyValue(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char c = v[++i];
            switch (c) {
                case 's': out += ' '; break;
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case '\\': out += '\\'; break;
                default: out += '\\'; out += c; break;
            }
        } else {
            out += v[i];
        }
    }
    return out;
}

// The values of the keys of one group of a key file ("[Group]" then "Key=Value" lines).
std::vector<std::pair<std::string, std::string>> ReadGroup(const std::string& file, const std::string& group) {
    std::vector<std::pair<std::string, std::string>> out;
    std::ifstream in(file);
    if (!in) return out;
    std::string line;
    bool inGroup = false;
    size_t lines = 0;
    while (std::getline(in, line) && ++lines < 100000) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        if (!inGroup) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        size_t start = eq + 1;
        while (start < line.size() && line[start] == ' ') ++start;
        out.emplace_back(key, line.substr(start));
    }
    return out;
}

std::string Lookup(const std::vector<std::pair<std::string, std::string>>& kv, const std::string& key) {
    for (const auto& [k, v] : kv) {
        if (k == key) return v;
    }
    return {};
}

std::vector<std::string> ConfigDirs() {
    std::vector<std::string> dirs{EnvOr("XDG_CONFIG_HOME", EnvOr("HOME", "") + "/.config")};
    for (auto& d : SplitPath(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"))) dirs.push_back(d);
    return dirs;
}

std::vector<std::string> DataDirs() {
    std::vector<std::string> dirs{EnvOr("XDG_DATA_HOME", EnvOr("HOME", "") + "/.local/share")};
    for (auto& d : SplitPath(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) dirs.push_back(d);
    return dirs;
}

// The desktop entry ids configured as default for a MIME type, most important first.
std::vector<std::string> DefaultApplications(const std::string& mimeType) {
    std::vector<std::string> lists;
    std::vector<std::string> desktops;
    for (auto& d : SplitPath(EnvOr("XDG_CURRENT_DESKTOP", ""))) {
        std::string lower;
        for (char c : d) lower += static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
        desktops.push_back(lower);
    }
    for (const auto& dir : ConfigDirs()) {
        for (const auto& desk : desktops) lists.push_back(dir + "/" + desk + "-mimeapps.list");
        lists.push_back(dir + "/mimeapps.list");
    }
    for (const auto& dir : DataDirs()) {
        for (const auto& desk : desktops) lists.push_back(dir + "/applications/" + desk + "-mimeapps.list");
        lists.push_back(dir + "/applications/mimeapps.list");
    }
    std::vector<std::string> ids;
    for (const auto& list : lists) {
        std::istringstream values(Lookup(ReadGroup(list, "Default Applications"), mimeType));
        std::string id;
        while (std::getline(values, id, ';')) {
            if (!id.empty()) ids.push_back(id);
        }
    }
    return ids;
}

std::string FindDesktopFile(const std::string& id) {
    if (id.find('/') != std::string::npos || id.size() < 9 || id.substr(id.size() - 8) != ".desktop") return {};
    for (const auto& dir : DataDirs()) {
        const std::string path = dir + "/applications/" + id;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    }
    return {};
}

}  // namespace

std::string FindExecutable(const std::string& program) {
    if (program.empty()) return {};
    if (program.find('/') != std::string::npos) return IsExecutableFile(program) ? program : std::string();
    for (const auto& dir : SplitPath(EnvOr("PATH", "/usr/local/bin:/usr/bin:/bin"))) {
        const std::string candidate = dir + "/" + program;
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

std::vector<std::string> DesktopExecArguments(const std::string& execValue, const std::string& file) {
    const std::string exec = UnescapeKeyValue(execValue);
    std::vector<std::string> words;
    std::string word;
    bool keep = false;  // the word has content, or quotes that make it an (empty) argument
    bool quoted = false;
    bool sawFileCode = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size()) {
                word += exec[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            if (keep) words.push_back(word);
            word.clear();
            keep = false;
            continue;
        }
        if (c == '"') {
            quoted = true;
            keep = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            const char code = exec[++i];
            if (code == '%') {
                word += '%';
                keep = true;
            } else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
                word += file;
                keep = true;
                sawFileCode = true;
            }  // other field codes are dropped, and a word of nothing else with them
        } else {
            word += c;
            keep = true;
        }
    }
    if (quoted) return {};
    if (keep) words.push_back(word);
    if (words.empty()) return {};
    if (!sawFileCode) words.push_back(file);
    return words;
}

namespace {

class PosixShell final : public Shell {
public:
    int Open(const std::string& target) override { return Start("xdg-open", {target}); }

    int OpenAsText(const std::string& path) override {
        for (const std::string& id : DefaultApplications("text/plain")) {
            const std::string desktopFile = FindDesktopFile(id);
            if (desktopFile.empty()) continue;
            const auto entry = ReadGroup(desktopFile, "Desktop Entry");
            // A terminal editor has no window of its own to show the file in.
            if (Lookup(entry, "Terminal") == "true" || Lookup(entry, "Hidden") == "true") continue;
            std::vector<std::string> words = DesktopExecArguments(Lookup(entry, "Exec"), path);
            if (words.empty()) continue;
            const std::string program = words.front();
            words.erase(words.begin());
            if (Start(program, words) == 0) return 0;
        }
        return Open(path);
    }

    int Start(const std::string& program, const std::vector<std::string>& args) override {
        const std::string path = FindExecutable(program);
        if (path.empty()) return -1;
        return SpawnDetached(path, args);
    }
};

}  // namespace

Shell& SystemShell() {
    static PosixShell shell;
    return shell;
}

int RecordingShell::Open(const std::string& target) {
    std::lock_guard lock(mutex_);
    calls_.push_back({Call::Open, target, {}});
    return result_;
}

int RecordingShell::OpenAsText(const std::string& path) {
    std::lock_guard lock(mutex_);
    calls_.push_back({Call::OpenAsText, path, {}});
    return result_;
}

int RecordingShell::Start(const std::string& program, const std::vector<std::string>& args) {
    std::lock_guard lock(mutex_);
    calls_.push_back({Call::Start, program, args});
    return result_;
}

std::vector<RecordingShell::Call> RecordingShell::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void RecordingShell::Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void RecordingShell::SetResult(int result) {
    std::lock_guard lock(mutex_);
    result_ = result;
}

}  // namespace quorvane
