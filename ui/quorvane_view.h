#pragma once
// The host view, the upper pane of the main window: it holds the host list and handles the
// engine's host messages on the UI thread (HostView), which update the rows and raise events.

#include <QWidget>

#include <memory>

#include "engine/host_view.h"
#include "ui/message_bridge.h"

namespace quorvane {

class CNBTListCtrl;
class EngineControl;
class HostListModel;

class CQuorvaneView final : public QWidget {
public:
    // hostViewTarget is where the engine sends its host messages; the view becomes its handler.
    // Creating the view numbers the table's slots and gives every listed host its row.
    CQuorvaneView(HostTable& table, const AppSettings& settings, EngineControl& engine,
                  QtMessageTarget& hostViewTarget, HostView::WallClock clock, QWidget* parent = nullptr);
    ~CQuorvaneView() override;

    // Where the events go (the event list); until set they are dropped.
    void SetEventSink(EventSink* sink) { forward_.target = sink; }

    CNBTListCtrl& list() const { return *list_; }
    HostListModel& model() const { return *model_; }
    HostView& hostView() { return *hostView_; }
    // Target of WM_SHOWHOST.
    QtMessageTarget& showHostTarget() { return showHostTarget_; }

private:
    struct ForwardingSink final : EventSink {
        EventSink* target = nullptr;
        void AddEvent(const MonitorEvent& e) override {
            if (target) target->AddEvent(e);
        }
    };

    QtMessageTarget& hostViewTarget_;
    ForwardingSink forward_;
    std::unique_ptr<HostListModel> model_;
    CNBTListCtrl* list_;
    std::unique_ptr<HostView> hostView_;
    QtMessageTarget showHostTarget_;
};

}  // namespace quorvane
