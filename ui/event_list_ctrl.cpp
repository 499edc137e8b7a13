#include "ui/event_list_ctrl.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>

#include "engine/host_table.h"
#include "ui/commands.h"
#include "ui/event_list_model.h"

namespace quorvane {

CEventListCtrl::CEventListCtrl(EventListModel& model, QWidget* parent) : CExtListCtrl(parent), model_(model) {
    setObjectName(QStringLiteral("eventList"));
    setModel(&model_);
    setIconSize(QSize(16, 16));
    InsertColumns();

    gotoNext_ = MakeCommandAction(ID_GOTO_NEXT_EVENT, MenuKind::Main, this);
    gotoPrevious_ = MakeCommandAction(ID_GOTO_PREVIOUS_EVENT, MenuKind::Main, this);
    // Ctrl+N and Ctrl+E reach the event list from anywhere in the main window.
    gotoNext_->setShortcutContext(Qt::WindowShortcut);
    gotoPrevious_->setShortcutContext(Qt::WindowShortcut);
    addAction(gotoNext_);
    addAction(gotoPrevious_);
    connect(gotoNext_, &QAction::triggered, this, [this] { OnGotoNext(); });
    connect(gotoPrevious_, &QAction::triggered, this, [this] { OnGotoPrevious(); });

    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("eventContextMenu"));
    RebuildContextMenu();
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { contextMenu_->popup(viewport()->mapToGlobal(pos)); });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) { OnDoubleClick(); });
}

void CEventListCtrl::InsertColumns() {
    const auto& widths = EventListModel::ColumnWidths();
    for (int c = 0; c < static_cast<int>(widths.size()); ++c) header()->resizeSection(c, ColumnWidthForFont(widths[c]));
}

void CEventListCtrl::SetClearAllAction(QAction* clearAll) {
    clearAll_ = clearAll;
    RebuildContextMenu();
}

void CEventListCtrl::RebuildContextMenu() {
    contextMenu_->clear();
    if (clearAll_) contextMenu_->addAction(clearAll_);
    contextMenu_->addSeparator();
    contextMenu_->addAction(gotoNext_);
    contextMenu_->addAction(gotoPrevious_);
}

QAction* CEventListCtrl::action(int id) const {
    switch (id) {
        case ID_GOTO_NEXT_EVENT: return gotoNext_;
        case ID_GOTO_PREVIOUS_EVENT: return gotoPrevious_;
        default: return nullptr;
    }
}

int CEventListCtrl::SortByColumn(int column) {
    if (column < 0 || column >= 128) return 0;
    const bool ascending = ToggleSortDirection(column);
    model_.SortRows(column, ascending);
    return 0;
}

void CEventListCtrl::ShowHostEvents(const HostEntry* host, int mode) {
    QItemSelectionModel* sel = selectionModel();
    sel->clearSelection();
    sel->clearCurrentIndex();
    const int rows = model_.rowCount();
    const int lastColumn = model_.columnCount() - 1;
    int shown = -1;
    auto hostOf = [&](int row) { return model_.rowAt(row)->host; };
    if (mode == 1) {
        for (int r = 0; r < rows && shown < 0; ++r) {
            if (hostOf(r) == host) shown = r;
        }
        if (shown >= 0) sel->select(model_.index(shown, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    } else if (mode == 2) {
        for (int r = rows - 1; r >= 0 && shown < 0; --r) {
            if (hostOf(r) == host) shown = r;
        }
        if (shown >= 0) sel->select(model_.index(shown, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    } else if (mode == 3) {
        QItemSelection selection;
        for (int r = 0; r < rows; ++r) {
            if (hostOf(r) != host) continue;
            if (shown == r - 1 && !selection.isEmpty()) {
                QItemSelectionRange& back = selection.last();
                back = QItemSelectionRange(back.topLeft(), model_.index(r, lastColumn));
            } else {
                selection.append(QItemSelectionRange(model_.index(r, 0), model_.index(r, lastColumn)));
            }
            shown = r;
        }
        if (!selection.isEmpty()) sel->select(selection, QItemSelectionModel::Select);
    }
    if (shown < 0) return;
    sel->setCurrentIndex(model_.index(shown, 0), QItemSelectionModel::NoUpdate);
    scrollTo(model_.index(shown, 0));
    setFocus(Qt::OtherFocusReason);
}

void CEventListCtrl::Step(int direction) {
    const int start = FirstSelectedRow();
    const EventRow* from = model_.rowAt(start);
    if (!from) return;
    const int rows = model_.rowCount();
    for (int r = start + direction; r >= 0 && r < rows; r += direction) {
        if (model_.rowAt(r)->host != from->host) continue;
        QItemSelectionModel* sel = selectionModel();
        sel->select(model_.index(start, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        sel->setCurrentIndex(model_.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        scrollTo(model_.index(r, 0));
        return;
    }
}

void CEventListCtrl::OnGotoNext() { Step(+1); }
void CEventListCtrl::OnGotoPrevious() { Step(-1); }

void CEventListCtrl::OnClearAll() { model_.Clear(); }

void CEventListCtrl::OnDoubleClick() {
    const EventRow* row = model_.rowAt(FirstSelectedRow());
    // An event whose host has left the host list has no row to show.
    if (!row || !row->host || !row->host->listed() || !hostList_) return;
    EngineMessage m;
    m.message = WM_SHOWHOST;
    m.wParam = static_cast<uint64_t>(row->host->row);
    hostList_->Post(std::move(m));
}

}  // namespace quorvane
