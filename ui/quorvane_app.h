#pragma once
// The program's start-up sequence, in its fixed order, and what lives for the whole run: the
// settings, the host table, the syslog socket, the engine and the main window.
//
// Steps that later work fills in are hooks: loading the stored settings and hosts (with the
// run-at-log-on registration after a failed load), opening the log stream, the save of the
// shutdown sequence, and the dispatch of every event to the notification channels. An empty hook does nothing (a load hook that is empty counts as a failed
// load, as on a first run).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/host_table.h"
#include "engine/host_view.h"
#include "platform/net.h"
#include "settings/app_settings.h"

namespace quorvane {

class CMainFrame;
class EngineControl;
class MessageTarget;
class QtMessageTarget;
class Shell;

struct StartupHooks {
    // Step 9: loads the settings and the saved host table; false when nothing usable is stored.
    std::function<bool(AppSettings&, HostTable&)> loadSettings;
    // Step 9, after a failed load: registers the program to run at log-on.
    std::function<void()> registerRunAtLogon;
    // Step 12: opens the log stream (the hook decides what an empty logFile means).
    std::function<void(const AppSettings&)> openLogStream;
    // View Log File: the log channel flushes its stream and shows the file through the shell.
    std::function<void(Shell&)> viewLogFile;
    // Shutdown: saves the settings and the host table.
    std::function<void(const AppSettings&, HostTable&)> save;
    // Every event, after the event list has shown it: the notification dispatcher.
    std::function<void(const MonitorEvent&)> dispatchEvent;
};

using EngineFactory =
    std::function<std::unique_ptr<EngineControl>(const AppSettings&, HostTable&, MessageTarget& hostView)>;

struct StartupOptions {
    std::optional<uint32_t> localAddress;  // replaces the look-up of the local address
    EngineFactory makeEngine;              // required
    Shell* shell = nullptr;                // nullptr: the desktop
    std::string helpDocument;
    bool showWindow = true;                // step 13; tests may keep the window hidden
    std::function<void()> quit;            // how the program ends after the shutdown
    HostView::WallClock clock;             // event and host times; empty: the system clock
};

class CQuorvaneApp {
public:
    CQuorvaneApp(StartupOptions options, StartupHooks hooks);
    ~CQuorvaneApp();
    CQuorvaneApp(const CQuorvaneApp&) = delete;
    CQuorvaneApp& operator=(const CQuorvaneApp&) = delete;

    // Steps 1 to 13. False when the main window could not be made.
    bool InitInstance();

    AppSettings& settings() { return settings_; }
    HostTable& table() { return *table_; }
    EngineControl& engine() { return *engine_; }
    CMainFrame* frame() const { return frame_.get(); }
    QtMessageTarget& hostViewTarget() { return *hostViewTarget_; }
    UdpSocket& notifySocket() { return notifySocket_; }
    std::optional<uint32_t> localAddress() const { return localAddress_; }

    // The end of the program: no message is answered any more (engine threads that still
    // send get 0 at once).
    void Close();

private:
    StartupOptions options_;
    StartupHooks hooks_;
    AppSettings settings_;
    std::unique_ptr<HostTable> table_;
    std::optional<uint32_t> localAddress_;
    UdpSocket notifySocket_;
    std::unique_ptr<QtMessageTarget> hostViewTarget_;
    std::unique_ptr<EngineControl> engine_;
    std::unique_ptr<CMainFrame> frame_;
};

// The local address given on the command line ("--local-address=a.b.c.d" or "--local-address
// a.b.c.d") or, failing that, in QUORVANE_LOCAL_ADDRESS. Sets error and returns nullopt for a
// value that is not a dotted IPv4 address.
std::optional<uint32_t> LocalAddressOverride(int argc, char** argv, std::string* error);

}  // namespace quorvane
