#include "ui/nbt_list_ctrl.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>

#include <algorithm>

#include "engine/host_table.h"
#include "ui/commands.h"
#include "ui/engine_control.h"
#include "ui/host_list_model.h"

namespace quorvane {

CNBTListCtrl::CNBTListCtrl(HostListModel& model, HostTable& table, EngineControl& engine, QWidget* parent)
    : CExtListCtrl(parent), model_(model), table_(table), engine_(engine) {
    setObjectName(QStringLiteral("hostList"));
    setModel(&model_);
    setIconSize(QSize(16, 16));
    InsertColumns();

    property_ = MakeCommandAction(ID_PROPERTY, MenuKind::Main, this);
    gotoFirst_ = MakeCommandAction(ID_GOTO_FIRST_EVENT, MenuKind::Main, this);
    gotoLast_ = MakeCommandAction(ID_GOTO_LAST_EVENT, MenuKind::Main, this);
    gotoAll_ = MakeCommandAction(ID_GOTO_ALL_EVENT, MenuKind::Main, this);
    property_->setEnabled(false);  // until the Property dialog is there
    connect(property_, &QAction::triggered, this, [this] { OnProperty(); });
    connect(gotoFirst_, &QAction::triggered, this, [this] { OnGotoEvent(1); });
    connect(gotoLast_, &QAction::triggered, this, [this] { OnGotoEvent(2); });
    connect(gotoAll_, &QAction::triggered, this, [this] { OnGotoEvent(3); });

    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("hostContextMenu"));
    SetFrameActions(nullptr, nullptr);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { ShowContextMenu(pos); });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) { OnProperty(); });
}

void CNBTListCtrl::InsertColumns() {
    const auto& widths = HostListModel::ColumnWidths();
    header()->setMinimumSectionSize(16);
    // The status image column holds a 16-pixel image whatever the font.
    header()->resizeSection(0, widths[0]);
    for (int c = 1; c < static_cast<int>(widths.size()); ++c) header()->resizeSection(c, ColumnWidthForFont(widths[c]));
    // The status image column keeps its width: dragging its divider does nothing.
    header()->setSectionResizeMode(0, QHeaderView::Fixed);
}

void CNBTListCtrl::SetFrameActions(QAction* deleteHost, QAction* exportItems) {
    deleteHost_ = deleteHost;
    export_ = exportItems;
    contextMenu_->clear();
    contextMenu_->addAction(property_);
    if (deleteHost_) contextMenu_->addAction(deleteHost_);
    contextMenu_->addSeparator();
    contextMenu_->addAction(gotoFirst_);
    contextMenu_->addAction(gotoLast_);
    contextMenu_->addAction(gotoAll_);
    contextMenu_->addSeparator();
    if (export_) contextMenu_->addAction(export_);
}

void CNBTListCtrl::SetPropertyHandler(std::function<void(HostEntry&)> handler) {
    onProperty_ = std::move(handler);
    property_->setEnabled(static_cast<bool>(onProperty_));
}

QAction* CNBTListCtrl::action(int id) const {
    switch (id) {
        case ID_PROPERTY: return property_;
        case ID_GOTO_FIRST_EVENT: return gotoFirst_;
        case ID_GOTO_LAST_EVENT: return gotoLast_;
        case ID_GOTO_ALL_EVENT: return gotoAll_;
        default: return nullptr;
    }
}

void CNBTListCtrl::ShowContextMenu(const QPoint& pos) {
    // Shown with or without a selection; the commands then decide.
    contextMenu_->popup(viewport()->mapToGlobal(pos));
}

int CNBTListCtrl::SortByColumn(int column) {
    if (column < 0 || column >= 128) return 0;
    // Remember the selection on the hosts themselves: their rows are about to move.
    const QList<int> selected = SelectedRows();
    for (int row : selected) {
        if (HostEntry* host = model_.hostAt(row)) host->selectionMarker = true;
    }
    const bool ascending = ToggleSortDirection(column);
    setUpdatesEnabled(false);
    model_.SortRows(column, ascending);

    QItemSelection selection;
    int restored = 0;
    int lastRestored = -1;
    for (int row = 0; row < model_.rowCount() && restored < selected.size(); ++row) {
        HostEntry* host = model_.hostAt(row);
        if (!host || !host->selectionMarker) continue;
        host->selectionMarker = false;
        ++restored;
        // Runs of adjacent rows become one range.
        if (lastRestored == row - 1 && !selection.isEmpty()) {
            QItemSelectionRange& back = selection.last();
            back = QItemSelectionRange(back.topLeft(), model_.index(row, model_.columnCount() - 1));
        } else {
            selection.append(QItemSelectionRange(model_.index(row, 0), model_.index(row, model_.columnCount() - 1)));
        }
        lastRestored = row;
    }
    if (!selection.isEmpty()) {
        selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        selectionModel()->setCurrentIndex(model_.index(lastRestored, 0), QItemSelectionModel::NoUpdate);
    }
    setUpdatesEnabled(true);
    return 0;
}

void CNBTListCtrl::OnProperty() {
    HostEntry* host = model_.hostAt(FirstSelectedRow());
    if (!host || !onProperty_) return;
    onProperty_(*host);
}

void CNBTListCtrl::OnDeleteHost() {
    auto edit = [this] {
        // Bottom-up: the same hosts go as top-down, but each removal moves no later row.
        QList<int> rows = SelectedRows();
        std::vector<HostEntry*> hosts;
        hosts.reserve(static_cast<size_t>(rows.size()));
        for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
            if (HostEntry* host = model_.hostAt(*it)) hosts.push_back(host);
        }
        for (HostEntry* host : hosts) table_.RemoveHost(*host, false, &model_);
    };
    engine_.TableEdit(edit, pump_ ? pump_ : std::function<void()>([] {}));
}

void CNBTListCtrl::OnGotoEvent(int mode) {
    HostEntry* host = model_.hostAt(FirstSelectedRow());
    if (!host || !eventList_) return;
    EngineMessage m;
    m.message = WM_SHOWHOSTEVENTS;
    m.host = host;
    m.lParam = mode;
    eventList_->Post(std::move(m));
}

void CNBTListCtrl::ShowHost(int row) {
    if (row < 0 || row >= model_.rowCount()) return;
    setFocus(Qt::OtherFocusReason);
    SelectOnlyRow(row);
}

void CNBTListCtrl::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    CExtListCtrl::currentChanged(current, previous);
    if (!current.isValid() || current.row() == previous.row() || !onFocusedRow_) return;
    if (HostEntry* host = model_.hostAt(current.row())) onFocusedRow_(*host);
}

}  // namespace quorvane
