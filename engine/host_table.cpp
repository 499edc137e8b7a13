#include "engine/host_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/vendor_table.h"

namespace quorvane {

namespace {

// The persisted host record: offsets of its fields.
constexpr size_t kRecFamily = 0;        // 2, little-endian
constexpr size_t kRecPort = 2;          // 2, network order
constexpr size_t kRecAddress = 4;       // 4, network order
constexpr size_t kRecAddressZero = 8;   // 8
constexpr size_t kRecMac = 16;          // 6
constexpr size_t kRecFlags = 22;        // 4, little-endian
constexpr size_t kRecFirstFound = 26;   // 8, little-endian
constexpr size_t kRecStartup = 34;      // 8
constexpr size_t kRecShutdown = 42;     // 8
constexpr size_t kRecReserved1 = 50;    // 10
constexpr size_t kRecHostName = 60;     // 18
constexpr size_t kRecDescription = 78;  // 88
constexpr size_t kRecUserName = 166;    // 18
constexpr size_t kRecGroupName = 184;   // 18
constexpr size_t kRecReserved2 = 202;   // 64
constexpr size_t kRecReplyLength = 266; // 2, little-endian
static_assert(kRecReplyLength + 2 == kHostRecordSize);

constexpr size_t kCountSize = 4;          // record count ahead of the records
constexpr size_t kSaveEstimate = 1296;    // bytes per host the store's headroom assumes
constexpr size_t kSaveSlack = 32768;      // room wanted beyond the estimate
constexpr size_t kSaveGrowth = 65536;     // growth beyond the estimate when room is short
constexpr uint32_t kKnownFlags = kHostStateMask | kHostListed | kHostStartupPending;

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe64(uint8_t* p, int64_t value) {
    const auto v = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t GetLe32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
int64_t GetLe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return static_cast<int64_t>(v);
}

void FormatIpText(uint32_t networkOrder, char (&out)[20]) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

// REQUIRES: the engine mutex is held (the saved reply and names are shared with the receiver).
void WriteRecord(const HostEntry& h, uint32_t address, uint8_t* rec) {
    std::memset(rec, 0, kHostRecordSize);
    PutLe16(rec + kRecFamily, h.family);
    std::memcpy(rec + kRecPort, &h.port, 2);
    std::memcpy(rec + kRecAddress, &address, 4);
    std::memcpy(rec + kRecAddressZero, h.addressZero.data(), 8);
    std::memcpy(rec + kRecMac, h.mac.data(), 6);
    PutLe32(rec + kRecFlags, h.flags.load(std::memory_order_relaxed));
    PutLe64(rec + kRecFirstFound, h.firstFoundTime);
    PutLe64(rec + kRecStartup, h.startupTime);
    PutLe64(rec + kRecShutdown, h.shutdownTime);
    std::memcpy(rec + kRecReserved1, h.reserved1.data(), h.reserved1.size());
    std::memcpy(rec + kRecHostName, h.hostName.data(), h.hostName.size());
    std::memcpy(rec + kRecDescription, h.description.data(), h.description.size());
    std::memcpy(rec + kRecUserName, h.userName.data(), h.userName.size());
    std::memcpy(rec + kRecGroupName, h.groupName.data(), h.groupName.size());
    std::memcpy(rec + kRecReserved2, h.reserved2.data(), h.reserved2.size());
    PutLe16(rec + kRecReplyLength, h.savedReply ? h.savedReplyLength : 0);
}

// Copies a record's persisted fields into a fresh entry (its address is published by the caller).
void ReadRecord(HostEntry& h, const uint8_t* rec) {
    h.family = GetLe16(rec + kRecFamily);
    std::memcpy(&h.port, rec + kRecPort, 2);
    std::memcpy(h.addressZero.data(), rec + kRecAddressZero, 8);
    std::memcpy(h.mac.data(), rec + kRecMac, 6);
    // Bits without a meaning are kept clear, as the program always writes them.
    h.flags.store(GetLe32(rec + kRecFlags) & kKnownFlags, std::memory_order_relaxed);
    h.firstFoundTime = GetLe64(rec + kRecFirstFound);
    h.startupTime = GetLe64(rec + kRecStartup);
    h.shutdownTime = GetLe64(rec + kRecShutdown);
    std::memcpy(h.reserved1.data(), rec + kRecReserved1, h.reserved1.size());
    std::memcpy(h.hostName.data(), rec + kRecHostName, h.hostName.size());
    std::memcpy(h.description.data(), rec + kRecDescription, h.description.size());
    std::memcpy(h.userName.data(), rec + kRecUserName, h.userName.size());
    std::memcpy(h.groupName.data(), rec + kRecGroupName, h.groupName.size());
    std::memcpy(h.reserved2.data(), rec + kRecReserved2, h.reserved2.size());
    // Stored texts are untrusted: keep every one terminated inside its field.
    h.hostName[15] = 0;
    h.userName[15] = 0;
    h.groupName[15] = 0;
    h.description.back() = 0;
}

}  // namespace

// --- HostEntry -------------------------------------------------------------------------------

HostEntry::HostEntry() { Reset(); }

void HostEntry::setState(HostState s) {
    uint32_t old = flags.load(std::memory_order_relaxed);
    while (!flags.compare_exchange_weak(old, (old & ~kHostStateMask) | static_cast<uint32_t>(s),
                                        std::memory_order_acq_rel, std::memory_order_relaxed)) {
    }
}

void HostEntry::setFlagBits(uint32_t bits, bool on) {
    if (on)
        flags.fetch_or(bits, std::memory_order_acq_rel);
    else
        flags.fetch_and(~bits, std::memory_order_acq_rel);
}

NbName HostEntry::Name15(const NameField& f) {
    NbName n;
    std::memcpy(n.data(), f.data(), n.size());
    return n;
}

void HostEntry::SetName15(NameField& f, const NbName& name) {
    std::memcpy(f.data(), name.data(), name.size());
    f[15] = 0;
}

StoredNames HostEntry::storedNames() const {
    StoredNames s;
    s.groupName = Name15(groupName);
    s.hostName = Name15(hostName);
    s.userName = Name15(userName);
    s.mac = mac;
    return s;
}

void HostEntry::Reset() {
    family = 2;
    port = 0;
    address.store(0, std::memory_order_release);
    addressZero.fill(0);
    mac.fill(0);
    flags.store(0, std::memory_order_release);
    firstFoundTime = startupTime = shutdownTime = 0;
    reserved1.fill(0);
    reserved1[8] = 1;  // little-endian 65536 in the last four bytes
    hostName.fill(0);
    description.fill(0);
    userName.fill(0);
    groupName.fill(0);
    reserved2.fill(0);
    savedReplyLength = 0;
    savedReply.reset();
    savedReplyCapacity = 0;
    row = 0;
    nameDisplayLengths.fill(0);
    pending = {};
    vendor = nullptr;
    selectionMarker = false;
    listImage = 2;
    std::memset(ipText, 0, sizeof ipText);
    std::memset(macText, 0, sizeof macText);
    priorSendTick = lastSendTick = replyTick = 0;
    queryIntervalMs = 1000;
    replyTimeoutMs = 2000;
    streak = 0;
}

// --- HostTable -------------------------------------------------------------------------------

HostTable::HostTable() : slots_(new HostEntry[kHostSlots]) {
    for (size_t i = 0; i < kHostSlots; ++i) slots_[i].slotIndex = static_cast<uint16_t>(i);
    slotOfAddress_.reserve(kHostSlots);
}

uint32_t HostTable::IndexOf(const HostEntry& host) const {
    const HostEntry* base = slots_.get();
    if (&host < base || &host >= base + kHostSlots) return kNoSlot;
    return static_cast<uint32_t>(&host - base);
}

void HostTable::MarkFree(uint32_t slot) {
    freeBits_[slot / 64] |= uint64_t{1} << (slot % 64);
    freeWords_[slot / 4096] |= uint64_t{1} << (slot / 64 % 64);
}

void HostTable::MarkUsed(uint32_t slot) {
    uint64_t& word = freeBits_[slot / 64];
    word &= ~(uint64_t{1} << (slot % 64));
    if (word == 0) freeWords_[slot / 4096] &= ~(uint64_t{1} << (slot / 64 % 64));
}

uint32_t HostTable::LowestFree() const {
    for (size_t top = 0; top < freeWords_.size(); ++top) {
        if (freeWords_[top] == 0) continue;
        const size_t w = top * 64 + static_cast<size_t>(std::countr_zero(freeWords_[top]));
        return static_cast<uint32_t>(w * 64 + static_cast<size_t>(std::countr_zero(freeBits_[w])));
    }
    return kNoSlot;
}

void HostTable::FillSlot(uint32_t slot, uint32_t address) {
    HostEntry& h = slots_[slot];
    {
        std::lock_guard lock(mutex_);
        h.Reset();  // a freed slot keeps its old text and vendor; a new host starts fresh
        h.port = htons(kNbnsPort);
        FormatIpText(address, h.ipText);
        if (h.slotIndex != slot) h.slotIndex = static_cast<uint16_t>(slot);  // constant: no needless store
        h.address.store(address, std::memory_order_release);
    }
    slotOfAddress_.emplace(address, static_cast<uint16_t>(slot));
    ++occupiedCount_;
    const uint32_t hw = highWater_.load(std::memory_order_relaxed);
    if (slot >= hw) highWater_.store(slot + 1, std::memory_order_release);
}

int HostTable::ApplySegments(std::vector<IpSegment>& segments, size_t first, size_t count) {
    first = std::min(first, segments.size());
    count = std::min(count, segments.size() - first);
    const std::span<IpSegment> range(segments.data() + first, count);
    for (IpSegment& seg : range)
        if (ntohl(seg.first) > ntohl(seg.end)) std::swap(seg.first, seg.end);

    for (const IpSegment& seg : range) {
        const uint32_t s = ntohl(seg.first);
        const uint32_t e = ntohl(seg.end);
        // Counted wide: 0.0.0.0 - 255.255.255.255 must not wrap round to a small number.
        if (uint64_t{occupiedCount_} + (e - s) >= kHostSlots) return -1;
        for (uint64_t a = s; a <= e; ++a) {
            // Address 0 marks a free slot, so 0.0.0.0 cannot be monitored.
            if (a == 0) continue;
            const uint32_t net = htonl(static_cast<uint32_t>(a));
            if (slotOfAddress_.contains(net)) continue;
            uint32_t slot = LowestFree();
            if (slot == kNoSlot) {
                slot = highWater_.load(std::memory_order_relaxed);
            } else {
                MarkUsed(slot);
            }
            // The capacity check leaves room for every address of the segment.
            FillSlot(slot, net);
        }
    }
    return static_cast<int>(highWater_.load(std::memory_order_relaxed));
}

void HostTable::RemoveRow(HostEntry& host, uint32_t slot, HostListSink* list) {
    uint32_t row = static_cast<uint32_t>(host.row);
    if (row >= rowCount_ || rowOrder_[row] != slot) {
        // The row number went stale: find the slot in the order instead.
        row = kNoSlot;
        for (uint32_t r = 0; r < rowCount_; ++r)
            if (rowOrder_[r] == slot) row = r;
    }
    if (row != kNoSlot) {
        if (list) list->DeleteHostRow(static_cast<int>(row));
        for (uint32_t r = row; r + 1 < rowCount_; ++r) {
            rowOrder_[r] = rowOrder_[r + 1];
            slots_[rowOrder_[r]].row = static_cast<int32_t>(r);
        }
        --rowCount_;
    }
    host.setFlagBits(kHostListed, false);
}

int HostTable::RemoveHost(HostEntry& host, bool freeSlot, HostListSink* list) {
    const uint32_t slot = IndexOf(host);
    if (slot == kNoSlot) return -1;
    const uint32_t address = host.ipv4();
    if (address == 0) return -1;

    if (host.listed()) RemoveRow(host, slot, list);
    {
        std::lock_guard lock(mutex_);
        if (freeSlot) host.address.store(0, std::memory_order_release);
        host.flags.store(0, std::memory_order_release);  // Down, not listed, nothing pending
        host.selectionMarker = false;
        host.streak = 0;
        host.firstFoundTime = host.startupTime = host.shutdownTime = 0;
        host.groupName.fill(0);
        host.userName.fill(0);
        host.hostName.fill(0);
        host.description.fill(0);
        std::memset(host.macText, 0, sizeof host.macText);
        host.mac.fill(0);
        host.pending = {};
        host.priorSendTick = host.replyTick = host.lastSendTick = 0;
        host.savedReply.reset();
        host.savedReplyLength = 0;
        host.savedReplyCapacity = 0;
    }
    if (freeSlot) {
        slotOfAddress_.erase(address);
        --occupiedCount_;
        const uint32_t hw = highWater_.load(std::memory_order_relaxed);
        if (slot + 1 == hw) {
            uint32_t lowered = slot;
            while (lowered > 0 && slots_[lowered - 1].ipv4() == 0) {
                --lowered;
                MarkUsed(lowered);  // no longer below highWater, so no longer a free slot
            }
            highWater_.store(lowered, std::memory_order_release);
        } else {
            MarkFree(slot);
        }
    }
    return 0;
}

void HostTable::BuildRows(HostListSink& list) {
    rowCount_ = 0;
    const uint32_t hw = highWater_.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < hw; ++i) {
        HostEntry& h = slots_[i];
        if (h.slotIndex != i) h.slotIndex = static_cast<uint16_t>(i);  // constant: no needless store
        if (!h.listed()) continue;
        h.row = static_cast<int32_t>(rowCount_);
        rowOrder_[rowCount_] = static_cast<uint16_t>(i);
        switch (h.state()) {
            case HostState::Up: h.listImage = 0; break;
            case HostState::Answering:
            case HostState::Missing: h.listImage = 1; break;
            case HostState::Down: h.listImage = 2; break;
        }
        ++rowCount_;
        list.AddHostRow(h);
    }
}

