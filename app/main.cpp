// The program: the start-up sequence on a QApplication, then the event loop until Exit.
//
// For tests and the lab the local address (which fixes the default segment) can be given
// instead of looked up: --local-address=a.b.c.d on the command line or QUORVANE_LOCAL_ADDRESS
// in the environment. Nothing else is read from either.
#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "channels/syslog_channel.h"
#include "notify/dispatcher.h"
#include "notify/log_channel.h"
#include "settings/run_at_logon.h"
#include "settings/settings_store.h"
#include "ui/engine_control.h"
#include "ui/exit_signals.h"
#include "ui/main_frame.h"
#include "ui/quorvane_app.h"

namespace {

// The user guide: installed beside the program, in the build tree, or in the source tree.
std::string FindUserGuide() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QString candidates[] = {
        dir + QStringLiteral("/../share/doc/quorvane/user-guide.html"),
        dir + QStringLiteral("/../docs/user-guide.html"),
        QStringLiteral(QUORVANE_SOURCE_DOCS "/user-guide.html"),
    };
    for (const QString& c : candidates) {
        const QFileInfo info(c);
        if (info.isFile()) return QDir::cleanPath(info.absoluteFilePath()).toStdString();
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto localAddress = quorvane::LocalAddressOverride(argc, argv, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "quorvane: %s\n", error.c_str());
        return 2;
    }

    QApplication qapp(argc, argv);
    quorvane::StartupOptions options;
    options.localAddress = localAddress;
    options.makeEngine = [](const quorvane::AppSettings& s, quorvane::HostTable& t, quorvane::MessageTarget& view) {
        return quorvane::MakeEngineControl(s, t, view);
    };
    options.helpDocument = FindUserGuide();
    // The settings and the host table are kept by the settings store: loaded at start-up (the
    // first run registers the program to run at log-on), saved by the shutdown sequence.
    std::unique_ptr<quorvane::SettingsStore> store;
    quorvane::StartupHooks hooks;
    hooks.loadSettings = [&store](quorvane::AppSettings& settings, quorvane::HostTable& table) {
        store = std::make_unique<quorvane::SettingsStore>(settings, &table);
        return store->LoadSettings() == 0;
    };
    hooks.registerRunAtLogon = [] { quorvane::RegisterRunAtLogon(); };
    hooks.save = [&store](const quorvane::AppSettings&, quorvane::HostTable&) {
        if (store) store->SaveSettings();
    };

    // The notification channels: the log file opens at the end of start-up; every event the
    // event list shows goes through the dispatcher.
    std::unique_ptr<quorvane::LogFileChannel> log;
    std::unique_ptr<quorvane::SyslogChannel> syslog;
    std::unique_ptr<quorvane::Dispatcher> dispatcher;
    hooks.openLogStream = [&log](const quorvane::AppSettings& settings) {
        log = std::make_unique<quorvane::LogFileChannel>(settings);
        log->OpenLog();
    };
    hooks.viewLogFile = [&log](quorvane::Shell& shell) {
        if (log) log->ViewLogFile(shell);
    };
    hooks.dispatchEvent = [&dispatcher](const quorvane::MonitorEvent& event) {
        if (dispatcher) dispatcher->DispatchEvent(event);
    };

    quorvane::CQuorvaneApp app(std::move(options), std::move(hooks));
    if (!app.InitInstance()) return 1;
    // Events start with the engine, which the frame starts from the event loop: in time.
    syslog = std::make_unique<quorvane::SyslogChannel>(app.settings(), app.notifySocket());
    dispatcher = std::make_unique<quorvane::Dispatcher>(
        app.settings(), quorvane::ChannelSet{.syslog = syslog.get(), .log = log.get()});
    quorvane::ExitSignalWatcher signals([&app](int) {
        if (app.frame()) app.frame()->RequestExit();
    });
    const int rc = qapp.exec();
    // The probe sender and the reply receiver end with the process: nothing they use may be
    // destroyed before, so the program ends here without running destructors.
    app.Close();
    if (log) log->CloseLog();  // lines still buffered reach the file, also after SIGTERM
    std::fflush(nullptr);
    std::_Exit(rc);
}
