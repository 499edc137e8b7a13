#pragma once
// The Caps Lock, Num Lock and Scroll Lock panes of the status bar. Qt has no portable way to ask
// for the lock states; under X11 every key event carries the modifier state, which tells Caps
// Lock and Num Lock. A state the platform does not tell stays blank, as a lock that is off.

#include <QObject>

#include <optional>

class QLabel;
class QStatusBar;

namespace quorvane {

class LockIndicators final : public QObject {
public:
    // Adds the three panes to the bar and watches the application's key events.
    explicit LockIndicators(QStatusBar* bar);

    void SetStates(std::optional<bool> caps, std::optional<bool> num, std::optional<bool> scroll);
    QLabel* caps() const { return caps_; }
    QLabel* num() const { return num_; }
    QLabel* scroll() const { return scroll_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* caps_;
    QLabel* num_;
    QLabel* scroll_;
    bool x11_ = false;
};

}  // namespace quorvane
