#include "ui/quorvane_app.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSessionManager>

#include <cstdlib>
#include <cstring>

#include "engine/startup.h"
#include "platform/shell.h"
#include "ui/engine_control.h"
#include "ui/icons.h"
#include "ui/main_frame.h"
#include "ui/message_bridge.h"

namespace quorvane {

CQuorvaneApp::CQuorvaneApp(StartupOptions options, StartupHooks hooks)
    : options_(std::move(options)), hooks_(std::move(hooks)), table_(std::make_unique<HostTable>()) {}

CQuorvaneApp::~CQuorvaneApp() {
    Close();
    frame_.reset();
}

bool CQuorvaneApp::InitInstance() {
    // 1. Sockets need no start-up on this system.
    // 2. The user-interface framework: a tray program does not end with its last window.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Quorvane"));
    QApplication::setWindowIcon(ApplicationIcon());
    // 3-6. Vendor name order, local address, messenger and start-up defaults.
    localAddress_ = PrepareStartupDefaults(settings_, options_.localAddress);
    // 7. The syslog socket.
    notifySocket_ = OpenNotifySocket();
    // 8. The main frame object (and the engine objects it drives; nothing runs yet).
    hostViewTarget_ = std::make_unique<QtMessageTarget>();
    if (!options_.makeEngine) return false;
    engine_ = options_.makeEngine(settings_, *table_, *hostViewTarget_);
    if (!engine_) return false;
    FrameContext ctx;
    ctx.settings = &settings_;
    ctx.table = table_.get();
    ctx.engine = engine_.get();
    ctx.hostViewTarget = hostViewTarget_.get();
    ctx.shell = options_.shell ? options_.shell : &SystemShell();
    ctx.helpDocument = options_.helpDocument;
    ctx.clock = options_.clock;
    ctx.save = [this] {
        if (hooks_.save) hooks_.save(settings_, *table_);
    };
    ctx.viewLogFile = hooks_.viewLogFile;
    ctx.quit = options_.quit;
    frame_ = std::make_unique<CMainFrame>(std::move(ctx));
    // 9. The stored settings and hosts; the first run registers the program to run at log-on.
    const bool loaded = hooks_.loadSettings && hooks_.loadSettings(settings_, *table_);
    if (!loaded && hooks_.registerRunAtLogon) hooks_.registerRunAtLogon();
    // 10. Slots for every configured address (the result is not checked).
    table_->ApplySegments(settings_.segments, 0, settings_.segments.size());
    // 11. The main window: the host view gives the listed hosts their rows, and the frame posts
    // the engine start to itself. Its panes take their sizes from the window as made by default.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        frame_->resize(avail.width() * 3 / 4, avail.height() * 3 / 4);
    }
    if (!frame_->Create()) return false;
    if (hooks_.dispatchEvent) frame_->SetDispatcher(hooks_.dispatchEvent);
    CMainFrame* frame = frame_.get();
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, frame, [frame](QSessionManager&) {
        if (!frame->shutdownRan()) frame->EndSession();
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, frame, [frame] {
        if (!frame->shutdownRan()) frame->EndSession();
    });
    // 12. The log stream.
    if (hooks_.openLogStream) hooks_.openLogStream(settings_);
    // 13. Shown maximised.
    if (options_.showWindow) frame_->showMaximized();
    return true;
}

void CQuorvaneApp::Close() {
    if (hostViewTarget_) hostViewTarget_->Close();
    if (frame_) frame_->messageTarget().Close();
}

std::optional<uint32_t> LocalAddressOverride(int argc, char** argv, std::string* error) {
    static const char kOption[] = "--local-address";
    std::optional<std::string> text;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, kOption, sizeof kOption - 1) != 0) continue;
        const char* rest = arg + sizeof kOption - 1;
        if (*rest == '=') {
            text = rest + 1;
        } else if (*rest == 0 && i + 1 < argc) {
            text = argv[++i];
        } else if (*rest == 0) {
            text = std::string();
        }
    }
    if (!text) {
        if (const char* env = std::getenv("QUORVANE_LOCAL_ADDRESS"); env && *env) text = env;
    }
    if (!text) return std::nullopt;
    auto address = ParseIpv4(*text);
    if (!address && error) *error = "not an IPv4 address for the local address: \"" + *text + "\"";
    return address;
}

}  // namespace quorvane
