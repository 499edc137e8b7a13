#pragma once
// The event view, the lower left pane: the event list, and AddEvent, where every monitor event
// is shown and then handed to the notification dispatcher.

#include <QWidget>

#include <functional>
#include <memory>

#include "engine/host_view.h"
#include "ui/message_bridge.h"

namespace quorvane {

class CEventListCtrl;
class EventListModel;

class CEventView final : public QWidget, public EventSink {
public:
    using Dispatcher = std::function<void(const MonitorEvent&)>;

    explicit CEventView(QWidget* parent = nullptr);
    ~CEventView() override;

    // Inserts the event's row at the top, then dispatches the event (not when it was dropped).
    void AddEvent(const MonitorEvent& event) override;
    void SetDispatcher(Dispatcher dispatcher) { dispatch_ = std::move(dispatcher); }

    CEventListCtrl& list() const { return *list_; }
    EventListModel& model() const { return *model_; }
    // Target of WM_SHOWHOSTEVENTS.
    QtMessageTarget& showEventsTarget() { return showEventsTarget_; }

private:
    std::unique_ptr<EventListModel> model_;
    CEventListCtrl* list_;
    Dispatcher dispatch_;
    QtMessageTarget showEventsTarget_;
};

}  // namespace quorvane
