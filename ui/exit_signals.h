#pragma once
// SIGTERM, SIGINT and SIGHUP turned into a call on the UI thread (self-pipe and a socket
// notifier), so that a terminated program still runs its shutdown sequence and saves.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quorvane {

class ExitSignalWatcher final : public QObject {
public:
    // Installs the handlers; onSignal runs on the UI thread, once per signal delivered.
    explicit ExitSignalWatcher(std::function<void(int)> onSignal, QObject* parent = nullptr);
    // Restores the previous handlers.
    ~ExitSignalWatcher() override;

    bool installed() const { return installed_; }

private:
    void Drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};

}  // namespace quorvane
