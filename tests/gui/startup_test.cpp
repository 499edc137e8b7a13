// The start-up sequence: its order and its hooks (load, run-at-log-on, log stream), the
// injected local address, and the rows of hosts loaded at start.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/gui/gui_support.h"
#include "ui/engine_control.h"
#include "ui/host_list_model.h"
#include "ui/main_frame.h"
#include "ui/message_bridge.h"
#include "ui/quorvane_app.h"
#include "ui/quorvane_view.h"

#include "platform/shell.h"

namespace quorvane::test {
namespace {

class StartupTest : public testing::Test {
protected:
    StartupOptions Options() {
        StartupOptions o;
        o.localAddress = Address("192.168.5.77");
        o.makeEngine = [this](const AppSettings&, HostTable&, MessageTarget&) {
            auto e = std::make_unique<FakeEngine>();
            engine = e.get();
            trace.push_back("engine");
            return e;
        };
        o.shell = &shell;
        o.showWindow = false;
        o.quit = [] {};
        return o;
    }
    std::vector<std::string> trace;
    FakeEngine* engine = nullptr;
    RecordingShell shell;
};

TEST_F(StartupTest, FirstRunKeepsTheDefaultsRegistersAndStartsInOrder) {
    StartupHooks hooks;
    CQuorvaneApp* appPtr = nullptr;
    hooks.loadSettings = [&](AppSettings& s, HostTable& t) {
        trace.push_back("load");
        // The defaults are in place before the load; the window is not made yet.
        EXPECT_EQ(s.segments.size(), 1u);
        EXPECT_EQ(t.highWater(), 0u);
        EXPECT_NE(appPtr->frame(), nullptr);
        EXPECT_EQ(appPtr->frame()->hostView(), nullptr);
        return false;
    };
    hooks.registerRunAtLogon = [&] { trace.push_back("register"); };
    hooks.openLogStream = [&](const AppSettings&) {
        trace.push_back("log");
        EXPECT_EQ(appPtr->table().highWater(), 255u) << "segments applied before";
        EXPECT_NE(appPtr->frame()->hostView(), nullptr) << "window made before";
    };
    CQuorvaneApp app(Options(), hooks);
    appPtr = &app;
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(trace, (std::vector<std::string>{"engine", "load", "register", "log"}));
    ASSERT_EQ(app.settings().segments.size(), 1u);
    EXPECT_EQ(app.settings().segments[0].first, Address("192.168.5.1"));
    EXPECT_EQ(app.settings().segments[0].end, Address("192.168.5.255"));
    EXPECT_EQ(app.settings().queryTimerSeconds, 3);
    EXPECT_EQ(app.settings().probePort, 6000);
    EXPECT_TRUE(app.notifySocket().valid());
    EXPECT_EQ(app.localAddress(), Address("192.168.5.77"));
    EXPECT_FALSE(app.frame()->isVisible());
    EXPECT_EQ(engine->starts, 0);
    EXPECT_TRUE(WaitUntil([&] { return engine->starts == 1; }));
}

TEST_F(StartupTest, LoadedHostsGetTheirRowsAndNoRegistration) {
    StartupHooks hooks;
    hooks.loadSettings = [&](AppSettings& s, HostTable& t) {
        IpSegment seg;
        seg.first = Address("10.0.0.1");
        seg.end = Address("10.0.0.9");
        s.segments = {seg};
        std::vector<IpSegment> one{seg};
        t.ApplySegments(one, 0, 1);
        t.slot(4).setState(HostState::Up);
        t.slot(4).setFlagBits(kHostListed, true);
        t.slot(6).setState(HostState::Missing);
        t.slot(6).setFlagBits(kHostListed, true);
        return true;
    };
    hooks.registerRunAtLogon = [&] { trace.push_back("register"); };
    std::vector<std::string> dispatched;
    hooks.dispatchEvent = [&](const MonitorEvent& e) { dispatched.push_back(e.text); };
    CQuorvaneApp app(Options(), hooks);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "register"), 0);
    HostListModel& model = app.frame()->hostView()->model();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.cellText(0, kColAddress), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(model.rowImage(0), 0);
    EXPECT_EQ(model.cellText(1, kColAddress), QStringLiteral("10.0.0.7"));
    EXPECT_EQ(model.rowImage(1), 1);
    EXPECT_EQ(app.table().highWater(), 9u);

    // Events reach the dispatcher hook.
    HostEntry& fresh = app.table().slot(1);
    HostEntry::SetName15(fresh.hostName, MakeNbName("NEWHOST"));
    fresh.setState(HostState::Answering);
    EngineMessage m;
    m.message = WM_HOSTFOUND;
    m.host = &fresh;
    app.hostViewTarget().Post(std::move(m));
    ASSERT_TRUE(WaitUntil([&] { return !dispatched.empty(); }));
    EXPECT_EQ(dispatched, std::vector<std::string>{"Found New Host Name is NEWHOST        "});
}

TEST(LocalAddressOverride, CommandLineThenEnvironment) {
    struct Case {
        std::vector<const char*> args;
        const char* env;
        std::optional<std::string> expected;
        bool error;
    };
    const Case cases[] = {
        {{"quorvane"}, nullptr, std::nullopt, false},
        {{"quorvane", "--local-address=10.231.0.1"}, nullptr, "10.231.0.1", false},
        {{"quorvane", "--local-address", "10.231.0.2"}, "127.0.0.9", "10.231.0.2", false},
        {{"quorvane"}, "127.0.0.9", "127.0.0.9", false},
        {{"quorvane", "--local-address=10.231.0"}, nullptr, std::nullopt, true},
        {{"quorvane", "--local-address"}, nullptr, std::nullopt, true},
        {{"quorvane"}, "host.example", std::nullopt, true},
    };
    for (const Case& c : cases) {
        if (c.env) {
            setenv("QUORVANE_LOCAL_ADDRESS", c.env, 1);
        } else {
            unsetenv("QUORVANE_LOCAL_ADDRESS");
        }
        std::vector<char*> argv;
        for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
        std::string error;
        const auto got = LocalAddressOverride(static_cast<int>(argv.size()), argv.data(), &error);
        EXPECT_EQ(!error.empty(), c.error) << error;
        if (c.expected) {
            EXPECT_EQ(got, Address(*c.expected));
        } else {
            EXPECT_EQ(got, std::nullopt);
        }
    }
    unsetenv("QUORVANE_LOCAL_ADDRESS");
}

}  // namespace
}  // namespace quorvane::test
