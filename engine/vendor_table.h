#pragma once
// Network adapter vendors by the first three bytes of the MAC (the OUI), from the IEEE MA-L
// registry as Debian's ieee-data ships it, plus the MAC and event time text formatters.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/nbt_codec.h"

namespace quorvane {

struct AppSettings;

struct VendorEntry {
    uint8_t low[3];     // lowest OUI of the entry, most significant byte first
    uint8_t high[3];    // highest OUI, inclusive
    uint32_t nameRank;  // position in name order; filled by BuildVendorNameOrder
    const char* name;   // as the registry spells it
};

// The table, sorted by `low`; generated from the registry at build time.
std::span<VendorEntry> VendorTable();

// Fills every entry's nameRank (byte-wise order of the names). Runs once; later calls do nothing.
void BuildVendorNameOrder();

// The entry whose range holds the MAC's first three bytes, or nullptr. Allocates nothing.
const VendorEntry* LookupVendor(const MacAddress& mac);

inline constexpr size_t kMacTextSize = 18;
inline constexpr size_t kEventTimeTextSize = 128;

// Writes the MAC text in the form the settings choose (macUpperCase, macSeparatorStyle); returns out.
char* FormatMac(const MacAddress& mac, const AppSettings& settings, char (&out)[kMacTextSize]);

// Writes the local time as "%a, %Y-%m-%d %H:%M:%S" with English weekday names, whatever the
// locale. Returns 0.
int FormatEventTime(int64_t secondsSince1970, char (&out)[kEventTimeTextSize]);

// FormatEventTime as a string; empty for 0 ("never"), as the host times are shown.
std::string HostTimeText(int64_t secondsSince1970);

}  // namespace quorvane