void HostTable::AppendRow(HostEntry& host, HostListSink& list) {
    const uint32_t slot = IndexOf(host);
    if (slot == kNoSlot || rowCount_ >= kHostSlots) return;
    host.setFlagBits(kHostListed, true);
    host.row = static_cast<int32_t>(rowCount_);
    rowOrder_[rowCount_] = static_cast<uint16_t>(slot);
    host.listImage = 1;
    ++rowCount_;
    list.AddHostRow(host);
}

HostEntry* HostTable::FindByReply(uint16_t transactionId, uint32_t sourceAddress) {
    HostEntry& h = slots_[transactionId];
    if (sourceAddress == 0 || h.ipv4() != sourceAddress) return nullptr;
    return &h;
}

bool HostTable::SaveHosts(StreamBuffer& out) {
    const size_t start = out.used();
    const size_t occupied = occupiedCount_;
    // The store's estimate first, as every record's headroom is made.
    if (out.room() < occupied * kSaveEstimate + kSaveSlack)
        out.Grow(out.capacity() + occupied * kSaveEstimate + kSaveGrowth);

    // A saved reply may be up to 1500 bytes, so the estimate is no bound: size the payload.
    const uint32_t hw = highWater_.load(std::memory_order_relaxed);
    size_t need = kCountSize;
    for (uint32_t i = 0; i < hw; ++i) {
        const HostEntry& h = slots_[i];
        if (h.ipv4() == 0) continue;
        std::lock_guard lock(mutex_);
        need += kHostRecordSize + (h.savedReply ? h.savedReplyLength : 0);
    }
    if (out.room() < need && !out.Grow(start + need)) return false;

    uint8_t header[kCountSize] = {};
    out.Append(header, sizeof header);
    uint32_t written = 0;
    uint8_t rec[kHostRecordSize];
    for (uint32_t i = 0; i < hw && written < occupied; ++i) {
        HostEntry& h = slots_[i];
        const uint32_t address = h.ipv4();
        if (address == 0) continue;
        std::lock_guard lock(mutex_);
        WriteRecord(h, address, rec);
        const size_t replyLength = h.savedReply ? h.savedReplyLength : 0;
        // The receiver may have kept a longer reply since the sizing: grow, or give up cleanly.
        if (!out.AppendGrowing(rec, sizeof rec) ||
            (replyLength && !out.AppendGrowing(h.savedReply.get(), replyLength))) {
            out.SetUsed(start);
            return false;
        }
        ++written;
    }
    PutLe32(out.data() + start, written);
    return true;
}

