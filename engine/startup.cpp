#include "engine/startup.h"

#include "engine/vendor_table.h"

namespace quorvane {

std::optional<uint32_t> PrepareStartupDefaults(AppSettings& settings, std::optional<uint32_t> localOverride) {
    BuildVendorNameOrder();
    std::optional<uint32_t> local = localOverride;
    if (!local) {
        uint32_t address = 0;
        if (GetLocalAddress(&address) == 1) local = address;
    }
    ApplyStartupDefaults(settings, local);
    return local;
}

UdpSocket OpenNotifySocket() {
    UdpSocket s;
    if (!s.Open()) return s;
    s.SetBroadcast(true);
    if (!s.Bind(0, 0)) {
        s.Close();
        return s;
    }
    s.SetReceiveTimeout(1000);
    s.SetBufferSizes(kSocketBufferBytes, kSocketBufferBytes);
    return s;
}

}  // namespace quorvane
