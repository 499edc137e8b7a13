#pragma once
#include <string>

namespace quorvane {

// The user's configuration folder: $XDG_CONFIG_HOME when it holds an absolute path, else
// $HOME/.config (the home folder of the password database when HOME is unset or relative).
std::string ConfigHome();

}  // namespace quorvane
