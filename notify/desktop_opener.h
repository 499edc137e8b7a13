#pragma once
// The two desktop operations the View Log File command needs, shaped as platform/shell's Shell
// offers them; tests use a recording fake.

#include <string>

namespace quorvane {

class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // Shows the file with the program the desktop registers for its type. 0, or -1 on failure.
    virtual int Open(const std::string& path) = 0;
    // Shows the file in the desktop's text editor, whatever its type. 0, or -1 on failure.
    virtual int OpenAsText(const std::string& path) = 0;
};

// Any shell with these two operations (platform/shell's Shell) as a DesktopOpener.
template <class ShellLike>
class ShellOpener final : public DesktopOpener {
public:
    explicit ShellOpener(ShellLike& shell) : shell_(shell) {}
    int Open(const std::string& path) override { return shell_.Open(path); }
    int OpenAsText(const std::string& path) override { return shell_.OpenAsText(path); }

private:
    ShellLike& shell_;
};

}  // namespace quorvane
