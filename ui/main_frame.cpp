#include "ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

#include "platform/shell.h"
#include "ui/about_dialog.h"
#include "ui/commands.h"
#include "ui/details_pane.h"
#include "ui/engine_control.h"
#include "ui/event_list_ctrl.h"
#include "ui/event_view.h"
#include "ui/icons.h"
#include "ui/lock_indicators.h"
#include "ui/modal.h"
#include "ui/nbt_list_ctrl.h"
#include "ui/quorvane_view.h"
#include "ui/tray_icon.h"

namespace quorvane {

namespace {

// Two panes; the first keeps its size (the ideal one until the user drags the divider) and the
// last takes whatever the window gains or loses.
class PaneSplitter final : public QSplitter {
public:
    PaneSplitter(Qt::Orientation orientation, int firstSize, QWidget* parent)
        : QSplitter(orientation, parent), firstSize_(firstSize) {
        connect(this, &QSplitter::splitterMoved, this, [this](int pos, int) { firstSize_ = pos; });
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QSplitter::resizeEvent(event);
        if (count() != 2) return;
        const int total = (orientation() == Qt::Vertical ? height() : width()) - handleWidth();
        if (total > 0) setSizes({firstSize_, std::max(0, total - firstSize_)});
    }

private:
    int firstSize_;
};

}  // namespace

CMainFrame::CMainFrame(FrameContext context, QWidget* parent) : QMainWindow(parent), ctx_(std::move(context)) {
    setObjectName(QStringLiteral("mainFrame"));
    frameTarget_.SetHandler([this](const EngineMessage& m) { return HandleFrameMessage(m); });
}

CMainFrame::~CMainFrame() {
    frameTarget_.Close();
    // The views refer to each other through message targets: take them down in order.
    delete outer_;
    outer_ = nullptr;
}

bool CMainFrame::Create() {
    setWindowTitle(QString::fromLatin1(kFrameCaption));
    setWindowIcon(ApplicationIcon());
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
    BuildLayout();
    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    BuildTray();
    UpdateServiceCommands();

    EngineMessage start;
    start.message = WM_ENGINESTART;
    frameTarget_.Post(std::move(start));
    return true;
}

void CMainFrame::BuildLayout() {
    // The client size before the bars exist: W by H, H5 = H / 5.
    const int w = width();
    const int h = height();
    const int h5 = h / 5;

    outer_ = new PaneSplitter(Qt::Vertical, h - h5, this);
    outer_->setObjectName(QStringLiteral("outerSplitter"));
    outer_->setChildrenCollapsible(false);
    hostView_ = new CQuorvaneView(*ctx_.table, *ctx_.settings, *ctx_.engine, *ctx_.hostViewTarget, ctx_.clock,
                                  outer_);
    inner_ = new PaneSplitter(Qt::Horizontal, w * 5 / 6, outer_);
    inner_->setObjectName(QStringLiteral("innerSplitter"));
    inner_->setChildrenCollapsible(false);
    inner_->setFrameShape(QFrame::StyledPanel);
    eventView_ = new CEventView(inner_);
    details_ = new DetailsPane(inner_);
    outer_->addWidget(hostView_);
    outer_->addWidget(inner_);
    inner_->addWidget(eventView_);
    inner_->addWidget(details_);
    // The first row and column keep their size; the last ones take what is left.
    outer_->setStretchFactor(0, 0);
    outer_->setStretchFactor(1, 1);
    inner_->setStretchFactor(0, 0);
    inner_->setStretchFactor(1, 1);
    outer_->setSizes({h - h5, h5});
    inner_->setSizes({w * 5 / 6, w});
    setCentralWidget(outer_);

    hostView_->SetEventSink(eventView_);
    hostView_->list().SetEventListTarget(&eventView_->showEventsTarget());
    eventView_->list().SetHostListTarget(&hostView_->showHostTarget());
}

QAction* CMainFrame::AddCommand(int id, std::function<void()> handler) {
    QAction* a = MakeCommandAction(id, MenuKind::Main, this);
    if (handler) connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    addAction(a);  // its key works wherever the focus is in the window
    actions_[id] = a;
    return a;
}

QAction* CMainFrame::AddTrayCommand(int id, std::function<void()> handler) {
    QAction* a = MakeCommandAction(id, MenuKind::Tray, this);
    connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    trayActions_[id] = a;
    return a;
}

void CMainFrame::BuildActions() {
    AddCommand(ID_CLEAR_ALL_EVENT, [this] { eventView_->list().OnClearAll(); });
    AddCommand(ID_EXPORT, [this] {
        if (auto it = commandHandlers_.find(ID_EXPORT); it != commandHandlers_.end()) it->second();
    });
    AddCommand(ID_EXIT, [this] { RequestExit(); });
    AddCommand(ID_SETTING, [this] {
        if (auto it = commandHandlers_.find(ID_SETTING); it != commandHandlers_.end()) it->second();
    });
    AddCommand(ID_START_SERVICE, [this] { OnStartService(); });
    AddCommand(ID_STOP_SERVICE, [this] { OnStopService(); });
    AddCommand(ID_STOP_SOUND, [this] {
        if (auto it = commandHandlers_.find(ID_STOP_SOUND); it != commandHandlers_.end()) it->second();
    });
    AddCommand(ID_VIEW_LOG_FILE, [this] { OnViewLogFile(); });
    AddCommand(ID_HELP_DOCUMENT, [this] { OnHelp(); });
    AddCommand(ID_APP_ABOUT, [this] { OnAbout(); });
    AddCommand(ID_DELETE_HOST, [this] { hostView_->list().OnDeleteHost(); });
    // Commands whose work is not plugged in yet stay disabled, as an unhandled command does.
    for (int id : {ID_EXPORT, ID_SETTING, ID_STOP_SOUND}) actions_[id]->setEnabled(commandHandlers_.count(id) > 0);

    QAction* toolbar = AddCommand(ID_VIEW_TOOLBAR, {});
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    QAction* statusBarToggle = AddCommand(ID_VIEW_STATUS_BAR, {});
    statusBarToggle->setCheckable(true);
    statusBarToggle->setChecked(true);
    connect(statusBarToggle, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

    AddTrayCommand(ID_TRAY_OPEN, [this] { OnOpen(); });
    AddTrayCommand(ID_APP_ABOUT, [this] { OnAbout(); });
    AddTrayCommand(ID_START_SERVICE, [this] { OnStartService(); });
    AddTrayCommand(ID_STOP_SERVICE, [this] { OnStopService(); });
    AddTrayCommand(ID_EXIT, [this] { RequestExit(); });

    hostView_->list().SetFrameActions(actions_[ID_DELETE_HOST], actions_[ID_EXPORT]);
    eventView_->list().SetClearAllAction(actions_[ID_CLEAR_ALL_EVENT]);
}

void CMainFrame::BuildMenus() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->addAction(actions_[ID_CLEAR_ALL_EVENT]);
    file->addSeparator();
    file->addAction(actions_[ID_EXPORT]);
    file->addSeparator();
    file->addAction(actions_[ID_EXIT]);
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("menuView"));
    view->addAction(actions_[ID_VIEW_TOOLBAR]);
    view->addAction(actions_[ID_VIEW_STATUS_BAR]);
    QMenu* option = bar->addMenu(QStringLiteral("&Option"));
    option->setObjectName(QStringLiteral("menuOption"));
    option->addAction(actions_[ID_SETTING]);
    QMenu* service = bar->addMenu(QStringLiteral("&Service"));
    service->setObjectName(QStringLiteral("menuService"));
    service->addAction(actions_[ID_START_SERVICE]);
    service->addAction(actions_[ID_STOP_SERVICE]);
    service->addSeparator();
    service->addAction(actions_[ID_STOP_SOUND]);
    service->addSeparator();
    service->addAction(actions_[ID_VIEW_LOG_FILE]);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(actions_[ID_HELP_DOCUMENT]);
    help->addAction(actions_[ID_APP_ABOUT]);
}

