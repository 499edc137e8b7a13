#pragma once
// What the host table and the host event handling need of the on-screen host list. The Qt host
// list implements it; tests use a recording fake. Column numbers are those of the host list.

#include <string_view>

namespace quorvane {

struct HostEntry;

enum HostColumn : int {
    kColStatus = 0, kColAddress = 1, kColGroup = 2, kColHost = 3, kColDescription = 4, kColUser = 5,
    kColMac = 6, kColVendor = 7, kColFirstFound = 8, kColStartup = 9, kColShutdown = 10,
};

class HostListSink {
public:
    virtual ~HostListSink() = default;
    // Inserts a row at host.row showing host.listImage and every cell of the host.
    virtual void AddHostRow(const HostEntry& host) = 0;
    virtual void DeleteHostRow(int row) = 0;
    virtual void SetRowImage(int row, int image) = 0;
    // Rewrites column 2, 3 or 5 from the host's stored name.
    virtual void RefreshNameCell(const HostEntry& host, int column) = 0;
    virtual void SetHostCell(const HostEntry& host, int column, std::string_view text) = 0;
    virtual void RedrawFirstCell(int row) = 0;
};

}  // namespace quorvane
