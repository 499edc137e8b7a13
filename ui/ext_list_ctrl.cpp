#include "ui/ext_list_ctrl.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>

#include <algorithm>

namespace quorvane {

CExtListCtrl::CExtListCtrl(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->setHighlightSections(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) { SortByColumn(section); });
    // A user who scrolls the list means to work in it.
    auto takeFocus = [this](int) {
        if (!hasFocus()) setFocus(Qt::OtherFocusReason);
    };
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, takeFocus);
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this, takeFocus);
}

uint8_t CExtListCtrl::sortDirection(int column) const {
    return (column >= 0 && column < static_cast<int>(sortDirection_.size())) ? sortDirection_[column] : 0;
}

int CExtListCtrl::ColumnWidthForFont(int pixels) const {
    constexpr double kReferenceDigitWidth = 6.0;
    const double digit = fontMetrics().horizontalAdvance(QStringLiteral("0123456789")) / 10.0;
    return static_cast<int>(pixels * std::max(1.0, digit / kReferenceDigitWidth) + 0.5);
}

bool CExtListCtrl::ToggleSortDirection(int column) {
    uint8_t& flag = sortDirection_[static_cast<size_t>(column)];
    flag = flag == 0 ? 1 : 0;
    return flag == 1;
}

QList<int> CExtListCtrl::SelectedRows() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int r = range.top(); r <= range.bottom(); ++r) rows.append(r);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int CExtListCtrl::FirstSelectedRow() const {
    if (!selectionModel()) return -1;
    int first = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (first < 0 || range.top() < first) first = range.top();
    }
    return first;
}

void CExtListCtrl::SelectOnlyRow(int row) {
    if (!model() || row < 0 || row >= model()->rowCount()) return;
    const QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

}  // namespace quorvane