void CMainFrame::BuildToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(32, 32));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar_->setMovable(true);
    toolBar_->setFloatable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    const std::pair<int, ToolbarImage> buttons[] = {
        {ID_EXPORT, ToolbarImage::Export},         {ID_SETTING, ToolbarImage::Setting},
        {0, {}},
        {ID_START_SERVICE, ToolbarImage::StartService}, {ID_STOP_SERVICE, ToolbarImage::StopService},
        {0, {}},
        {ID_STOP_SOUND, ToolbarImage::StopSound},  {ID_VIEW_LOG_FILE, ToolbarImage::ViewLog},
        {0, {}},
        {ID_HELP_DOCUMENT, ToolbarImage::Help},    {ID_APP_ABOUT, ToolbarImage::About},
    };
    for (const auto& [id, image] : buttons) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        actions_[id]->setIcon(ToolbarIcon(image));
        toolBar_->addAction(actions_[id]);
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
    QAction* toggle = actions_[ID_VIEW_TOOLBAR];
    connect(toggle, &QAction::toggled, toolBar_, &QToolBar::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, toggle, [toggle](bool visible) {
        if (toggle->isChecked() != visible) toggle->setChecked(visible);
    });
}

void CMainFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    // The idle text; prompts of the commands show over it while the pointer rests on them.
    ready_ = new QLabel(QStringLiteral("Ready"), bar);
    ready_->setObjectName(QStringLiteral("readyLabel"));
    bar->addWidget(ready_, 1);
    locks_ = new LockIndicators(bar);
}

