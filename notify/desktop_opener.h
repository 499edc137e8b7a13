#pragma once
// The two desktop operations the View Log File command needs; the real one is built on
// platform/shell, tests use a recording fake.

#include <string>

namespace quorvane {

class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // Shows the file with the program the desktop registers for its type.
    virtual void OpenFile(const std::string& path) = 0;
    // Shows the file in the desktop's text editor, whatever its type.
    virtual void OpenAsText(const std::string& path) = 0;
};

}  // namespace quorvane
