#pragma once
// The main window: menus, toolbar, status bar, the three panes (host list on top, event list and
// details below) and the tray icon. It starts the engine once created, hides on close, and runs
// the shutdown sequence once when the user exits or the session ends.

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/host_view.h"
#include "ui/message_bridge.h"

class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

namespace quorvane {

class CEventView;
class CQuorvaneView;
class CTrayIcon;
class DetailsPane;
class EngineControl;
class LockIndicators;
class Shell;

// What the frame works with; everything is owned elsewhere and outlives the frame.
struct FrameContext {
    AppSettings* settings = nullptr;
    HostTable* table = nullptr;
    EngineControl* engine = nullptr;
    QtMessageTarget* hostViewTarget = nullptr;  // where the engine sends its host messages
    Shell* shell = nullptr;
    std::string helpDocument;                   // what Help opens; empty: nothing
    HostView::WallClock clock;                  // empty: the system clock
    std::function<void()> save;                 // the shutdown's save of settings and hosts
    std::function<void(Shell&)> viewLogFile;    // View Log File: the log channel shows its file
    std::function<void()> quit;                 // ends the program; empty: QCoreApplication::quit
};

inline constexpr char kTrayTooltip[] = "Quorvane V1.0";
inline constexpr char kFrameCaption[] = "Quorvane";

class CMainFrame final : public QMainWindow {
public:
    explicit CMainFrame(FrameContext context, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Builds the panes, menus, toolbar, status bar and tray icon, then posts WM_ENGINESTART.
    // The client layout is computed from the window's size at this moment.
    bool Create();

    // The Exit command: sets exitRequested and asks the window to close (queued).
    void RequestExit();
    // The desktop session ends (or a termination signal came): the same as Exit, carried out
    // at once, so the shutdown sequence has run when this returns.
    void EndSession();
    bool exitRequested() const { return exitRequested_; }
    bool shutdownRan() const { return shutdownRan_; }

    // Commands whose work lives elsewhere (export, setup, stop sound); each is enabled once set.
    void SetCommandHandler(int id, std::function<void()> handler);
    // Window messages to the frame (sound, job completion) handled elsewhere.
    void SetMessageHandler(uint32_t message, QtMessageTarget::Handler handler);
    // The event dispatcher, called after every event shown.
    void SetDispatcher(std::function<void(const MonitorEvent&)> dispatch);

    QtMessageTarget& messageTarget() { return frameTarget_; }
    CQuorvaneView* hostView() const { return hostView_; }
    CEventView* eventView() const { return eventView_; }
    DetailsPane* detailsPane() const { return details_; }
    CTrayIcon* trayIcon() const { return tray_; }
    QMenu* trayMenu() const { return trayMenu_; }
    QToolBar* toolBar() const { return toolBar_; }
    QSplitter* outerSplitter() const { return outer_; }
    QSplitter* innerSplitter() const { return inner_; }
    LockIndicators* lockIndicators() const { return locks_; }
    // The main-menu (or toolbar, or accelerator) action of a command, and its tray menu twin.
    QAction* action(int id) const;
    QAction* trayAction(int id) const;

    // Commands.
    void OnStartService();
    void OnStopService();
    void OnViewLogFile();
    void OnHelp();
    void OnAbout();
    void OnOpen();
    void UpdateServiceCommands();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int64_t HandleFrameMessage(const EngineMessage& message);
    void BuildLayout();
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildTray();
    QAction* AddCommand(int id, std::function<void()> handler);
    QAction* AddTrayCommand(int id, std::function<void()> handler);

    FrameContext ctx_;
    QtMessageTarget frameTarget_;
    QSplitter* outer_ = nullptr;
    QSplitter* inner_ = nullptr;
    CQuorvaneView* hostView_ = nullptr;
    CEventView* eventView_ = nullptr;
    DetailsPane* details_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* ready_ = nullptr;
    LockIndicators* locks_ = nullptr;
    CTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    std::map<int, QAction*> actions_;
    std::map<int, QAction*> trayActions_;
    std::map<int, std::function<void()>> commandHandlers_;
    std::map<uint32_t, QtMessageTarget::Handler> messageHandlers_;
    bool exitRequested_ = false;
    bool shutdownRan_ = false;
};

}  // namespace quorvane
