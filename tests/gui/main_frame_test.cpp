// The main window: menus, toolbar, status bar, panes and their sizes, the tray icon and menu,
// hide on close, Exit with its one shutdown, service commands, Help, View Log File and the
// about box.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <csignal>

#include "tests/gui/frame_fixture.h"
#include "ui/about_dialog.h"
#include "ui/commands.h"
#include "ui/details_pane.h"
#include "ui/exit_signals.h"
#include "ui/lock_indicators.h"

namespace quorvane::test {
namespace {

using MainFrameTest = FrameFixture;

QStringList Texts(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

TEST_F(MainFrameTest, MenusHoldTheirCommandsInOrder) {
    QStringList titles;
    for (QAction* a : frame->menuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles, (Strings({"&File", "&View", "&Option", "&Service", "&Help"})));
    auto menu = [&](const char* name) { return Texts(frame->findChild<QMenu*>(QString::fromLatin1(name))->actions()); };
    EXPECT_EQ(menu("menuFile"), (Strings({"&Clear All event \tCtrl+C", "-", "Exp&ort items to file\tCtrl+O", "-",
                                             "E&xit\tCtrl+X"})));
    EXPECT_EQ(menu("menuView"), (Strings({"&Toolbar", "&Status Bar"})));
    EXPECT_EQ(menu("menuOption"), (Strings({"&Setting...\tCtrl+S"})));
    EXPECT_EQ(menu("menuService"), (Strings({"S&tart Service\tCtrl+T", "Sto&p Service\tCtrl+P", "-",
                                                "Stop Soun&d\tCtrl+D", "-", "View &Log File\tCtrl+L"})));
    EXPECT_EQ(menu("menuHelp"), (Strings({"&Help\tF1", "&About Quorvane..."})));
    EXPECT_EQ(Texts(frame->trayMenu()->actions()),
              (Strings({"Open(&O)", "About Quorvane(&A)...", "-", "S&tart Service", "Sto&p Service", "-",
                           "E&xit\tCtrl+X"})));
    EXPECT_EQ(frame->trayMenu()->title(), QStringLiteral("tray(&T)"));

    struct Key {
        int id;
        QKeySequence key;
    };
    for (const Key& k : {Key{ID_CLEAR_ALL_EVENT, QKeySequence(Qt::CTRL | Qt::Key_C)},
                         Key{ID_EXPORT, QKeySequence(Qt::CTRL | Qt::Key_O)}, Key{ID_EXIT, QKeySequence(Qt::CTRL | Qt::Key_X)},
                         Key{ID_SETTING, QKeySequence(Qt::CTRL | Qt::Key_S)},
                         Key{ID_START_SERVICE, QKeySequence(Qt::CTRL | Qt::Key_T)},
                         Key{ID_STOP_SERVICE, QKeySequence(Qt::CTRL | Qt::Key_P)},
                         Key{ID_STOP_SOUND, QKeySequence(Qt::CTRL | Qt::Key_D)},
                         Key{ID_VIEW_LOG_FILE, QKeySequence(Qt::CTRL | Qt::Key_L)},
                         Key{ID_HELP_DOCUMENT, QKeySequence(Qt::Key_F1)}, Key{ID_DELETE_HOST, QKeySequence(Qt::Key_Delete)},
                         Key{ID_GOTO_NEXT_EVENT, QKeySequence(Qt::CTRL | Qt::Key_N)},
                         Key{ID_GOTO_PREVIOUS_EVENT, QKeySequence(Qt::CTRL | Qt::Key_E)}}) {
        EXPECT_EQ(frame->action(k.id)->shortcut(), k.key) << k.id;
    }
    EXPECT_EQ(frame->action(ID_EXPORT)->statusTip(), QStringLiteral("Export the host information to file..."));
    EXPECT_EQ(frame->action(ID_VIEW_TOOLBAR)->statusTip(), QStringLiteral("Show or hide the toolbar"));
    EXPECT_EQ(frame->action(ID_HELP_DOCUMENT)->toolTip(), QStringLiteral("Help"));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quorvane"));
}

TEST_F(MainFrameTest, ToolbarHasItsButtonsInOrderAndMayDockOnAnySide) {
    QToolBar* bar = frame->toolBar();
    QStringList tips;
    for (QAction* a : bar->actions()) tips << (a->isSeparator() ? QStringLiteral("-") : a->toolTip());
    EXPECT_EQ(tips, (Strings({"Export", "Setup", "-", "Start Service", "Stop Service", "-", "Stop Sound",
                                 "View log file", "-", "Help", "About"})));
    EXPECT_EQ(bar->iconSize(), QSize(32, 32));
    EXPECT_TRUE(bar->isMovable());
    EXPECT_EQ(bar->allowedAreas(), Qt::AllToolBarAreas);
    EXPECT_EQ(frame->toolBarArea(bar), Qt::TopToolBarArea);
    frame->addToolBar(Qt::LeftToolBarArea, bar);
    EXPECT_EQ(frame->toolBarArea(bar), Qt::LeftToolBarArea);
    for (QAction* a : bar->actions()) {
        if (!a->isSeparator()) {
            EXPECT_FALSE(a->icon().isNull()) << a->toolTip().toStdString();
        }
    }
    frame->action(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_FALSE(bar->isVisible());
    frame->action(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_FALSE(frame->statusBar()->isVisible());
}

TEST_F(MainFrameTest, StatusBarShowsReadyAndTheLockIndicators) {
    EXPECT_EQ(frame->findChild<QLabel*>(QStringLiteral("readyLabel"))->text(), QStringLiteral("Ready"));
    for (const char* name : {"capsIndicator", "numIndicator", "scrollIndicator"}) {
        EXPECT_NE(frame->statusBar()->findChild<QLabel*>(QString::fromLatin1(name)), nullptr) << name;
    }
    frame->lockIndicators()->SetStates(true, false, std::nullopt);
    EXPECT_EQ(frame->findChild<QLabel*>(QStringLiteral("capsIndicator"))->text(), QStringLiteral("CAP"));
    EXPECT_EQ(frame->findChild<QLabel*>(QStringLiteral("numIndicator"))->text(), QString());
}

TEST_F(MainFrameTest, PanesKeepTheirCreationSizesWhenTheWindowIsResized) {
    // Made at 1000 x 900: top pane 900 - 180, event pane 1000 * 5 / 6.
    EXPECT_EQ(frame->outerSplitter()->widget(0), frame->hostView());
    EXPECT_EQ(frame->innerSplitter()->widget(0), frame->eventView());
    EXPECT_EQ(frame->innerSplitter()->widget(1), frame->detailsPane());
    Spin(20);
    EXPECT_EQ(frame->outerSplitter()->sizes().at(0), 720);
    EXPECT_EQ(frame->innerSplitter()->sizes().at(0), 833);
    frame->resize(1400, 1100);
    Spin(20);
    EXPECT_EQ(frame->outerSplitter()->sizes().at(0), 720);
    EXPECT_EQ(frame->innerSplitter()->sizes().at(0), 833);
    EXPECT_GT(frame->innerSplitter()->sizes().at(1), 1400 - 833 - 40);
}

TEST_F(MainFrameTest, DetailsPaneIsReadOnlyFixedPitchAndAppendsAtTheEnd) {
    DetailsPane* pane = frame->detailsPane();
    EXPECT_TRUE(pane->isReadOnly());
    EXPECT_TRUE(QFontInfo(pane->font()).fixedPitch());
    pane->SetDetailsColour(Qt::red);
    pane->AppendDetails(QStringLiteral("first "));
    pane->moveCursor(QTextCursor::Start);  // the user's caret does not matter
    pane->SetDetailsColour(Qt::blue);
    pane->AppendDetails(std::string_view("second\xE9"));
    EXPECT_EQ(pane->toPlainText(), QString::fromLatin1("first second\xE9"));
    QTextCursor c(pane->document());
    c.setPosition(2);
    EXPECT_EQ(c.charFormat().foreground().color(), QColor(Qt::red));
    c.setPosition(9);
    EXPECT_EQ(c.charFormat().foreground().color(), QColor(Qt::blue));
    EXPECT_FALSE(pane->document()->isUndoAvailable());
    pane->ClearDetails();
    EXPECT_TRUE(pane->toPlainText().isEmpty());
}

TEST_F(MainFrameTest, TheEngineStartsOnceTheWindowExistsAndTheEventLoopRuns) {
    EXPECT_EQ(startsAtCreation, 0) << "posted, not called during creation";
    EXPECT_TRUE(WaitUntil([&] { return engine.starts == 1; }));
    Spin(20);
    EXPECT_EQ(engine.starts, 1);
}

TEST_F(MainFrameTest, ServiceCommandsAreEnabledByTheServiceState) {
    auto states = [&] {
        QToolButton* startButton = qobject_cast<QToolButton*>(frame->toolBar()->widgetForAction(frame->action(ID_START_SERVICE)));
        QToolButton* stopButton = qobject_cast<QToolButton*>(frame->toolBar()->widgetForAction(frame->action(ID_STOP_SERVICE)));
        return std::vector<bool>{frame->action(ID_START_SERVICE)->isEnabled(), frame->action(ID_STOP_SERVICE)->isEnabled(),
                                 frame->trayAction(ID_START_SERVICE)->isEnabled(),
                                 frame->trayAction(ID_STOP_SERVICE)->isEnabled(), startButton->isEnabled(),
                                 stopButton->isEnabled()};
    };
    EXPECT_EQ(states(), (std::vector<bool>{false, true, false, true, false, true})) << "running at start-up";
    QTest::keyClick(frame.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(engine.stopped.load(), 1);
    EXPECT_EQ(states(), (std::vector<bool>{true, false, true, false, true, false}));
    frame->trayAction(ID_START_SERVICE)->trigger();
    EXPECT_EQ(engine.stopped.load(), 0);
    EXPECT_EQ(states(), (std::vector<bool>{false, true, false, true, false, true}));
    // WM_PASSBEGIN is refused while stopped.
    engine.SetServiceStopped(true);
    EngineMessage pass;
    pass.message = WM_PASSBEGIN;
    EXPECT_EQ(target->Send(pass), -1);
    engine.SetServiceStopped(false);
    EXPECT_EQ(target->Send(pass), 0);
}

TEST_F(MainFrameTest, ClosingHidesBehindTheTrayOrMinimisesWithoutOne) {
    CTrayIcon::SetAvailableForTests(true);
    frame->close();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(engine.shutdowns, 0);
    EXPECT_TRUE(frame->trayIcon()->shown());
    // Double click on the icon (the tray's default item, Open) brings the window back.
    EXPECT_EQ(frame->trayIcon()->HandleTrayMessage(kTrayIconId, CTrayIcon::Mouse::LeftDoubleClick), 1);
    EXPECT_TRUE(frame->isVisible());

    CTrayIcon::SetAvailableForTests(false);
    frame->close();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->isMinimized());
    EXPECT_EQ(engine.shutdowns, 0);
    EXPECT_EQ(quits, 0);
}

TEST_F(MainFrameTest, ExitRunsTheShutdownOnceAndEndsTheProgram) {
    CTrayIcon::SetAvailableForTests(true);
    frame->close();  // hidden; Exit from the tray menu still ends the program
    frame->trayAction(ID_EXIT)->trigger();
    QTest::keyClick(frame.get(), Qt::Key_X, Qt::ControlModifier);  // a second Exit, queued behind
    frame->RequestExit();
    ASSERT_TRUE(WaitUntil([&] { return quits == 1; }));
    Spin(30);
    EXPECT_EQ(engine.shutdowns, 1);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(frame->trayIcon()->shown()) << "the tray icon goes with the program";
    // Engine threads that still send after the end get an answer at once.
    std::thread late([&] {
        EngineMessage m;
        m.message = WM_PASSBEGIN;
        EXPECT_EQ(target->Send(m), 0);
    });
    late.join();
    frame->EndSession();
    EXPECT_EQ(engine.shutdowns, 1);
}

TEST_F(MainFrameTest, ExitKeyWorksFromTheReadOnlyDetailsPane) {
    frame->detailsPane()->AppendDetails(QStringLiteral("some text"));
    frame->detailsPane()->selectAll();
    frame->detailsPane()->setFocus();
    QTest::keyClick(frame->detailsPane(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(WaitUntil([&] { return quits == 1; }));
    EXPECT_EQ(frame->detailsPane()->toPlainText(), QStringLiteral("some text"));
}

TEST_F(MainFrameTest, SessionEndRunsTheShutdownAtOnce) {
    frame->EndSession();
    EXPECT_EQ(engine.shutdowns, 1);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(quits, 1);
}

TEST_F(MainFrameTest, TerminationSignalsReachTheUiThread) {
    std::vector<int> received;
    {
        ExitSignalWatcher watcher([&](int s) { received.push_back(s); });
        ASSERT_TRUE(watcher.installed());
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ASSERT_TRUE(WaitUntil([&] { return received.size() == 3; }));
    }
    EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM, SIGINT}));
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the previous handler is back";
}

TEST_F(MainFrameTest, TrayIconShowsItsTooltipAndMenuWithOpenAsDefault) {
    CTrayIcon* tray = frame->trayIcon();
    EXPECT_EQ(tray->tooltip(), QStringLiteral("Quorvane V1.0"));
    EXPECT_EQ(tray->id(), 130u);
    EXPECT_EQ(tray->HandleTrayMessage(131, CTrayIcon::Mouse::RightButtonUp), 0);
    EXPECT_EQ(tray->HandleTrayMessage(kTrayIconId, CTrayIcon::Mouse::LeftButtonUp), 0);
    EXPECT_FALSE(frame->trayMenu()->isVisible());
    frame->OnStopService();
    EXPECT_EQ(tray->HandleTrayMessage(kTrayIconId, CTrayIcon::Mouse::RightButtonUp), 1);
    ASSERT_TRUE(WaitUntil([&] { return frame->trayMenu()->isVisible(); }));
    EXPECT_EQ(frame->trayMenu()->defaultAction(), frame->trayAction(ID_TRAY_OPEN));
    EXPECT_TRUE(frame->trayAction(ID_START_SERVICE)->isEnabled());
    frame->trayMenu()->close();
}

TEST_F(MainFrameTest, HelpAndTheLogViewerGoThroughTheDesktop) {
    QTest::keyClick(frame.get(), Qt::Key_F1);
    ASSERT_EQ(shell.calls().size(), 1u);
    EXPECT_EQ(shell.calls()[0], (RecordingShell::Call{RecordingShell::Call::Open, "/opt/quorvane/user-guide.html", {}}));

    // View Log File (menu and Ctrl+L) hands the frame's shell to the log channel, which decides.
    frame->action(ID_VIEW_LOG_FILE)->trigger();
    QTest::keyClick(frame.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(logViews, 2);
    EXPECT_EQ(logViewShell, &shell);
}

TEST_F(MainFrameTest, AboutBoxShowsTheVersionAndBlankBoxShowsNothing) {
    QString version;
    bool hasIcon = false;
    SetModalHook([&](QDialog& dialog) {
        if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("versionLabel"))) version = label->text();
        for (QLabel* l : dialog.findChildren<QLabel*>()) hasIcon = hasIcon || !l->pixmap().isNull();
        return int{QDialog::Accepted};
    });
    frame->action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(version, QStringLiteral("Quorvane V1.2"));
    EXPECT_TRUE(hasIcon);

    MessageBox::SetNextAnswer(QMessageBox::Ok);
    EngineMessage box;
    box.message = WM_BLANKBOX;
    frame->messageTarget().Send(box);
    ASSERT_TRUE(MessageBox::last().has_value());
    EXPECT_TRUE(MessageBox::last()->caption.isEmpty());
    EXPECT_TRUE(MessageBox::last()->text.isEmpty());
}

TEST_F(MainFrameTest, CommandsWithoutTheirWorkStayDisabledUntilPluggedIn) {
    EXPECT_FALSE(frame->action(ID_EXPORT)->isEnabled());
    EXPECT_FALSE(frame->action(ID_SETTING)->isEnabled());
    EXPECT_FALSE(frame->action(ID_STOP_SOUND)->isEnabled());
    int exports = 0;
    frame->SetCommandHandler(ID_EXPORT, [&] { ++exports; });
    EXPECT_TRUE(frame->action(ID_EXPORT)->isEnabled());
    QTest::keyClick(frame.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(exports, 1);
}

}  // namespace
}  // namespace quorvane::test
