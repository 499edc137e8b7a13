#pragma once
#include <filesystem>

namespace quorvane::test {
// The temporary home folder of this test program (HOME and XDG_CONFIG_HOME/.. point here).
const std::filesystem::path& TempHome();
// The source tree and the build tree (from the ctest environment; the current folder otherwise).
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();
}  // namespace quorvane::test
