#pragma once
// The rows of the event list, newest first. Each row keeps its host, time and text (EventRow)
// plus what its cells show. New events always go to the top, also after a sort. UI thread only.

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <cstdint>
#include <deque>
#include <string>

#include "engine/host_view.h"

namespace quorvane {

inline constexpr int kEventColumnCount = 3;
enum EventColumn : int { kEvColEvent = 0, kEvColAddress = 1, kEvColTime = 2 };

struct EventRow {
    HostEntry* host = nullptr;
    int64_t time = 0;
    std::string text;
    EventKind kind = EventKind::Information;
    uint32_t address = 0;  // network order, as shown: taken when the row was added
    std::string timeText;
};

class EventListModel final : public QAbstractTableModel {
public:
    explicit EventListModel(QObject* parent = nullptr);

    // Inserts the event's row at the top. False (nothing inserted) when memory ran out.
    bool Insert(const MonitorEvent& event);
    void Clear();
    // Sorts by the column, ascending or its exact reverse; selected rows stay selected.
    void SortRows(int column, bool ascending);

    const EventRow* rowAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static const std::array<int, kEventColumnCount>& ColumnWidths();

private:
    std::deque<EventRow> rows_;
    std::array<QIcon, 3> images_;
};

}  // namespace quorvane
