#include "engine/vendor_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <numeric>
#include <vector>

#include "settings/app_settings.h"

namespace quorvane {

extern VendorEntry g_vendorTable[];
extern const size_t g_vendorTableSize;

std::span<VendorEntry> VendorTable() { return {g_vendorTable, g_vendorTableSize}; }

void BuildVendorNameOrder() {
    static std::once_flag once;
    std::call_once(once, [] {
        const std::span<VendorEntry> table = VendorTable();
        std::vector<uint32_t> order(table.size());
        std::iota(order.begin(), order.end(), 0u);
        // strcmp compares as unsigned char: capital letters before small ones.
        std::sort(order.begin(), order.end(),
                  [&](uint32_t a, uint32_t b) { return std::strcmp(table[a].name, table[b].name) < 0; });
        for (uint32_t p = 0; p < order.size(); ++p) table[order[p]].nameRank = p;
    });
}

namespace {
constexpr uint32_t Oui(const uint8_t* b) { return uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2]; }
}  // namespace

const VendorEntry* LookupVendor(const MacAddress& mac) {
    const std::span<const VendorEntry> table = VendorTable();
    const uint32_t key = Oui(mac.data());
    size_t lo = 0;
    size_t hi = table.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const VendorEntry& e = table[mid];
        if (key < Oui(e.low)) {
            hi = mid;
        } else if (key > Oui(e.high)) {
            lo = mid + 1;
        } else {
            return &e;
        }
    }
    return nullptr;
}

char* FormatMac(const MacAddress& m, const AppSettings& settings, char (&out)[kMacTextSize]) {
    const bool upper = settings.macUpperCase() != 0;
    const bool dotted = settings.macSeparatorStyle() != 0;
    const char* format = upper ? (dotted ? "%02X%02X.%02X%02X.%02X%02X" : "%02X-%02X-%02X-%02X-%02X-%02X")
                               : (dotted ? "%02x%02x.%02x%02x.%02x%02x" : "%02x-%02x-%02x-%02x-%02x-%02x");
    std::snprintf(out, sizeof out, format, m[0], m[1], m[2], m[3], m[4], m[5]);
    return out;
}

int FormatEventTime(int64_t secondsSince1970, char (&out)[kEventTimeTextSize]) {
    // English names whatever the locale: the texts go into logs, mails and syslog.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    out[0] = '\0';
    const time_t t = static_cast<time_t>(secondsSince1970);
    tm local{};
    if (!localtime_r(&t, &local) || local.tm_wday < 0 || local.tm_wday > 6) return 0;
    std::snprintf(out, sizeof out, "%s, %04lld-%02d-%02d %02d:%02d:%02d", kDays[local.tm_wday],
                  static_cast<long long>(local.tm_year) + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return 0;
}

std::string HostTimeText(int64_t secondsSince1970) {
    if (secondsSince1970 == 0) return {};
    char text[kEventTimeTextSize];
    FormatEventTime(secondsSince1970, text);
    return text;
}

}  // namespace quorvane
