#include "engine/host_table.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/vendor_table.h"
#include "platform/net.h"
#include "tests/support/recording_target.h"

namespace quorvane {
namespace {

using test::RecordingList;
using Bytes = std::vector<uint8_t>;

// A segment from two addresses in host byte order.
IpSegment Seg(uint32_t first, uint32_t end) {
    IpSegment s;
    s.first = htonl(first);
    s.end = htonl(end);
    return s;
}

constexpr uint32_t kNet10 = 0x0A000000;  // 10.0.0.0, host order

int Apply(HostTable& t, std::vector<IpSegment> segs) { return t.ApplySegments(segs, 0, segs.size()); }

uint32_t Le32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

// A persisted host record built by hand from the documented offsets.
Bytes Record(uint32_t address, const Bytes& reply = {}, uint32_t flags = 0, uint16_t declaredLength = 0xFFFF) {
    Bytes r(kHostRecordSize, 0);
    r[0] = 2;
    r[3] = 137;
    std::memcpy(&r[4], &address, 4);
    for (int i = 0; i < 4; ++i) r[22 + i] = static_cast<uint8_t>(flags >> (8 * i));
    r[58] = 1;  // reserved value 65536
    std::memcpy(&r[60], "WS              ", 15);
    const uint16_t len = declaredLength == 0xFFFF ? static_cast<uint16_t>(reply.size()) : declaredLength;
    r[266] = static_cast<uint8_t>(len);
    r[267] = static_cast<uint8_t>(len >> 8);
    r.insert(r.end(), reply.begin(), reply.end());
    return r;
}

Bytes Payload(uint32_t count, const std::vector<Bytes>& records) {
    Bytes p(4);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(count >> (8 * i));
    for (const Bytes& r : records) p.insert(p.end(), r.begin(), r.end());
    return p;
}

Bytes Save(HostTable& t) {
    StreamBuffer out;
    EXPECT_TRUE(t.SaveHosts(out));
    return Bytes(out.bytes().begin(), out.bytes().end());
}

TEST(HostTable, FreshEntriesAndAReversedSegment) {
    auto t = std::make_unique<HostTable>();
    const HostEntry& fresh = t->slot(65535);
    EXPECT_EQ(fresh.family, 2);
    EXPECT_EQ(fresh.ipv4(), 0u);
    EXPECT_EQ(fresh.reserved1, (std::array<uint8_t, 10>{0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(fresh.queryIntervalMs, 1000u);
    EXPECT_EQ(fresh.replyTimeoutMs, 2000u);
    EXPECT_EQ(fresh.state(), HostState::Down);
    EXPECT_FALSE(fresh.listed());
    EXPECT_EQ(fresh.slotIndex, 65535);

    std::vector<IpSegment> segs{Seg(kNet10 + 50, kNet10 + 40)};
    EXPECT_EQ(t->ApplySegments(segs, 0, 1), 11);
    EXPECT_EQ(segs[0].first, Ipv4(10, 0, 0, 40));  // stored swapped
    EXPECT_EQ(segs[0].end, Ipv4(10, 0, 0, 50));
    EXPECT_EQ(t->occupiedCount(), 11u);
    const HostEntry& h = t->slot(10);
    EXPECT_EQ(h.ipv4(), Ipv4(10, 0, 0, 50));
    EXPECT_STREQ(h.ipText, "10.0.0.50");
    EXPECT_EQ(h.port, htons(137));
    EXPECT_EQ(h.family, 2);
    EXPECT_EQ(h.slotIndex, 10);
    EXPECT_EQ(h.state(), HostState::Down);
    EXPECT_FALSE(h.listed());

    EXPECT_EQ(t->FindByReply(10, Ipv4(10, 0, 0, 50)), &t->slot(10));
    EXPECT_EQ(t->FindByReply(10, Ipv4(10, 0, 0, 49)), nullptr);
    EXPECT_EQ(t->FindByReply(500, 0), nullptr);
}

TEST(HostTable, OverlappingSegmentsAndTheAddressZero) {
    auto t = std::make_unique<HostTable>();
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 1, kNet10 + 20), Seg(kNet10 + 10, kNet10 + 30), Seg(kNet10 + 5, kNet10 + 5)}), 30);
    EXPECT_EQ(t->occupiedCount(), 30u);
    // Applying again finds every address in its slot.
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 30, kNet10 + 1)}), 30);
    for (uint32_t i = 0; i < 30; ++i) EXPECT_EQ(t->slot(i).ipv4(), htonl(kNet10 + 1 + i));

    // 0.0.0.0 would read as a free slot: it gets none.
    auto z = std::make_unique<HostTable>();
    EXPECT_EQ(Apply(*z, {Seg(0, 2)}), 2);
    EXPECT_EQ(z->slot(0).ipv4(), Ipv4(0, 0, 0, 1));
}

