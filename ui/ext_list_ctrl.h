#pragma once
// The base of both lists of the main window: a report-style list (a QTreeView over a flat
// model) with one sort direction flag per column, sorting on a header click, full-row extended
// selection, and taking the keyboard focus when the user scrolls it.

#include <QList>
#include <QTreeView>

#include <array>
#include <cstdint>

namespace quorvane {

class CExtListCtrl : public QTreeView {
public:
    explicit CExtListCtrl(QWidget* parent = nullptr);

    // Sets up the columns of the list; call once its model is set.
    virtual void InsertColumns() = 0;
    // Sorts by the column: its direction flag is toggled (0 becomes 1, anything else 0), then 1
    // sorts ascending and 0 descending. Columns of 128 and above are ignored. Returns 0.
    virtual int SortByColumn(int column) = 0;

    uint8_t sortDirection(int column) const;

    // A column width given for the classic 8-point dialog font (digits 6 pixels wide), widened in
    // proportion when the list's font is wider, so the cells hold the texts they were sized for.
    int ColumnWidthForFont(int pixels) const;

    // Selected rows in list order, and the topmost selected row (-1 with none).
    QList<int> SelectedRows() const;
    int FirstSelectedRow() const;
    // Selects exactly the row, makes it the focused row and scrolls it into view.
    void SelectOnlyRow(int row);

protected:
    // Toggles the column's flag and returns true when the new value asks for ascending order.
    bool ToggleSortDirection(int column);

private:
    std::array<uint8_t, 128> sortDirection_{};
};

}  // namespace quorvane
