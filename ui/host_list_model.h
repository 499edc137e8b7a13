#pragma once
// The rows of the host list: one per listed host, in the order of the host table's rowOrder.
// The host view's message handling drives it through HostListSink; the view shows it.
//
// A row's cells are what was last written to them (AddHostRow, SetHostCell, RefreshNameCell),
// kept per slot, so they move with their host when the rows are sorted. Sort keys and the row
// colour come from the host records themselves. UI thread only.

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/host_list.h"
#include "engine/host_table.h"
#include "settings/app_settings.h"

namespace quorvane {

inline constexpr int kHostColumnCount = 11;

// The cell text of a work group, host or user name: the first 15 characters without the blanks
// at their end (one blank stays of a name of blanks), up to a zero byte. nullopt when the name's
// first byte is 0: such a cell is not written.
std::optional<std::string> HostNameCellText(const NameField& name);

class HostListModel final : public QAbstractTableModel, public HostListSink {
public:
    HostListModel(HostTable& table, const AppSettings& settings, QObject* parent = nullptr);
    ~HostListModel() override;

    // HostListSink
    void AddHostRow(const HostEntry& host) override;
    void DeleteHostRow(int row) override;
    void SetRowImage(int row, int image) override;
    void RefreshNameCell(const HostEntry& host, int column) override;
    void SetHostCell(const HostEntry& host, int column, std::string_view text) override;
    void RedrawFirstCell(int row) override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The host shown in a row, or nullptr for a row that does not exist.
    HostEntry* hostAt(int row) const;
    // The text of a cell as the list shows it.
    QString cellText(int row, int column) const;
    int rowImage(int row) const;

    // Sorts the table's rowOrder by the column's key, renumbers every host's row and shows the
    // new order. Ascending or its exact reverse. The caller restores the selection.
    void SortRows(int column, bool ascending);

    static const std::array<int, kHostColumnCount>& ColumnWidths();

private:
    struct Cells {
        uint8_t image = 2;
        std::array<std::string, kHostColumnCount> text;
    };
    Cells* CellsOfRow(int row) const;
    Cells* CellsOfHost(const HostEntry& host) const;
    void ChangedCell(int row, int column);
    void ChangedRow(int row);

    HostTable& table_;
    const AppSettings& settings_;
    std::vector<uint16_t> rows_;                  // the slot shown in each row
    std::vector<std::unique_ptr<Cells>> cells_;   // by slot; only for listed hosts
    std::array<QIcon, 3> images_;
};

}  // namespace quorvane
