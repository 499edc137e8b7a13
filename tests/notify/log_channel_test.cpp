#include "notify/log_channel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "notify/dispatcher.h"
#include "tests/support/event_host.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using test::Padded;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Opened {
    std::string how;   // "file" or "text"
    std::string path;
    std::string contentThen;  // the file as the viewer would see it at that moment
};

class RecordingOpener : public Shell {
public:
    std::vector<Opened> opened;
    int Open(const std::string& path) override {
        opened.push_back({"file", path, ReadFile(path)});
        return 0;
    }
    int OpenAsText(const std::string& path) override {
        opened.push_back({"text", path, ReadFile(path)});
        return 0;
    }
    int Start(const std::string&, const std::vector<std::string>&) override { return -1; }
};

class LogChannel : public testing::Test {
protected:
    void SetUp() override {
        dir = test::TempHome() / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
        settings.logFile = (dir / "quorvane.log").string();
    }

    void Event(LogFileChannel& log, EventKind kind, const std::string& text) {
        Dispatcher d(settings, ChannelSet{.log = &log});
        d.DispatchEvent(*host, text, "t", kind);
    }

    fs::path dir;
    AppSettings settings;  // fresh: every kind logged, "<EVENT>;<IP_ADDR>;<HOST_NAME>"
    std::unique_ptr<HostEntry> host = test::MakeEventHost("192.168.1.5", "PC1");
    const std::string down = "Host is down of " + Padded("PC1");
};

TEST_F(LogChannel, EveryKindGivesOneLineEndingInOneCrLfInEventOrderAfterTheExistingContent) {
    { std::ofstream(settings.logFile, std::ios::binary) << "older\r\n"; }
    LogFileChannel log(settings);
    log.OpenLog();
    ASSERT_TRUE(log.isOpen());
    Event(log, EventKind::Down, down);
    Event(log, EventKind::Up, "Host is alive of " + Padded("PC1"));
    Event(log, EventKind::Information, "User Name changed");
    log.CloseLog();
    EXPECT_EQ(ReadFile(settings.logFile), "older\r\n" + down + ";192.168.1.5;" + Padded("PC1") + "\r\nHost is alive of " +
                                              Padded("PC1") + ";192.168.1.5;" + Padded("PC1") +
                                              "\r\nUser Name changed;192.168.1.5;" + Padded("PC1") + "\r\n");
}

TEST_F(LogChannel, LinesStayInTheBufferUntilFlushedOrClosed) {
    LogFileChannel log(settings);
    log.OpenLog();
    Event(log, EventKind::Down, down);
    EXPECT_EQ(fs::file_size(settings.logFile), 0u);
    log.Flush();
    EXPECT_GT(fs::file_size(settings.logFile), 0u);
}

TEST_F(LogChannel, NothingIsWrittenWithAnEmptyTemplateOrTheSwitchOff) {
    settings.logTemplate.clear();
    LogFileChannel log(settings);
    log.OpenLog();
    for (EventKind k : {EventKind::Up, EventKind::Information, EventKind::Down}) Event(log, k, down);
    settings.logTemplate = "<EVENT>";
    settings.setFlag(SettingFlag::logOnDown, false);
    Event(log, EventKind::Down, down);
    log.CloseLog();
    EXPECT_EQ(ReadFile(settings.logFile), "");
}

TEST_F(LogChannel, LineLongerThanTheBufferIsWrittenWhole) {
    settings.logTemplate = std::string(100000, 'x') + "<IP_ADDR>";
    LogFileChannel log(settings);
    log.OpenLog();
    Event(log, EventKind::Up, "e");
    Event(log, EventKind::Up, "e");
    log.CloseLog();
    const std::string line = std::string(100000, 'x') + "192.168.1.5\r\n";
    EXPECT_EQ(ReadFile(settings.logFile), line + line);
}

TEST_F(LogChannel, NoStreamWithoutAPathOrWhenTheFileCannotBeOpened) {
    for (const std::string& path : {std::string(), (dir / "missing" / "x.log").string(), dir.string()}) {
        settings.logFile = path;
        LogFileChannel log(settings);
        log.OpenLog();
        EXPECT_FALSE(log.isOpen()) << path;
        Event(log, EventKind::Down, down);  // nothing to write to, nothing happens
        RecordingOpener opener;
        log.ViewLogFile(opener);
        EXPECT_TRUE(opener.opened.empty());
    }
}

TEST_F(LogChannel, ReopenWritesOutTheOldFileAndFollowsTheNewPath) {
    LogFileChannel log(settings);
    log.OpenLog();
    Event(log, EventKind::Down, "first");
    const std::string firstPath = settings.logFile;
    settings.logFile = (dir / "second.csv").string();
    settings.setFlag(SettingFlag::logAsCsv, true);  // changes nothing in what is written
    log.ReopenLog();
    EXPECT_EQ(ReadFile(firstPath), "first;192.168.1.5;" + Padded("PC1") + "\r\n");
    Event(log, EventKind::Down, "second");
    settings.logFile.clear();
    log.ReopenLog();  // an empty path stops logging
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(ReadFile(dir / "second.csv"), "second;192.168.1.5;" + Padded("PC1") + "\r\n");
}

TEST_F(LogChannel, ViewShowsEveryLineWrittenSoFarWithTheViewerChosenByTheEnding) {
    struct Case {
        const char* name;
        const char* how;
    } cases[] = {{"a.log", "file"}, {"b.LoG", "file"}, {"c.txt", "text"}, {"d.csv", "text"},
                 {"log", "text"},   {".log", "file"},  {"elog", "text"}};
    for (const Case& c : cases) {
        settings.logFile = (dir / c.name).string();
        LogFileChannel log(settings);
        log.OpenLog();
        Event(log, EventKind::Down, down);
        RecordingOpener opener;
        log.ViewLogFile(opener);
        ASSERT_EQ(opener.opened.size(), 1u) << c.name;
        EXPECT_EQ(opener.opened[0].how, c.how) << c.name;
        EXPECT_EQ(opener.opened[0].path, settings.logFile);
        EXPECT_EQ(opener.opened[0].contentThen, down + ";192.168.1.5;" + Padded("PC1") + "\r\n") << c.name;
    }
}

TEST_F(LogChannel, ViewGivesTheViewerTheAbsolutePathOfARelativeLogFile) {
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    settings.logFile = "-relative.log";
    LogFileChannel log(settings);
    log.OpenLog();
    fs::current_path(cwd);
    RecordingOpener opener;
    log.ViewLogFile(opener);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0].path, (dir / "-relative.log").string());
}

}  // namespace
}  // namespace quorvane
