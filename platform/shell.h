#pragma once
// Handing files and programs to the desktop. A program is started directly from an argument
// vector (fork/exec, never through a shell), so no argument is ever parsed by a shell; any other
// file or URL goes to the desktop's opener, xdg-open.
//
// Started processes are detached (double fork): they are not our children, leave no zombie and
// outlive the program. Their descriptors above stderr are closed on exec, stdin is /dev/null.

#include <mutex>
#include <string>
#include <vector>

namespace quorvane {

class Shell {
public:
    virtual ~Shell() = default;
    // Opens a file or URL with the desktop's handler. 0 when the opener was started, -1 otherwise.
    virtual int Open(const std::string& target) = 0;
    // Opens a file in the desktop's default text editor whatever its name says; falls back to
    // Open when no editor is configured. 0 or -1 as Open.
    virtual int OpenAsText(const std::string& path) = 0;
    // Starts program (a path, or a name looked up in PATH) with args as argv[1...].
    // 0 when the program was executed, -1 when it could not be found or executed.
    virtual int Start(const std::string& program, const std::vector<std::string>& args) = 0;
};

// The real desktop.
Shell& SystemShell();

// The absolute path of an executable file: program itself when it holds a '/', else the first
// match in PATH. Empty when there is none.
std::string FindExecutable(const std::string& program);

// Splits a desktop entry's Exec value into words (quoting and escapes of the desktop entry
// format), replacing %f %F %u %U with file and dropping the other field codes. Empty on a
// malformed value.
std::vector<std::string> DesktopExecArguments(const std::string& exec, const std::string& file);

// A shell that only records what it was asked, for tests.
class RecordingShell final : public Shell {
public:
    struct Call {
        enum Kind { Open, OpenAsText, Start } kind;
        std::string target;  // the file or URL, or the program
        std::vector<std::string> args;
        bool operator==(const Call&) const = default;
    };

    int Open(const std::string& target) override;
    int OpenAsText(const std::string& path) override;
    int Start(const std::string& program, const std::vector<std::string>& args) override;

    std::vector<Call> calls() const;
    void Clear();
    void SetResult(int result);

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;  // guarded by mutex_
    int result_ = 0;           // guarded by mutex_
};

}  // namespace quorvane
