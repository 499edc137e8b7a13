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

    quorvane::CQuorvaneApp app(std::move(options), std::move(hooks));
    if (!app.InitInstance()) return 1;
    quorvane::ExitSignalWatcher signals([&app](int) {
        if (app.frame()) app.frame()->RequestExit();
    });
    const int rc = qapp.exec();
    // The probe sender and the reply receiver end with the process: nothing they use may be
    // destroyed before, so the program ends here without running destructors.
    app.Close();
    std::fflush(nullptr);
    std::_Exit(rc);
}
