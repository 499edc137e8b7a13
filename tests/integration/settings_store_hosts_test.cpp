// The settings store with the engine's host table: a populated table goes to the registry file
// with the settings and comes back slot by slot.

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/host_table.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "settings/settings_store.h"
#include "tests/support/test_env.h"

namespace quorvane {
namespace {

void SetName(NameField& f, const char* name) {
    std::memset(f.data(), ' ', 15);
    std::memcpy(f.data(), name, std::strlen(name));
    f[15] = 0;
}

TEST(SettingsStoreWithHostTable, APopulatedTableComesBackSlotBySlot) {
    auto table = std::make_unique<HostTable>();
    std::vector<IpSegment> segs(1);
    segs[0].first = Ipv4(10, 9, 0, 1);
    segs[0].end = Ipv4(10, 9, 0, 8);
    ASSERT_EQ(table->ApplySegments(segs, 0, 1), 8);
    // Slots 1 and 5 freed: the saved table closes up the gaps.
    table->RemoveHost(table->slot(1), true, nullptr);
    table->RemoveHost(table->slot(5), true, nullptr);
    for (size_t i = 0; i < 8; ++i) {
        HostEntry& h = table->slot(i);
        if (h.ipv4() == 0) continue;
        h.mac = {0x00, 0x1B, 0x21, 0x00, 0x00, static_cast<uint8_t>(i)};
        h.setState(i % 2 ? HostState::Up : HostState::Down);
        h.setFlagBits(kHostListed, i != 3);
        h.firstFoundTime = 1700000000 + static_cast<int64_t>(i);
        h.startupTime = 1700001000 + static_cast<int64_t>(i);
        h.shutdownTime = i == 4 ? 0 : 1700002000;
        SetName(h.hostName, "WS");
        SetName(h.groupName, "WORKGROUP");
        SetName(h.userName, "ALICE");
        std::snprintf(h.description.data(), h.description.size(), "desk %zu", i);
        h.reserved2[7] = static_cast<uint8_t>(i);
        if (i != 6) {
            const uint16_t len = static_cast<uint16_t>(100 + i * 50);
            h.savedReply.reset(new uint8_t[len]);
            for (uint16_t b = 0; b < len; ++b) h.savedReply[b] = static_cast<uint8_t>(b ^ i);
            h.savedReplyLength = len;
            h.savedReplyCapacity = len;
        }
    }

    const std::string path = (test::TempHome() / "hosts-roundtrip" / "registry.reg").string();
    FileRegistry reg(path);
    AppSettings settings;
    settings.segments = segs;
    ASSERT_EQ(SettingsStore(settings, table.get(), reg).SaveSettings(), 1);

    auto loaded = std::make_unique<HostTable>();
    AppSettings back;
    ASSERT_EQ(SettingsStore(back, loaded.get(), reg).LoadSettings(), 0);
    EXPECT_EQ(back.segments, settings.segments);
    ASSERT_EQ(loaded->occupiedCount(), 6u);
    ASSERT_EQ(loaded->highWater(), 6u);
    size_t k = 0;
    for (size_t i = 0; i < 8; ++i) {
        const HostEntry& a = table->slot(i);
        if (a.ipv4() == 0) continue;
        SCOPED_TRACE(i);
        const HostEntry& b = loaded->slot(k++);
        EXPECT_EQ(b.ipv4(), a.ipv4());
        EXPECT_EQ(b.port, htons(137));
        EXPECT_EQ(b.mac, a.mac);
        EXPECT_EQ(b.flags.load(), a.flags.load());
        EXPECT_EQ(b.firstFoundTime, a.firstFoundTime);
        EXPECT_EQ(b.startupTime, a.startupTime);
        EXPECT_EQ(b.shutdownTime, a.shutdownTime);
        EXPECT_EQ(b.reserved1, a.reserved1);
        EXPECT_EQ(b.hostName, a.hostName);
        EXPECT_EQ(b.groupName, a.groupName);
        EXPECT_EQ(b.userName, a.userName);
        EXPECT_EQ(b.description, a.description);
        EXPECT_EQ(b.reserved2, a.reserved2);
        ASSERT_EQ(b.savedReplyLength, a.savedReply ? a.savedReplyLength : 0);
        if (b.savedReplyLength) {
            EXPECT_EQ(std::memcmp(b.savedReply.get(), a.savedReply.get(), a.savedReplyLength), 0);
        }
        EXPECT_STREQ(b.ipText, a.ipText);
    }
}

}  // namespace
}  // namespace quorvane