TEST(HostTable, CapacityRefusesTheSegmentThatWouldFillTheTable) {
    auto t = std::make_unique<HostTable>();
    ASSERT_EQ(Apply(*t, {Seg(kNet10, kNet10 + 64999)}), 65000);
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 0x20000, kNet10 + 0x20000 + 599)}), -1);  // 65000 + 599 >= 65536
    EXPECT_EQ(t->occupiedCount(), 65000u);
    // Segments before the refused one stay applied.
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 0x30000, kNet10 + 0x30000 + 9), Seg(kNet10 + 0x20000, kNet10 + 0x20000 + 599)}), -1);
    EXPECT_EQ(t->occupiedCount(), 65010u);
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 0x20000, kNet10 + 0x20000 + 499)}), 65510);

    // The whole address space must not wrap round the unsigned sum and be accepted.
    EXPECT_EQ(Apply(*t, {Seg(0, 0xFFFFFFFF)}), -1);
    EXPECT_EQ(t->occupiedCount(), 65510u);
}

TEST(HostTable, FreeingTrimsHighWaterAndFreedSlotsAreReused) {
    auto t = std::make_unique<HostTable>();
    ASSERT_EQ(Apply(*t, {Seg(kNet10 + 1, kNet10 + 5)}), 5);
    EXPECT_EQ(t->RemoveHost(t->slot(3), true, nullptr), 0);
    EXPECT_EQ(t->highWater(), 5u);
    EXPECT_EQ(t->RemoveHost(t->slot(4), true, nullptr), 0);
    EXPECT_EQ(t->highWater(), 3u);
    EXPECT_EQ(t->occupiedCount(), 3u);
    EXPECT_EQ(t->RemoveHost(t->slot(4), true, nullptr), -1);  // already free

    ASSERT_EQ(t->RemoveHost(t->slot(1), true, nullptr), 0);
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 9, kNet10 + 10)}), 4);
    EXPECT_EQ(t->slot(1).ipv4(), htonl(kNet10 + 9));
    EXPECT_EQ(t->slot(3).ipv4(), htonl(kNet10 + 10));
    // A freed address is forgotten: applying it again gives it a new slot.
    EXPECT_EQ(Apply(*t, {Seg(kNet10 + 2, kNet10 + 2)}), 5);
    EXPECT_EQ(t->slot(4).ipv4(), htonl(kNet10 + 2));
}