void HostTable::ClearTable() {
    const uint32_t hw = highWater_.load(std::memory_order_relaxed);
    for (uint32_t i = hw; i-- > 0;) {
        {
            std::lock_guard lock(mutex_);
            slots_[i].Reset();
        }
        highWater_.store(i, std::memory_order_release);
    }
    highWater_.store(0, std::memory_order_release);
    occupiedCount_ = 0;
    rowCount_ = 0;
    slotOfAddress_.clear();
    freeBits_.fill(0);
    freeWords_.fill(0);
}

uint32_t HostTable::LoadHosts(std::span<const uint8_t> payload) {
    // Without its record count the payload is no host chunk: the table stays as it is.
    if (payload.size() < kCountSize) return 0;
    ClearTable();
    const uint32_t count = GetLe32(payload.data());
    const size_t records = std::min<size_t>(count, kHostSlots);
    size_t pos = kCountSize;
    uint32_t loaded = 0;
    for (size_t k = 0; k < records; ++k) {
        if (payload.size() - pos < kHostRecordSize) break;
        const uint8_t* rec = payload.data() + pos;
        const size_t replyLength = GetLe16(rec + kRecReplyLength);
        // A reply longer than any datagram the receiver keeps, or one cut off, ends the load.
        if (replyLength > kMaxSavedReply || payload.size() - pos - kHostRecordSize < replyLength) break;
        pos += kHostRecordSize + replyLength;

        uint32_t address;
        std::memcpy(&address, rec + kRecAddress, 4);
        // Address 0 would be a free slot, and a second slot for one address would split its
        // replies: such records are skipped, the first record of an address wins.
        if (address == 0 || slotOfAddress_.contains(address)) continue;

        HostEntry& h = slots_[loaded];
        {
            std::lock_guard lock(mutex_);
            h.Reset();
            ReadRecord(h, rec);
            if (replyLength) {
                h.savedReply.reset(new (std::nothrow) uint8_t[replyLength]);
                if (h.savedReply) {
                    std::memcpy(h.savedReply.get(), rec + kHostRecordSize, replyLength);
                    h.savedReplyLength = static_cast<uint16_t>(replyLength);
                    h.savedReplyCapacity = static_cast<uint32_t>(replyLength);
                }
            }
            FormatIpText(address, h.ipText);
            h.vendor = LookupVendor(h.mac);
            if (h.slotIndex != loaded) h.slotIndex = static_cast<uint16_t>(loaded);
            h.address.store(address, std::memory_order_release);
        }
        slotOfAddress_.emplace(address, static_cast<uint16_t>(loaded));
        ++loaded;
        ++occupiedCount_;
        highWater_.store(loaded, std::memory_order_release);
    }
    return loaded;
}

}  // namespace quorvane
