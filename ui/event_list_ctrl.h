#pragma once
// The event list: newest event at the top, per-column sorting, stepping between a host's events,
// selecting a host's first, last or all events (WM_SHOWHOSTEVENTS), jumping to the host's row.

#include "engine/messages.h"
#include "ui/ext_list_ctrl.h"

class QAction;
class QMenu;

namespace quorvane {

class EventListModel;
struct HostEntry;

class CEventListCtrl final : public CExtListCtrl {
public:
    CEventListCtrl(EventListModel& model, QWidget* parent = nullptr);

    void InsertColumns() override;
    int SortByColumn(int column) override;

    void SetHostListTarget(MessageTarget* target) { hostList_ = target; }
    // The frame's Clear All event action, shown in the context menu.
    void SetClearAllAction(QAction* clearAll);

    // WM_SHOWHOSTEVENTS: mode 1 the host's first event from the top, 2 its last, 3 all of them.
    void ShowHostEvents(const HostEntry* host, int mode);
    void OnGotoNext();
    void OnGotoPrevious();
    void OnClearAll();
    // Left double click: the host of the first selected event is shown in the host list.
    void OnDoubleClick();

    QMenu* contextMenu() const { return contextMenu_; }
    QAction* action(int id) const;
    EventListModel& eventModel() const { return model_; }

private:
    void Step(int direction);
    void RebuildContextMenu();

    EventListModel& model_;
    MessageTarget* hostList_ = nullptr;
    QAction* clearAll_ = nullptr;
    QAction* gotoNext_;
    QAction* gotoPrevious_;
    QMenu* contextMenu_;
};

}  // namespace quorvane