TEST(HostTable, DeletingAListedHostKeepsTheAddressAndMovesLaterRowsUp) {
    auto t = std::make_unique<HostTable>();
    RecordingList list;
    ASSERT_EQ(Apply(*t, {Seg(kNet10 + 1, kNet10 + 4)}), 4);
    for (size_t i = 0; i < 4; ++i) t->AppendRow(t->slot(i), list);
    ASSERT_EQ(t->rowCount(), 4u);
    HostEntry& h = t->slot(1);
    EXPECT_TRUE(h.listed());
    EXPECT_EQ(h.listImage, 1u);
    HostEntry::SetName15(h.hostName, MakeNbName("WS1"));
    HostEntry::SetName15(h.groupName, MakeNbName("OFFICE"));
    HostEntry::SetName15(h.userName, MakeNbName("ALICE"));
    std::strcpy(h.description.data(), "printer room");
    h.mac = {0, 0, 0x0C, 1, 2, 3};
    h.firstFoundTime = h.startupTime = h.shutdownTime = 99;
    h.priorSendTick = h.lastSendTick = h.replyTick = 7;
    h.streak = 2;
    h.setState(HostState::Up);
    h.savedReply.reset(new uint8_t[3]{1, 2, 3});
    h.savedReplyLength = 3;
    h.savedReplyCapacity = 3;
    list.calls.clear();

    ASSERT_EQ(t->RemoveHost(h, false, &list), 0);
    EXPECT_EQ(h.ipv4(), htonl(kNet10 + 2));
    EXPECT_STREQ(h.ipText, "10.0.0.2");
    EXPECT_FALSE(h.listed());
    EXPECT_EQ(h.state(), HostState::Down);
    EXPECT_EQ(h.hostName[0], 0);
    EXPECT_EQ(h.groupName[0], 0);
    EXPECT_EQ(h.userName[0], 0);
    EXPECT_EQ(h.description[0], 0);
    EXPECT_EQ(h.mac, MacAddress{});
    EXPECT_EQ(h.firstFoundTime + h.startupTime + h.shutdownTime, 0);
    EXPECT_EQ(h.priorSendTick + h.lastSendTick + h.replyTick + h.streak, 0u);
    EXPECT_EQ(h.savedReply, nullptr);
    EXPECT_EQ(h.savedReplyLength + h.savedReplyCapacity, 0u);
    EXPECT_EQ(t->occupiedCount(), 4u);

    ASSERT_EQ(list.calls.size(), 1u);
    EXPECT_EQ(list.calls[0].what, "delete");
    EXPECT_EQ(list.calls[0].row, 1);
    EXPECT_EQ(t->rowCount(), 3u);
    EXPECT_EQ(std::vector<uint16_t>(t->rowOrder().begin(), t->rowOrder().end()), (std::vector<uint16_t>{0, 2, 3}));
    EXPECT_EQ(t->slot(0).row, 0);
    EXPECT_EQ(t->slot(2).row, 1);
    EXPECT_EQ(t->slot(3).row, 2);

    // Freeing the last listed slot takes its row and the top slot.
    ASSERT_EQ(t->RemoveHost(t->slot(3), true, &list), 0);
    EXPECT_EQ(list.calls.back().row, 2);
    EXPECT_EQ(t->rowCount(), 2u);
    EXPECT_EQ(t->highWater(), 3u);
}

// The slot assignment written as the plain walk over the table, for comparison.
struct ReferenceTable {
    std::vector<uint32_t> address = std::vector<uint32_t>(kHostSlots, 0);
    uint32_t highWater = 0;
    uint32_t occupied = 0;

    int Apply(std::vector<IpSegment>& segs) {
        for (IpSegment& s : segs)
            if (ntohl(s.first) > ntohl(s.end)) std::swap(s.first, s.end);
        for (const IpSegment& seg : segs) {
            const uint32_t s = ntohl(seg.first), e = ntohl(seg.end);
            if (uint64_t{occupied} + (e - s) >= kHostSlots) return -1;
            for (uint64_t a = s; a <= e; ++a) {
                const uint32_t net = htonl(static_cast<uint32_t>(a));
                uint32_t slot = highWater;
                bool found = false;
                for (uint32_t i = 0; i < highWater; ++i) {
                    if (address[i] == net) {
                        found = true;
                        break;
                    }
                    if (address[i] == 0 && slot == highWater) slot = i;
                }
                if (found) continue;
                ++occupied;
                address[slot] = net;
                if (slot == highWater) ++highWater;
            }
        }
        return static_cast<int>(highWater);
    }
    void Free(uint32_t slot) {
        address[slot] = 0;
        --occupied;
        if (slot + 1 == highWater)
            while (highWater > 0 && address[highWater - 1] == 0) --highWater;
    }
    void Compact() {  // a save and load
        std::vector<uint32_t> kept(kHostSlots, 0);
        uint32_t n = 0;
        for (uint32_t i = 0; i < highWater; ++i)
            if (address[i]) kept[n++] = address[i];
        address = kept;
        highWater = n;
    }
};

