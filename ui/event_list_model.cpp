#include "ui/event_list_model.h"

#include <algorithm>
#include <numeric>
#include <new>
#include <vector>

#include "platform/net.h"
#include "ui/icons.h"
#include "ui/text.h"

namespace quorvane {

namespace {

const char* const kTitles[kEventColumnCount] = {"Event", "Ip Address", "Time"};

uint32_t HostOrder(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

}  // namespace

EventListModel::EventListModel(QObject* parent) : QAbstractTableModel(parent) {
    for (int i = 0; i < 3; ++i) images_[i] = EventKindIcon(i);
}

const std::array<int, kEventColumnCount>& EventListModel::ColumnWidths() {
    static const std::array<int, kEventColumnCount> widths{380, 90, 156};
    return widths;
}

bool EventListModel::Insert(const MonitorEvent& event) {
    EventRow row;
    try {
        row.text = event.text;
        row.timeText = event.timeText;
    } catch (const std::bad_alloc&) {
        return false;  // the event is dropped: no row
    }
    row.host = event.host;
    row.time = event.time;
    row.kind = event.kind;
    row.address = event.host ? event.host->ipv4() : 0;
    beginInsertRows({}, 0, 0);
    rows_.push_front(std::move(row));
    endInsertRows();
    return true;
}

void EventListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void EventListModel::SortRows(int column, bool ascending) {
    if (column < 0 || column >= kEventColumnCount || rows_.empty()) return;
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    auto less = [&](int a, int b) {
        const EventRow& x = rows_[static_cast<size_t>(a)];
        const EventRow& y = rows_[static_cast<size_t>(b)];
        switch (column) {
            case kEvColEvent: return x.text.compare(y.text) < 0;  // unsigned bytes
            case kEvColAddress: return HostOrder(x.address) < HostOrder(y.address);
            default: return x.time < y.time;
        }
    };
    if (ascending) {
        std::sort(order.begin(), order.end(), less);
    } else {
        std::sort(order.begin(), order.end(), [&](int a, int b) { return less(b, a); });
    }

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    std::deque<EventRow> sorted;
    for (size_t i = 0; i < order.size(); ++i) {
        newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<size_t>(order[i])]));
    }
    rows_.swap(sorted);
    // The selection and the focused row follow their events.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) to.append(index(newRowOf[static_cast<size_t>(i.row())], i.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const EventRow* EventListModel::rowAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return nullptr;
    return &rows_[static_cast<size_t>(row)];
}

int EventListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int EventListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kEventColumnCount; }

QVariant EventListModel::data(const QModelIndex& index, int role) const {
    const EventRow* r = index.isValid() && index.model() == this ? rowAt(index.row()) : nullptr;
    if (!r) return {};
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kEvColEvent: return Latin1Text(r->text);
                case kEvColAddress: return QString::fromStdString(FormatIpv4(r->address));
                case kEvColTime: return Latin1Text(r->timeText);
                default: return {};
            }
        case Qt::DecorationRole: {
            const int kind = static_cast<int>(r->kind);
            if (index.column() != kEvColEvent || kind < 0 || kind > 2) return {};
            return images_[static_cast<size_t>(kind)];
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kEventColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kTitles[section]);
    return {};
}

}  // namespace quorvane
