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

}  // namespace quorvane