TEST(HostTable, SlotAssignmentMatchesThePlainWalk) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        auto t = std::make_unique<HostTable>();
        auto ref = std::make_unique<ReferenceTable>();
        auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
        for (int op = 0; op < 300; ++op) {
            const uint32_t kind = pick(10);
            if (kind < 5) {
                std::vector<IpSegment> segs;
                for (uint32_t n = 1 + pick(3); n > 0; --n) {
                    const uint32_t a = kNet10 + 1 + pick(400);
                    const uint32_t b = a + pick(40);
                    segs.push_back(pick(4) == 0 ? Seg(b, a) : Seg(a, b));  // some entered reversed
                }
                std::vector<IpSegment> refSegs = segs;
                ASSERT_EQ(t->ApplySegments(segs, 0, segs.size()), ref->Apply(refSegs));
                ASSERT_EQ(segs, refSegs);
            } else if (kind < 9) {
                for (uint32_t n = 1 + pick(20); n > 0 && ref->occupied > 0; --n) {
                    uint32_t slot;
                    do slot = pick(ref->highWater);
                    while (ref->address[slot] == 0);
                    ASSERT_EQ(t->RemoveHost(t->slot(slot), true, nullptr), 0);
                    ref->Free(slot);
                }
            } else {
                const Bytes saved = Save(*t);
                ASSERT_EQ(t->LoadHosts(saved), ref->occupied);
                ref->Compact();
            }
            ASSERT_EQ(t->highWater(), ref->highWater) << "op " << op;
            ASSERT_EQ(t->occupiedCount(), ref->occupied);
            for (uint32_t i = 0; i < 512; ++i) ASSERT_EQ(t->slot(i).ipv4(), ref->address[i]) << "slot " << i;
        }
    }
}

TEST(HostTable, SavedGapsCloseUpOnLoad) {
    auto t = std::make_unique<HostTable>();
    ASSERT_EQ(Apply(*t, {Seg(kNet10 + 1, kNet10 + 8)}), 8);
    for (size_t i : {1, 3, 4, 5, 6}) ASSERT_EQ(t->RemoveHost(t->slot(i), true, nullptr), 0);
    const Bytes reply{0x12, 0x34, 0x84, 0x00};
    t->slot(0).savedReply.reset(new uint8_t[4]);
    std::memcpy(t->slot(0).savedReply.get(), reply.data(), 4);
    t->slot(0).savedReplyLength = 4;
    t->slot(0).savedReplyCapacity = 4;
    t->slot(7).mac = {0x00, 0x00, 0x0C, 9, 9, 9};

    const Bytes saved = Save(*t);
    EXPECT_EQ(Le32(saved, 0), 3u);
    EXPECT_EQ(saved.size(), 4 + 3 * kHostRecordSize + 4);

    auto u = std::make_unique<HostTable>();
    ASSERT_EQ(u->LoadHosts(saved), 3u);
    EXPECT_EQ(u->highWater(), 3u);
    EXPECT_EQ(u->occupiedCount(), 3u);
    EXPECT_EQ(u->slot(0).ipv4(), Ipv4(10, 0, 0, 1));
    EXPECT_EQ(u->slot(1).ipv4(), Ipv4(10, 0, 0, 3));
    EXPECT_EQ(u->slot(2).ipv4(), Ipv4(10, 0, 0, 8));
    EXPECT_EQ(Bytes(u->slot(0).savedReply.get(), u->slot(0).savedReply.get() + 4), reply);
    EXPECT_EQ(u->slot(0).savedReplyCapacity, 4u);
    // Without a reply the host still loads, with its address text and vendor.
    EXPECT_EQ(u->slot(2).savedReplyLength, 0);
    EXPECT_EQ(u->slot(2).savedReply, nullptr);
    EXPECT_STREQ(u->slot(2).ipText, "10.0.0.8");
    EXPECT_EQ(u->slot(2).vendor, LookupVendor(u->slot(2).mac));
    EXPECT_NE(u->slot(2).vendor, nullptr);
    EXPECT_EQ(u->slot(2).slotIndex, 2);
    // The index follows the load: the loaded addresses keep their slots, the next one goes on top.
    EXPECT_EQ(Apply(*u, {Seg(kNet10 + 1, kNet10 + 3)}), 4);
    EXPECT_EQ(u->slot(3).ipv4(), Ipv4(10, 0, 0, 2));
}

