// The main window over the real engine: its threads query simulated hosts on loopback
// addresses (the NBT simulator on an ephemeral port), and the window shows what they find.
// Found, confirmed, deleted and found again, silent and declared down, service stopped and
// started, exit with the engine's shutdown.
#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>

#include <memory>

#include "platform/net.h"
#include "platform/shell.h"
#include "tests/gui/gui_support.h"
#include "tools/nbtsim/nbt_simulator.h"
#include "ui/commands.h"
#include "ui/engine_control.h"
#include "ui/event_list_model.h"
#include "ui/event_view.h"
#include "ui/host_list_model.h"
#include "ui/main_frame.h"
#include "ui/nbt_list_ctrl.h"
#include "ui/quorvane_view.h"

namespace quorvane::test {
namespace {

constexpr int kWaitMs = 60000;  // generous: the test machine may be busy

class LiveEngineTest : public testing::Test {
protected:
    void SetUp() override {
        TakeModelTesterComplaints();
        settings.queryTimerSeconds = 1;
        settings.probePort = 0;  // any free port: tests run side by side
        IpSegment seg;
        seg.first = Ipv4(127, 77, 0, 1);
        seg.end = Ipv4(127, 77, 0, 10);
        settings.segments = {seg};
        table = std::make_unique<HostTable>();
        table->ApplySegments(settings.segments, 0, 1);
        sim = std::make_unique<nbtsim::NbtSimulator>(nbtsim::SimulatorOptions{.port = 0, .receiveBufferBytes = 1 << 20});
        ASSERT_EQ(sim->AddHosts(Ipv4(127, 77, 0, 2), 4), 4);
        ASSERT_TRUE(sim->Start()) << sim->error();
        target = std::make_unique<QtMessageTarget>();
        engine = MakeEngineControl(settings, *table, *target, Engine::Options{.nbnsPort = sim->port()});
        FrameContext ctx;
        ctx.settings = &settings;
        ctx.table = table.get();
        ctx.engine = engine.get();
        ctx.hostViewTarget = target.get();
        ctx.shell = &shell;
        ctx.save = [this] { ++saves; };
        ctx.quit = [this] { ++quits; };
        frame = std::make_unique<CMainFrame>(std::move(ctx));
        frame->resize(1000, 900);
        ASSERT_TRUE(frame->Create());
        frame->show();
    }

    void TearDown() override {
        // Senders waiting for the window are let go before the engine threads are joined.
        target->Close();
        engine.reset();
        frame.reset();
        sim->Stop();
        EXPECT_EQ(TakeModelTesterComplaints(), QStringList());
    }

    HostListModel& hosts() { return frame->hostView()->model(); }
    EventListModel& events() { return frame->eventView()->model(); }
    int CountEvents(const std::string& prefix) {
        int n = 0;
        for (int r = 0; r < events().rowCount(); ++r) n += events().rowAt(r)->text.rfind(prefix, 0) == 0;
        return n;
    }
    bool AllUp() {
        for (int r = 0; r < hosts().rowCount(); ++r)
            if (hosts().rowImage(r) != 0) return false;
        return true;
    }

    AppSettings settings;
    std::unique_ptr<HostTable> table;
    std::unique_ptr<nbtsim::NbtSimulator> sim;
    std::unique_ptr<QtMessageTarget> target;
    std::unique_ptr<EngineControl> engine;
    RecordingShell shell;
    std::unique_ptr<CMainFrame> frame;
    int saves = 0;
    int quits = 0;
};

TEST_F(LiveEngineTest, HostsAppearGoAndComeBackThroughTheRealEngine) {
    ASSERT_TRUE(WaitUntil([&] { return hosts().rowCount() == 4 && AllUp(); }, kWaitMs))
        << hosts().rowCount() << " rows";
    EXPECT_EQ(CountEvents("Found New Host Name is H-77-0-"), 4);
    EXPECT_EQ(CountEvents("Host is alive of H-77-0-"), 4);

    // Delete Host holds the engine threads through the table edit; the hosts come back as new.
    CNBTListCtrl& list = frame->hostView()->list();
    list.selectionModel()->select(hosts().index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list.selectionModel()->select(hosts().index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    frame->action(ID_DELETE_HOST)->trigger();
    EXPECT_EQ(hosts().rowCount(), 2);
    ASSERT_TRUE(WaitUntil([&] { return hosts().rowCount() == 4; }, kWaitMs));
    EXPECT_EQ(CountEvents("Found New Host Name is H-77-0-"), 6);

    // A host that falls silent is declared down.
    ASSERT_TRUE(sim->SetSilent(Ipv4(127, 77, 0, 3), true));
    ASSERT_TRUE(WaitUntil([&] { return CountEvents("Host is down of H-77-0-3 ") == 1; }, kWaitMs));
    int row = -1;
    for (int r = 0; r < hosts().rowCount(); ++r)
        if (hosts().cellText(r, kColAddress) == QStringLiteral("127.77.0.3")) row = r;
    ASSERT_GE(row, 0);
    EXPECT_EQ(hosts().rowImage(row), 2);
    EXPECT_EQ(hosts().data(hosts().index(row, kColHost), Qt::ForegroundRole).value<QBrush>().color(), QColor(98, 98, 98));
    EXPECT_FALSE(hosts().cellText(row, kColShutdown).isEmpty());
}

TEST_F(LiveEngineTest, NoQueriesWhileTheServiceIsStopped) {
    ASSERT_TRUE(WaitUntil([&] { return sim->Stats().queriesReceived >= 8; }, kWaitMs));
    frame->OnStopService();
    EXPECT_FALSE(frame->action(ID_STOP_SERVICE)->isEnabled());
    Spin(2500);  // a pass already under way may still finish
    const uint64_t settled = sim->Stats().queriesReceived;
    Spin(2500);
    EXPECT_EQ(sim->Stats().queriesReceived, settled);
    frame->trayAction(ID_START_SERVICE)->trigger();
    EXPECT_TRUE(WaitUntil([&] { return sim->Stats().queriesReceived > settled; }, kWaitMs));
}

TEST_F(LiveEngineTest, ExitRunsTheEngineShutdownOnce) {
    ASSERT_TRUE(WaitUntil([&] { return hosts().rowCount() == 4; }, kWaitMs));
    frame->RequestExit();
    frame->RequestExit();
    ASSERT_TRUE(WaitUntil([&] { return quits == 1; }, kWaitMs));
    Spin(50);
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(engine->closing());
}

}  // namespace
}  // namespace quorvane::test
