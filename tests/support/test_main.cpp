// Every test program runs with a temporary HOME and XDG_CONFIG_HOME, in UTC and headless, so no
// test ever reads or writes the real home folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/test_env.h"

namespace quorvane::test {

namespace {
std::filesystem::path g_home;
}

const std::filesystem::path& TempHome() { return g_home; }

std::filesystem::path SourceDir() {
    const char* s = std::getenv("QUORVANE_SOURCE_DIR");
    return s ? std::filesystem::path(s) : std::filesystem::path(QUORVANE_SOURCE_DIR);
}

std::filesystem::path BinaryDir() {
    const char* s = std::getenv("QUORVANE_BINARY_DIR");
    return s ? std::filesystem::path(s) : std::filesystem::path(QUORVANE_BINARY_DIR);
}

}  // namespace quorvane::test

int main(int argc, char** argv) {
    std::string templ = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) return 2;
    quorvane::test::g_home = templ;
    const std::string config = templ + "/.config";
    std::filesystem::create_directories(config);
    setenv("HOME", templ.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("TZ", "UTC", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // GUI tests run headless unless told otherwise
    tzset();
    testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(templ, ec);
    return rc;
}