void CMainFrame::BuildTray() {
    trayMenu_ = new QMenu(QStringLiteral("tray(&T)"), this);
    trayMenu_->setObjectName(QStringLiteral("trayMenu"));
    trayMenu_->addAction(trayActions_[ID_TRAY_OPEN]);
    trayMenu_->addAction(trayActions_[ID_APP_ABOUT]);
    trayMenu_->addSeparator();
    trayMenu_->addAction(trayActions_[ID_START_SERVICE]);
    trayMenu_->addAction(trayActions_[ID_STOP_SERVICE]);
    trayMenu_->addSeparator();
    trayMenu_->addAction(trayActions_[ID_EXIT]);
    connect(trayMenu_, &QMenu::aboutToShow, this, [this] { UpdateServiceCommands(); });
    tray_ = new CTrayIcon(kTrayIconId, this);
    tray_->SetNotifyTarget(this);
    tray_->SetMenu(trayMenu_);
    tray_->SetTrayIcon(ApplicationIcon(), QString::fromLatin1(kTrayTooltip));
}

QAction* CMainFrame::action(int id) const {
    auto it = actions_.find(id);
    if (it != actions_.end()) return it->second;
    if (hostView_) {
        if (QAction* a = hostView_->list().action(id)) return a;
    }
    if (eventView_) {
        if (QAction* a = eventView_->list().action(id)) return a;
    }
    return nullptr;
}

QAction* CMainFrame::trayAction(int id) const {
    auto it = trayActions_.find(id);
    return it == trayActions_.end() ? nullptr : it->second;
}

void CMainFrame::SetCommandHandler(int id, std::function<void()> handler) {
    const bool on = static_cast<bool>(handler);
    if (on) {
        commandHandlers_[id] = std::move(handler);
    } else {
        commandHandlers_.erase(id);
    }
    if (QAction* a = action(id)) a->setEnabled(on);
}

void CMainFrame::SetMessageHandler(uint32_t message, QtMessageTarget::Handler handler) {
    if (handler) {
        messageHandlers_[message] = std::move(handler);
    } else {
        messageHandlers_.erase(message);
    }
}

void CMainFrame::SetDispatcher(std::function<void(const MonitorEvent&)> dispatch) {
    eventView_->SetDispatcher(std::move(dispatch));
}

int64_t CMainFrame::HandleFrameMessage(const EngineMessage& m) {
    switch (m.message) {
        case WM_ENGINESTART:
            ctx_.engine->Start();
            return 0;
        case WM_BLANKBOX:
            MessageBox::Show(this, QString(), QString(), QMessageBox::Ok);
            return 0;
        default:
            break;
    }
    auto it = messageHandlers_.find(m.message);
    return it == messageHandlers_.end() ? 0 : it->second(m);
}

void CMainFrame::UpdateServiceCommands() {
    const bool stopped = ctx_.engine->serviceStopped().load() != 0;
    for (auto* map : {&actions_, &trayActions_}) {
        if (auto it = map->find(ID_START_SERVICE); it != map->end()) it->second->setEnabled(stopped);
        if (auto it = map->find(ID_STOP_SERVICE); it != map->end()) it->second->setEnabled(!stopped);
    }
}

void CMainFrame::OnStartService() {
    ctx_.engine->SetServiceStopped(false);
    UpdateServiceCommands();
}

void CMainFrame::OnStopService() {
    ctx_.engine->SetServiceStopped(true);
    UpdateServiceCommands();
}

void CMainFrame::OnViewLogFile() {
    if (ctx_.viewLogFile) ctx_.viewLogFile(*ctx_.shell);
}

void CMainFrame::OnHelp() {
    if (!ctx_.helpDocument.empty()) ctx_.shell->Open(ctx_.helpDocument);
}

void CMainFrame::OnAbout() {
    CAboutDlg about(this);
    RunModal(about);
}

void CMainFrame::OnOpen() {
    show();
    raise();
    activateWindow();
}

void CMainFrame::RequestExit() {
    exitRequested_ = true;
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

void CMainFrame::EndSession() {
    exitRequested_ = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!exitRequested_) {
        event->ignore();
        // Without a notification area a hidden window could never be reached again.
        if (CTrayIcon::Available() && tray_ && tray_->shown()) {
            hide();
        } else {
            showMinimized();
        }
        return;
    }
    // A second request while (or after) the shutdown sequence runs does nothing.
    if (shutdownRan_ || ctx_.engine->closing() || !ctx_.engine->Shutdown(ctx_.save ? ctx_.save : [] {})) {
        event->ignore();
        return;
    }
    shutdownRan_ = true;
    // The engine threads go on until the process ends; from now on nobody answers them.
    ctx_.hostViewTarget->Close();
    frameTarget_.Close();
    if (tray_) tray_->SetTrayIcon(QIcon(), QString());
    event->accept();
    if (ctx_.quit) {
        ctx_.quit();
    } else {
        QCoreApplication::quit();
    }
}

}  // namespace quorvane