TEST(HostTable, RecordLayoutAndRoundTrip) {
    auto t = std::make_unique<HostTable>();
    ASSERT_EQ(Apply(*t, {Seg(0xC0A80105, 0xC0A80106)}), 2);  // 192.168.1.5 - 6
    HostEntry& h = t->slot(1);
    h.mac = {0x00, 0x00, 0x0C, 0xAB, 0xCD, 0xEF};
    h.flags = kHostListed | kHostStartupPending | static_cast<uint32_t>(HostState::Missing);
    h.firstFoundTime = 0x0102030405060708;
    h.startupTime = -2;
    h.shutdownTime = 1580807103;
    for (size_t i = 0; i < 10; ++i) h.reserved1[i] = static_cast<uint8_t>(0xA0 + i);
    HostEntry::SetName15(h.hostName, MakeNbName("WS1"));
    h.hostName[17] = 0x55;  // unused bytes are kept
    std::strcpy(h.description.data(), "desk 4");
    HostEntry::SetName15(h.userName, MakeNbName("ALICE"));
    HostEntry::SetName15(h.groupName, MakeNbName("OFFICE"));
    for (size_t i = 0; i < 64; ++i) h.reserved2[i] = static_cast<uint8_t>(i);
    h.savedReply.reset(new uint8_t[300]);
    for (size_t i = 0; i < 300; ++i) h.savedReply[i] = static_cast<uint8_t>(i * 7);
    h.savedReplyLength = 300;
    h.savedReplyCapacity = 300;

    const Bytes saved = Save(*t);
    ASSERT_EQ(saved.size(), 4 + 2 * kHostRecordSize + 300);
    EXPECT_EQ(Le32(saved, 0), 2u);
    const uint8_t* r = saved.data() + 4 + kHostRecordSize;
    auto at = [&](size_t off, size_t n) { return Bytes(r + off, r + off + n); };
    EXPECT_EQ(at(0, 16), (Bytes{2, 0, 0, 137, 192, 168, 1, 6, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(at(16, 6), (Bytes{0x00, 0x00, 0x0C, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(at(22, 4), (Bytes{0x1A, 0, 0, 0}));
    EXPECT_EQ(at(26, 8), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(at(34, 8), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(at(42, 8), (Bytes{0xBF, 0x33, 0x39, 0x5E, 0, 0, 0, 0}));
    EXPECT_EQ(at(50, 10), (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 60), 18), std::string("WS1            \0\0\x55", 18));
    EXPECT_STREQ(reinterpret_cast<const char*>(r + 78), "desk 4");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 166), 16), std::string("ALICE          \0", 16));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 184), 16), std::string("OFFICE         \0", 16));
    EXPECT_EQ(r[202 + 63], 63);
    EXPECT_EQ(at(266, 2), (Bytes{0x2C, 0x01}));
    EXPECT_EQ(r[268 + 299], static_cast<uint8_t>(299 * 7));
    // The untouched first slot carries the fresh reserved value 65536 at bytes 56-59.
    EXPECT_EQ(Le32(saved, 4 + 56), 65536u);

    auto u = std::make_unique<HostTable>();
    ASSERT_EQ(u->LoadHosts(saved), 2u);
    EXPECT_EQ(Save(*u), saved);
    EXPECT_EQ(u->slot(1).state(), HostState::Missing);
    EXPECT_TRUE(u->slot(1).listed());
    EXPECT_STREQ(u->slot(1).ipText, "192.168.1.6");
}

TEST(HostTable, BuildRowsListsListedSlotsWithTheirIcons) {
    auto t = std::make_unique<HostTable>();
    const uint32_t up = kHostListed | static_cast<uint32_t>(HostState::Up);
    const uint32_t missing = kHostListed | static_cast<uint32_t>(HostState::Missing);
    ASSERT_EQ(t->LoadHosts(Payload(4, {Record(Ipv4(10, 0, 0, 1), {}, up), Record(Ipv4(10, 0, 0, 2)),
                                       Record(Ipv4(10, 0, 0, 3), {}, missing), Record(Ipv4(10, 0, 0, 4), {}, kHostListed)})),
              4u);
    RecordingList list;
    t->BuildRows(list);
    ASSERT_EQ(t->rowCount(), 3u);
    EXPECT_EQ(std::vector<uint16_t>(t->rowOrder().begin(), t->rowOrder().end()), (std::vector<uint16_t>{0, 2, 3}));
    EXPECT_EQ(t->slot(3).row, 2);
    EXPECT_EQ(t->slot(0).listImage, 0u);
    EXPECT_EQ(t->slot(2).listImage, 1u);
    EXPECT_EQ(t->slot(3).listImage, 2u);
    ASSERT_EQ(list.calls.size(), 3u);
    EXPECT_EQ(list.calls[1].what, "add");
    EXPECT_EQ(list.calls[1].row, 1);
    EXPECT_EQ(list.calls[1].text, "10.0.0.3");
}

TEST(HostTable, UntrustedPayloads) {
    const uint32_t a1 = Ipv4(10, 0, 0, 1), a2 = Ipv4(10, 0, 0, 2), a3 = Ipv4(10, 0, 0, 3);
    const Bytes r1 = Record(a1, Bytes(10, 0xAA)), r2 = Record(a2);
    auto cut = [](Bytes b, size_t n) {
        b.resize(n);
        return b;
    };
    auto manyRecords = [] {
        std::vector<Bytes> recs;
        for (uint32_t k = 0; k <= kHostSlots; ++k) recs.push_back(Record(htonl(0x0B000001 + k)));
        return Payload(static_cast<uint32_t>(recs.size()), recs);
    };
    const struct Case {
        const char* name;
        std::function<Bytes()> payload;
        int loaded;  // -1: the table is left as it was
        std::vector<uint32_t> addresses;
    } cases[] = {
        {"count larger than the records present", [&] { return Payload(5, {r1, r2}); }, 2, {a1, a2}},
        {"count above 65536", [&] { return Payload(0xFFFFFFFF, {r1, r2}); }, 2, {a1, a2}},
        {"65537 records present", manyRecords, static_cast<int>(kHostSlots), {htonl(0x0B000001)}},
        {"count smaller than the records present", [&] { return Payload(1, {r1, r2}); }, 1, {a1}},
        {"reply of 1500 bytes", [&] { return Payload(3, {r1, Record(a3, Bytes(1500, 1)), r2}); }, 3, {a1, a3, a2}},
        {"reply length 1501", [&] { return Payload(3, {r1, Record(a3, Bytes(1501, 1)), r2}); }, 1, {a1}},
        {"reply running past the end", [&] { return Payload(2, {r1, Record(a3, Bytes(50, 1), 0, 100)}); }, 1, {a1}},
        {"record cut short", [&] { return Payload(2, {r1, cut(r2, 200)}); }, 1, {a1}},
        {"address 0 is skipped", [&] { return Payload(3, {r1, Record(0, Bytes(4, 1)), r2}); }, 2, {a1, a2}},
        {"a repeated address is skipped", [&] { return Payload(3, {r1, Record(a1), r2}); }, 2, {a1, a2}},
        {"count 0 empties the table", [&] { return Payload(0, {r1}); }, 0, {}},
        {"payload shorter than 4 bytes", [] { return Bytes{1, 0, 0}; }, -1, {}},
        {"zero-length payload", [] { return Bytes{}; }, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = std::make_unique<HostTable>();
        ASSERT_EQ(Apply(*t, {Seg(0xC0A80001, 0xC0A80005)}), 5);  // what a failed load must keep
        const Bytes payload = c.payload();
        const uint32_t loaded = t->LoadHosts(payload);
        if (c.loaded < 0) {
            EXPECT_EQ(loaded, 0u);
            EXPECT_EQ(t->highWater(), 5u);
            EXPECT_EQ(t->slot(4).ipv4(), Ipv4(192, 168, 0, 5));
            continue;
        }
        EXPECT_EQ(loaded, static_cast<uint32_t>(c.loaded));
        EXPECT_EQ(t->highWater(), loaded);
        EXPECT_EQ(t->occupiedCount(), loaded);
        if (loaded < kHostSlots) {
            EXPECT_EQ(t->slot(loaded).ipv4(), 0u);
        }
        for (size_t i = 0; i < c.addresses.size(); ++i) EXPECT_EQ(t->slot(i).ipv4(), c.addresses[i]) << i;
        // The old hosts are gone from the index as well: applying them fills slots again.
        if (loaded < kHostSlots - 10) {
            EXPECT_EQ(Apply(*t, {Seg(0xC0A80001, 0xC0A80001)}), static_cast<int>(loaded + 1));
        }
    }
}

TEST(HostTable, SaveNeverWritesPastItsBuffer) {
    // 300 replies of 1500 bytes: far more than the 1296 bytes per host the estimate allows.
    auto t = std::make_unique<HostTable>();
    ASSERT_EQ(Apply(*t, {Seg(kNet10 + 1, kNet10 + 300)}), 300);
    for (size_t i = 0; i < 300; ++i) {
        HostEntry& h = t->slot(i);
        h.savedReply.reset(new uint8_t[kMaxSavedReply]);
        std::memset(h.savedReply.get(), static_cast<int>(i), kMaxSavedReply);
        h.savedReplyLength = kMaxSavedReply;
        h.savedReplyCapacity = kMaxSavedReply;
    }
    const size_t payload = 4 + 300 * (kHostRecordSize + kMaxSavedReply);
    const Bytes head{'h', 'e', 'a', 'd'};

    StreamBuffer out;
    ASSERT_TRUE(out.AppendGrowing(head.data(), head.size()));
    ASSERT_TRUE(t->SaveHosts(out));
    EXPECT_EQ(out.used(), head.size() + payload);
    EXPECT_LE(out.used(), out.capacity());
    EXPECT_EQ(out.data()[out.used() - 1], static_cast<uint8_t>(299));

    // Room for the estimate but not for the payload: the chunk is refused, the buffer unchanged.
    StreamBuffer small;
    ASSERT_TRUE(small.AppendGrowing(head.data(), head.size()));
    small.SetAllocationLimit(head.size() + 300 * 1296 + 65536);
    EXPECT_FALSE(t->SaveHosts(small));
    EXPECT_EQ(small.used(), head.size());
    EXPECT_EQ(Bytes(small.data(), small.data() + small.used()), head);
}

TEST(HostTable, ReaderThreadWalksWhileSegmentsChange) {
    auto t = std::make_unique<HostTable>();
    std::atomic<bool> done{false};
    std::atomic<uint32_t> walks{0};
    std::atomic<uint32_t> faults{0};
    std::thread reader([&] {
        while (!done.load()) {
            const uint32_t hw = t->highWater();
            for (uint32_t i = 0; i < hw; ++i) {
                HostEntry& h = t->slot(i);
                if (h.ipv4() == 0) continue;
                (void)h.state();
                (void)h.listed();
                // As the sender does: the entry's other fields only under the engine mutex.
                std::lock_guard lock(t->mutex());
                const uint32_t a = h.ipv4();
                if (a == 0) continue;
                if (h.port != htons(137) || FormatIpv4(a) != h.ipText || h.slotIndex != i) faults.fetch_add(1);
                h.lastSendTick = i + 1;
                ++h.streak;
            }
            walks.fetch_add(1);
        }
    });

    RecordingList list;
    std::mt19937 rng(7);
    ASSERT_GE(Apply(*t, {Seg(kNet10, kNet10 + 100)}), 0);
    const auto start = std::chrono::steady_clock::now();
    while (walks.load() == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int round = 0; round < 2000 && (round < 50 || walks.load() < 20); ++round) {
        if (std::chrono::steady_clock::now() > deadline) break;
        const uint32_t base = kNet10 + (rng() % 64) * 8;
        ASSERT_GE(Apply(*t, {Seg(base, base + 100)}), 0);
        for (int n = 0; n < 40; ++n) {
            const uint32_t hw = t->highWater();
            if (hw == 0) break;
            HostEntry& h = t->slot(rng() % hw);
            if (h.ipv4() != 0) t->RemoveHost(h, rng() % 4 != 0, &list);
        }
    }
    done = true;
    reader.join();
    EXPECT_EQ(faults.load(), 0u);
    EXPECT_GT(walks.load(), 0u);
    // The table is still consistent: every occupied slot below highWater, counted once.
    uint32_t occupied = 0;
    for (uint32_t i = 0; i < kHostSlots; ++i)
        if (t->slot(i).ipv4() != 0) {
            ++occupied;
            EXPECT_LT(i, t->highWater());
        }
    EXPECT_EQ(occupied, t->occupiedCount());
}

}  // namespace
}  // namespace quorvane
