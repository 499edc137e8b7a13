#include "ui/host_list_model.h"

#include <QBrush>
#include <QColor>

#include <algorithm>
#include <cstring>

#include "engine/vendor_table.h"
#include "platform/net.h"
#include "ui/icons.h"
#include "ui/text.h"

namespace quorvane {

namespace {

const char* const kTitles[kHostColumnCount] = {
    " ",          "IP Address", "Work Group",        "Host Name",     "Description",    "User Name",
    " MAC Address", " NIC Vendor", " First Found Time", " Startup Time", " Shutdown Time",
};

const QColor kDownText(98, 98, 98);
const QColor kEvenRow(196, 255, 228);

std::string DescriptionText(const HostEntry& host) {
    const auto& d = host.description;
    const void* end = std::memchr(d.data(), 0, d.size());
    return std::string(d.data(), end ? static_cast<const char*>(end) - d.data() : d.size());
}

// Host byte order: the address as a number.
uint32_t AddressKey(const HostEntry& host) {
    const uint32_t a = host.ipv4();
    const auto* b = reinterpret_cast<const uint8_t*>(&a);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

}  // namespace

std::optional<std::string> HostNameCellText(const NameField& name) {
    if (name[0] == 0) return std::nullopt;
    char text[16];
    std::memcpy(text, name.data(), 15);
    text[15] = 0;
    for (int i = 14; i >= 1 && text[i] == ' '; --i) text[i] = 0;
    return std::string(text);
}

HostListModel::HostListModel(HostTable& table, const AppSettings& settings, QObject* parent)
    : QAbstractTableModel(parent), table_(table), settings_(settings), cells_(kHostSlots) {
    for (int i = 0; i < 3; ++i) images_[i] = HostStatusIcon(i);
}

HostListModel::~HostListModel() = default;

const std::array<int, kHostColumnCount>& HostListModel::ColumnWidths() {
    static const std::array<int, kHostColumnCount> widths{20, 90, 80, 98, 80, 90, 116, 80, 156, 156, 156};
    return widths;
}

HostListModel::Cells* HostListModel::CellsOfRow(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return nullptr;
    return cells_[rows_[row]].get();
}

HostListModel::Cells* HostListModel::CellsOfHost(const HostEntry& host) const {
    // Only a row that really shows this host: a stale row number must not write another's cells.
    if (host.row < 0 || static_cast<size_t>(host.row) >= rows_.size() || rows_[host.row] != host.slotIndex) {
        return nullptr;
    }
    return cells_[host.slotIndex].get();
}

void HostListModel::ChangedCell(int row, int column) {
    const QModelIndex i = index(row, column);
    Q_EMIT dataChanged(i, i);
}

void HostListModel::ChangedRow(int row) {
    // The row's text colour follows the host's state, which changes together with its image.
    Q_EMIT dataChanged(index(row, 0), index(row, kHostColumnCount - 1));
}

void HostListModel::AddHostRow(const HostEntry& host) {
    int row = host.row;
    if (row < 0 || static_cast<size_t>(row) > rows_.size()) row = static_cast<int>(rows_.size());
    auto cells = std::make_unique<Cells>();
    cells->image = static_cast<uint8_t>(host.listImage <= 2 ? host.listImage : 2);
    auto& t = cells->text;
    t[kColAddress] = FormatIpv4(host.ipv4());
    if (auto s = HostNameCellText(host.groupName)) t[kColGroup] = std::move(*s);
    if (auto s = HostNameCellText(host.hostName)) t[kColHost] = std::move(*s);
    t[kColDescription] = DescriptionText(host);
    if (auto s = HostNameCellText(host.userName)) t[kColUser] = std::move(*s);
    char mac[kMacTextSize];
    t[kColMac] = FormatMac(host.mac, settings_, mac);
    if (host.vendor) t[kColVendor] = host.vendor->name;
    t[kColFirstFound] = HostTimeText(host.firstFoundTime);
    t[kColStartup] = HostTimeText(host.startupTime);
    t[kColShutdown] = HostTimeText(host.shutdownTime);

    beginInsertRows({}, row, row);
    rows_.insert(rows_.begin() + row, host.slotIndex);
    cells_[host.slotIndex] = std::move(cells);
    endInsertRows();
}

void HostListModel::DeleteHostRow(int row) {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
    beginRemoveRows({}, row, row);
    cells_[rows_[row]].reset();
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void HostListModel::SetRowImage(int row, int image) {
    Cells* c = CellsOfRow(row);
    if (!c || image < 0 || image > 2) return;
    c->image = static_cast<uint8_t>(image);
    ChangedRow(row);
}

void HostListModel::RefreshNameCell(const HostEntry& host, int column) {
    const NameField* name = column == kColGroup  ? &host.groupName
                            : column == kColHost ? &host.hostName
                            : column == kColUser ? &host.userName
                                                 : nullptr;
    Cells* c = CellsOfHost(host);
    if (!c || !name) return;
    auto text = HostNameCellText(*name);
    if (!text) return;
    c->text[column] = std::move(*text);
    ChangedCell(host.row, column);
}

void HostListModel::SetHostCell(const HostEntry& host, int column, std::string_view text) {
    Cells* c = CellsOfHost(host);
    if (!c || column <= kColStatus || column >= kHostColumnCount) return;
    c->text[column] = std::string(text);
    ChangedCell(host.row, column);
}

void HostListModel::RedrawFirstCell(int row) {
    if (CellsOfRow(row)) ChangedRow(row);
}

int HostListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HostListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kHostColumnCount; }

QVariant HostListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this) return {};
    const Cells* c = CellsOfRow(index.row());
    if (!c || index.column() < 0 || index.column() >= kHostColumnCount) return {};
    switch (role) {
        case Qt::DisplayRole:
            return index.column() == kColStatus ? QVariant() : QVariant(Latin1Text(c->text[index.column()]));
        case Qt::DecorationRole:
            return index.column() == kColStatus ? QVariant(images_[c->image]) : QVariant();
        case Qt::ForegroundRole:
            return QBrush(table_.slot(rows_[index.row()]).state() == HostState::Down ? kDownText
                                                                                    : QColor(Qt::black));
        case Qt::BackgroundRole:
            return QBrush(index.row() % 2 == 0 ? kEvenRow : QColor(Qt::white));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant HostListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kHostColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kTitles[section]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

HostEntry* HostListModel::hostAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return nullptr;
    return &table_.slot(rows_[row]);
}

QString HostListModel::cellText(int row, int column) const {
    const Cells* c = CellsOfRow(row);
    if (!c || column < 0 || column >= kHostColumnCount) return {};
    return Latin1Text(c->text[column]);
}

int HostListModel::rowImage(int row) const {
    const Cells* c = CellsOfRow(row);
    return c ? c->image : -1;
}

void HostListModel::SortRows(int column, bool ascending) {
    if (column < 0 || column >= kHostColumnCount) return;
    std::span<uint16_t> order = table_.rowOrder();
    const size_t n = std::min(order.size(), rows_.size());
    const HostTable& table = table_;

    // Keys that may change under us (the state word) or cost a look-up are read once; the
    // comparison then sees one consistent value per host, as std::sort requires.
    auto sortByNumber = [&](auto key) {
        std::vector<std::pair<uint64_t, uint16_t>> keyed(n);
        for (size_t i = 0; i < n; ++i) keyed[i] = {key(table.slot(order[i])), order[i]};
        if (ascending) {
            std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        } else {
            std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return b.first < a.first; });
        }
        for (size_t i = 0; i < n; ++i) order[i] = keyed[i].second;
    };
    // Byte-wise keys are written only on this thread, so they are stable during the sort.
    auto sortByBytes = [&](auto bytes) {
        auto less = [&](uint16_t a, uint16_t b) {
            const auto [pa, na] = bytes(table.slot(a));
            const auto [pb, nb] = bytes(table.slot(b));
            const int c = std::memcmp(pa, pb, std::min(na, nb));
            return c != 0 ? c < 0 : na < nb;
        };
        if (ascending) {
            std::sort(order.begin(), order.begin() + n, less);
        } else {
            std::sort(order.begin(), order.begin() + n, [&](uint16_t a, uint16_t b) { return less(b, a); });
        }
    };
    auto name15 = [](NameField HostEntry::*field) {
        return [field](const HostEntry& h) { return std::pair<const void*, size_t>((h.*field).data(), 15); };
    };

    beginResetModel();
    switch (column) {
        case kColStatus:
            sortByNumber([](const HostEntry& h) { return static_cast<uint64_t>(h.state()); });
            break;
        case kColAddress:
            sortByNumber([](const HostEntry& h) { return static_cast<uint64_t>(AddressKey(h)); });
            break;
        case kColGroup: sortByBytes(name15(&HostEntry::groupName)); break;
        case kColHost: sortByBytes(name15(&HostEntry::hostName)); break;
        case kColUser: sortByBytes(name15(&HostEntry::userName)); break;
        case kColDescription:
            sortByBytes([](const HostEntry& h) {
                const auto& d = h.description;
                const void* end = std::memchr(d.data(), 0, d.size());
                const size_t len = end ? static_cast<const char*>(end) - d.data() : d.size();
                return std::pair<const void*, size_t>(d.data(), len);
            });
            break;
        case kColMac:
            sortByBytes([](const HostEntry& h) { return std::pair<const void*, size_t>(h.mac.data(), h.mac.size()); });
            break;
        case kColVendor:
            // Hosts without a vendor first (last when descending).
            sortByNumber([](const HostEntry& h) { return h.vendor ? uint64_t{h.vendor->nameRank} + 1 : uint64_t{0}; });
            break;
        case kColFirstFound:
        case kColStartup:
        case kColShutdown: {
            int64_t HostEntry::*field = column == kColFirstFound ? &HostEntry::firstFoundTime
                                        : column == kColStartup  ? &HostEntry::startupTime
                                                                 : &HostEntry::shutdownTime;
            // Signed seconds as an order-preserving unsigned key.
            sortByNumber([field](const HostEntry& h) { return static_cast<uint64_t>(h.*field) ^ (uint64_t{1} << 63); });
            break;
        }
        default: break;
    }
    for (size_t r = 0; r < n; ++r) {
        table_.slot(order[r]).row = static_cast<int32_t>(r);
        rows_[r] = order[r];
    }
    endResetModel();
}

}  // namespace quorvane
