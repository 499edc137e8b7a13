#include "engine/vendor_table.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "settings/app_settings.h"

namespace quorvane {
namespace {

const VendorEntry* Find(const char* name) {
    for (const VendorEntry& e : VendorTable())
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

TEST(VendorTable, SortedAndRangesDoNotOverlap) {
    const auto table = VendorTable();
    ASSERT_GT(table.size(), 10000u);
    for (size_t i = 0; i < table.size(); ++i) {
        const VendorEntry& e = table[i];
        ASSERT_LE(std::memcmp(e.low, e.high, 3), 0) << i;
        if (i == 0) continue;
        const VendorEntry& prev = table[i - 1];
        const bool sameSingle = std::memcmp(prev.low, e.low, 3) == 0 && std::memcmp(prev.high, e.high, 3) == 0 &&
                                std::memcmp(e.low, e.high, 3) == 0;
        // Only an OUI listed twice in the registry appears in neighbouring entries.
        if (!sameSingle) {
            ASSERT_LT(std::memcmp(prev.high, e.low, 3), 0) << i << " " << e.name;
        }
    }
}

TEST(VendorTable, LookupAtRangeEdgesAndBeyond) {
    const auto table = VendorTable();
    const VendorEntry& last = table.back();
    const struct {
        MacAddress mac;
        const char* expected;  // nullptr: no vendor
    } cases[] = {
        {{0x00, 0x00, 0x05, 0x12, 0x34, 0x56}, "XEROX CORPORATION"},  // inside the first range
        {{0x00, 0x00, 0x09, 0xFF, 0xFF, 0xFF}, "XEROX CORPORATION"},  // the range's end
        {{0x00, 0x00, 0x0A, 0x00, 0x00, 0x00}, "OMRON TATEISI ELECTRONICS CO."},  // the next entry
        {{0, 0, 0, 0, 0, 0}, "XEROX CORPORATION"},                    // all zero: the first entry
        {{last.low[0], last.low[1], last.low[2], 1, 2, 3}, last.name},  // the last entry
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, nullptr},              // past the last entry
    };
    for (const auto& c : cases) {
        const VendorEntry* v = LookupVendor(c.mac);
        if (!c.expected) {
            EXPECT_EQ(v, nullptr);
        } else {
            ASSERT_NE(v, nullptr) << c.expected;
            EXPECT_STREQ(v->name, c.expected);
        }
    }
}

TEST(VendorTable, EveryEntryIsFoundAtBothEnds) {
    for (const VendorEntry& e : VendorTable()) {
        for (const uint8_t* oui : {e.low, e.high}) {
            const VendorEntry* v = LookupVendor({oui[0], oui[1], oui[2], 0, 0, 0});
            ASSERT_NE(v, nullptr) << e.name;
            // An OUI listed twice may find either listing.
            ASSERT_TRUE(v == &e || (std::memcmp(v->low, e.low, 3) == 0 && std::memcmp(v->high, e.high, 3) == 0))
                << e.name;
        }
    }
}

TEST(VendorTable, NameRankPutsCapitalsFirstAndIsAPermutation) {
    BuildVendorNameOrder();
    BuildVendorNameOrder();  // a second call changes nothing
    const VendorEntry* upper = Find("XEROX CORPORATION");
    const VendorEntry* lower = Find("Xerox Corporation");
    ASSERT_NE(upper, nullptr);
    ASSERT_NE(lower, nullptr);
    EXPECT_LT(upper->nameRank, lower->nameRank);

    const auto table = VendorTable();
    std::vector<const VendorEntry*> byRank(table.size());
    for (const VendorEntry& e : table) {
        ASSERT_LT(e.nameRank, table.size());
        ASSERT_EQ(byRank[e.nameRank], nullptr) << "rank given twice";
        byRank[e.nameRank] = &e;
    }
    for (size_t p = 1; p < byRank.size(); ++p)  // ranks follow the byte order of the names
        ASSERT_LE(std::strcmp(byRank[p - 1]->name, byRank[p]->name), 0) << byRank[p]->name;
}

TEST(FormatMac, FourForms) {
    const MacAddress mac{0x00, 0x12, 0x3F, 0xAB, 0xC0, 0xDE};
    const struct {
        uint32_t upper, dotted;
        const char* text;
    } cases[] = {
        {1, 1, "0012.3FAB.C0DE"},
        {1, 0, "00-12-3F-AB-C0-DE"},
        {0, 1, "0012.3fab.c0de"},
        {0, 0, "00-12-3f-ab-c0-de"},
        {3, 31, "0012.3FAB.C0DE"},  // any non-zero value counts
    };
    for (const auto& c : cases) {
        AppSettings s;
        s.setMacUpperCase(c.upper);
        s.setMacSeparatorStyle(c.dotted);
        char out[kMacTextSize];
        EXPECT_STREQ(FormatMac(mac, s, out), c.text);
    }
    AppSettings fresh;  // the default text: upper case, six pairs
    char out[kMacTextSize];
    EXPECT_STREQ(FormatMac(mac, fresh, out), "00-12-3F-AB-C0-DE");
}

TEST(FormatEventTime, LocalTimeWithEnglishWeekday) {
    std::setlocale(LC_ALL, "C.UTF-8");
    char out[kEventTimeTextSize];
    EXPECT_EQ(FormatEventTime(1580807103, out), 0);  // TZ is UTC in tests
    EXPECT_STREQ(out, "Tue, 2020-02-04 09:05:03");
    FormatEventTime(0, out);
    EXPECT_STREQ(out, "Thu, 1970-01-01 00:00:00");
    setenv("TZ", "UTC-2", 1);  // two hours east
    tzset();
    FormatEventTime(1580807103, out);
    EXPECT_STREQ(out, "Tue, 2020-02-04 11:05:03");
    setenv("TZ", "UTC", 1);
    tzset();
}

}  // namespace
}  // namespace quorvane
