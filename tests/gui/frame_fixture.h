#pragma once
// A main window over a host table the test fills itself, a fake engine (no thread, no socket), a
// recording shell and a clock the test sets. Engine messages go through the real bridge.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QTest>

#include <memory>

#include "engine/host_table.h"
#include "platform/shell.h"
#include "settings/app_settings.h"
#include "tests/gui/gui_support.h"
#include "ui/event_list_ctrl.h"
#include "ui/event_list_model.h"
#include "ui/event_view.h"
#include "ui/host_list_model.h"
#include "ui/main_frame.h"
#include "ui/message_bridge.h"
#include "ui/modal.h"
#include "ui/nbt_list_ctrl.h"
#include "ui/quorvane_view.h"
#include "ui/tray_icon.h"

namespace quorvane::test {

class FrameFixture : public testing::Test {
protected:
    void SetUp() override {
        TakeModelTesterComplaints();
        table = std::make_unique<HostTable>();
        target = std::make_unique<QtMessageTarget>();
        MakeFrame();
    }

    void MakeFrame() {
        FrameContext ctx;
        ctx.settings = &settings;
        ctx.table = table.get();
        ctx.engine = &engine;
        ctx.hostViewTarget = target.get();
        ctx.shell = &shell;
        ctx.helpDocument = "/opt/quorvane/user-guide.html";
        ctx.clock = [this] { return now; };
        ctx.save = [this] { ++saves; };
        ctx.viewLogFile = [this](Shell& s) {
            ++logViews;
            logViewShell = &s;
        };
        ctx.quit = [this] { ++quits; };
        frame = std::make_unique<CMainFrame>(std::move(ctx));
        frame->resize(1000, 900);
        ASSERT_TRUE(frame->Create());
        startsAtCreation = engine.starts;
        frame->show();
        // Keys reach the window's shortcuts only while it is the active window.
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        hostTester = std::make_unique<QAbstractItemModelTester>(
            &hostModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
        eventTester = std::make_unique<QAbstractItemModelTester>(
            &eventModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    }

    void TearDown() override {
        hostTester.reset();
        eventTester.reset();
        frame.reset();
        CTrayIcon::SetAvailableForTests(std::nullopt);
        MessageBox::ResetForTests();
        EXPECT_EQ(TakeModelTesterComplaints(), QStringList());
    }

    // Sends the message as the engine threads do: posted through the bridge, then handled.
    void Post(uint32_t message, HostEntry& host, int64_t lParam = 0) {
        EngineMessage m;
        m.message = message;
        m.host = &host;
        m.lParam = lParam;
        target->Post(std::move(m));
    }
    void Deliver() { ASSERT_TRUE(WaitUntil([this] { return target->pendingPosts() == 0; })); Spin(5); }

    // A host found (and optionally confirmed up) through the engine messages.
    HostEntry& Found(const HostSetup& setup, bool confirm = false) {
        HostEntry& h = AddSlot(*table, setup);
        Post(WM_HOSTFOUND, h);
        if (confirm) {
            h.setState(HostState::Up);
            Post(WM_HOSTALIVE, h, 4);
        }
        Deliver();
        return h;
    }

    CNBTListCtrl& hostList() { return frame->hostView()->list(); }
    HostListModel& hostModel() { return frame->hostView()->model(); }
    CEventListCtrl& eventList() { return frame->eventView()->list(); }
    EventListModel& eventModel() { return frame->eventView()->model(); }

    QStringList HostColumn(int column) {
        QStringList out;
        for (int r = 0; r < hostModel().rowCount(); ++r) out << hostModel().cellText(r, column);
        return out;
    }
    QStringList EventColumn(int column) {
        QStringList out;
        for (int r = 0; r < eventModel().rowCount(); ++r)
            out << eventModel().data(eventModel().index(r, column), Qt::DisplayRole).toString();
        return out;
    }

    AppSettings settings;
    std::unique_ptr<HostTable> table;
    FakeEngine engine;
    RecordingShell shell;
    std::unique_ptr<QtMessageTarget> target;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<QAbstractItemModelTester> hostTester;
    std::unique_ptr<QAbstractItemModelTester> eventTester;
    int64_t now = 1700000000;  // 2023-11-14 22:13:20 UTC
    int startsAtCreation = -1;
    int saves = 0;
    int logViews = 0;
    Shell* logViewShell = nullptr;
    int quits = 0;
};

}  // namespace quorvane::test
