// Starting programs and opening files through the desktop: argument vectors pass unchanged (no
// shell reads them), failures are reported, and the desktop entry of the default text editor
// is found and run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/shell.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// A program that writes its arguments, one per line, to <dir>/<name>.out (via a temporary
// file, so the file appears complete).
fs::path MakeRecorder(const fs::path& dir, const std::string& name) {
    fs::create_directories(dir);
    const fs::path script = dir / name;
    std::ofstream(script) << "#!/bin/sh\nout=\"$0.out\"\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out.tmp\"\n"
                             "mv \"$out.tmp\" \"$out\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

std::vector<std::string> WaitForArgs(const fs::path& script) {
    const fs::path out = script.string() + ".out";
    for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> lines;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Shell, StartPassesEveryArgumentUnchanged) {
    const fs::path dir = test::TempHome() / "shell-start";
    const fs::path recorder = MakeRecorder(dir, "recorder");
    const std::vector<std::string> args{"plain", "two words", "$(touch pwned)", "; rm -rf /", "`id`", "*", ""};
    ASSERT_EQ(SystemShell().Start(recorder.string(), args), 0);
    EXPECT_EQ(WaitForArgs(recorder), args);
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST(Shell, StartedProgramsInheritNoDescriptorOfOurs) {
    const fs::path dir = test::TempHome() / "shell-fds";
    fs::create_directories(dir);
    const fs::path script = dir / "fds";
    std::ofstream(script) << "#!/bin/sh\nls /proc/$$/fd > \"$0.out.tmp\"\nmv \"$0.out.tmp\" \"$0.out\"\n";
    fs::permissions(script, fs::perms::owner_all);
    const int leaked = ::fcntl(1, F_DUPFD, 200);  // inheritable: no close-on-exec
    ASSERT_GE(leaked, 200);
    ASSERT_EQ(SystemShell().Start(script.string(), {}), 0);
    const auto fds = WaitForArgs(script);
    ::close(leaked);
    ASSERT_FALSE(fds.empty());
    EXPECT_EQ(std::count(fds.begin(), fds.end(), std::to_string(leaked)), 0);
}

TEST(Shell, StartReportsProgramsThatCannotRun) {
    const fs::path dir = test::TempHome() / "shell-fail";
    fs::create_directories(dir);
    const fs::path notExecutable = dir / "data.txt";
    std::ofstream(notExecutable) << "text";
    EXPECT_EQ(SystemShell().Start((dir / "missing").string(), {}), -1);
    EXPECT_EQ(SystemShell().Start(notExecutable.string(), {}), -1);
    EXPECT_EQ(SystemShell().Start("quorvane-no-such-program", {}), -1);
    EXPECT_EQ(SystemShell().Start(dir.string(), {}), -1) << "a folder is not a program";
    EXPECT_EQ(SystemShell().Start("", {}), -1);
    // A file marked executable that the system cannot run.
    const fs::path bogus = dir / "bogus";
    std::ofstream(bogus) << "\x7f" "ELF garbage";
    fs::permissions(bogus, fs::perms::owner_all);
    EXPECT_EQ(SystemShell().Start(bogus.string(), {}), -1);
}

TEST(Shell, OpenHandsTheTargetToTheDesktopOpenerFoundInPath) {
    const fs::path dir = test::TempHome() / "shell-open";
    const fs::path opener = MakeRecorder(dir, "xdg-open");
    ScopedEnv path("PATH", dir.string() + ":/usr/bin:/bin");
    ASSERT_EQ(FindExecutable("xdg-open"), opener.string());
    ASSERT_EQ(SystemShell().Open("/tmp/some guide.html"), 0);
    EXPECT_EQ(WaitForArgs(opener), std::vector<std::string>{"/tmp/some guide.html"});
    ScopedEnv empty("PATH", (dir / "nothing-here").string());
    EXPECT_EQ(SystemShell().Open("/tmp/x.html"), -1);
}

TEST(Shell, OpenAsTextRunsTheDefaultTextEditorOfTheDesktop) {
    const fs::path home = test::TempHome() / "shell-text";
    const fs::path editor = MakeRecorder(home / "bin", "my-editor");
    const fs::path terminalEditor = MakeRecorder(home / "bin", "term-editor");
    fs::create_directories(home / "config");
    fs::create_directories(home / "data/applications");
    std::ofstream(home / "config/mimeapps.list")
        << "[Added Associations]\ntext/plain=other.desktop;\n[Default Applications]\n"
           "text/plain=term.desktop;missing.desktop;mine.desktop;\n";
    std::ofstream(home / "data/applications/term.desktop")
        << "[Desktop Entry]\nType=Application\nExec=" << terminalEditor.string() << " %f\nTerminal=true\n";
    std::ofstream(home / "data/applications/mine.desktop")
        << "[Desktop Entry]\nType=Application\nName=Mine\nExec=" << editor.string()
        << " --new-window \"--title=a b\" %U\n[Desktop Action x]\nExec=wrong\n";
    ScopedEnv config("XDG_CONFIG_HOME", (home / "config").string());
    ScopedEnv configDirs("XDG_CONFIG_DIRS", (home / "none").string());
    ScopedEnv data("XDG_DATA_HOME", (home / "data").string());
    ScopedEnv dataDirs("XDG_DATA_DIRS", (home / "none").string());
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "");
    ASSERT_EQ(SystemShell().OpenAsText("/var/log/quorvane.txt"), 0);
    EXPECT_EQ(WaitForArgs(editor), (std::vector<std::string>{"--new-window", "--title=a b", "/var/log/quorvane.txt"}));
    EXPECT_FALSE(fs::exists(terminalEditor.string() + ".out")) << "a terminal editor has no window";
}

TEST(Shell, DesktopExecValuesSplitIntoArguments) {
    struct Case {
        std::string exec;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"gedit %U", {"gedit", "F"}},
        {"kate -b %u", {"kate", "-b", "F"}},
        {"\"/opt/my editor/bin/ed\" --file=%f", {"/opt/my editor/bin/ed", "--file=F"}},
        {"ed %i %c %k --x", {"ed", "--x", "F"}},
        {"ed 100%% %F", {"ed", "100%", "F"}},
        {"ed \"say \\\"hi\\\"\" %f", {"ed", "say \"hi\"", "F"}},
        {"ed\\sfast %f", {"ed", "fast", "F"}},
        {"ed", {"ed", "F"}},
        {"ed \"\" %f", {"ed", "", "F"}},
        {"\"unterminated %f", {}},
        {"", {}},
        {"   ", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(DesktopExecArguments(c.exec, "F"), c.words) << c.exec;
}

TEST(RecordingShell, RecordsEveryRequestAndAnswersAsTold) {
    RecordingShell shell;
    EXPECT_EQ(shell.Open("a"), 0);
    shell.SetResult(-1);
    EXPECT_EQ(shell.Start("p", {"x", "y"}), -1);
    EXPECT_EQ(shell.OpenAsText("t"), -1);
    EXPECT_EQ(shell.calls(), (std::vector<RecordingShell::Call>{{RecordingShell::Call::Open, "a", {}},
                                                              {RecordingShell::Call::Start, "p", {"x", "y"}},
                                                              {RecordingShell::Call::OpenAsText, "t", {}}}));
}

}  // namespace
}  // namespace quorvane
