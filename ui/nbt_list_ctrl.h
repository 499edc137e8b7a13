#pragma once
// The host list: one row per listed host (HostListModel), status images, per-column sorting that
// keeps the selection, the host context menu, Delete Host, the Goto commands and WM_SHOWHOST.

#include <functional>

#include "engine/messages.h"
#include "ui/ext_list_ctrl.h"

class QAction;
class QMenu;

namespace quorvane {

class EngineControl;
class HostListModel;
class HostTable;
struct HostEntry;

class CNBTListCtrl final : public CExtListCtrl {
public:
    CNBTListCtrl(HostListModel& model, HostTable& table, EngineControl& engine, QWidget* parent = nullptr);

    void InsertColumns() override;
    int SortByColumn(int column) override;

    // Wiring done by the view and the frame.
    void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }
    void SetEventListTarget(MessageTarget* target) { eventList_ = target; }
    // The frame's Delete Host and Export actions, shown in the context menu.
    void SetFrameActions(QAction* deleteHost, QAction* exportItems);
    // The Property dialog of a host (double click too); none yet: nothing happens.
    void SetPropertyHandler(std::function<void(HostEntry&)> handler);
    // Called when a row becomes the focused row, with its host.
    void SetFocusedRowHandler(std::function<void(HostEntry&)> handler) { onFocusedRow_ = std::move(handler); }

    // Commands.
    void OnProperty();
    void OnDeleteHost();
    void OnGotoEvent(int mode);  // 1 first, 2 last, 3 all
    // WM_SHOWHOST: selects and shows the row.
    void ShowHost(int row);

    QMenu* contextMenu() const { return contextMenu_; }
    QAction* action(int id) const;
    HostListModel& hostModel() const { return model_; }

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void ShowContextMenu(const QPoint& pos);

    HostListModel& model_;
    HostTable& table_;
    EngineControl& engine_;
    std::function<void()> pump_;
    MessageTarget* eventList_ = nullptr;
    std::function<void(HostEntry&)> onProperty_;
    std::function<void(HostEntry&)> onFocusedRow_;
    QAction* property_;
    QAction* gotoFirst_;
    QAction* gotoLast_;
    QAction* gotoAll_;
    QAction* deleteHost_ = nullptr;
    QAction* export_ = nullptr;
    QMenu* contextMenu_;
};

}  // namespace quorvane
