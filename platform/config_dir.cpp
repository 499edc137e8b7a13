#include "platform/config_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace quorvane {

namespace {
bool Absolute(const char* s) { return s != nullptr && s[0] == '/'; }
}  // namespace

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (Absolute(xdg)) return xdg;
    const char* home = std::getenv("HOME");
    if (!Absolute(home)) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw != nullptr && Absolute(pw->pw_dir) ? pw->pw_dir : "/";
    }
    std::string dir = home;
    if (dir.back() != '/') dir += '/';
    return dir + ".config";
}

}  // namespace quorvane
