#pragma once
// The host table: 65536 slots, one per monitored IPv4 address; a slot's index is the transaction
// id of its queries.
//
// Thread safety: the UI thread, the probe sender and the reply receiver share the slots. One
// engine mutex (HostTable::mutex()) is held briefly around every slot operation that reads or
// writes more than one word (state steps, ticks, saved reply, names, MAC); it is never held while
// a message is sent to the UI thread. The address and the flags word are atomics, so a slot is
// filled or freed with one store and the UI may read state and listing without the lock;
// highWater is atomic too. Fields only the UI thread uses (times, description, row, texts) need
// no lock; a listed host's names and MAC are written only by the UI thread, under the mutex.
//
// Filling a slot: under the mutex, its fields are set and then the address is published with
// one release store; highWater is raised only after that, so a reader that sees a slot below
// highWater sees either a free slot or a complete one. Freeing: under the mutex the fields are
// reset and the address cleared; highWater is lowered only over slots whose address is already 0.
// The slot array never moves, so a reader holding an old highWater reads free slots, never
// foreign memory. The table-level counters, the row order and the address index belong to the
// UI thread: ApplySegments, RemoveHost, BuildRows, AppendRow, SaveHosts and LoadHosts run there.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/host_list.h"
#include "engine/nbt_codec.h"
#include "settings/app_settings.h"
#include "settings/host_persistence.h"

namespace quorvane {

struct VendorEntry;

enum class HostState : uint32_t { Down = 0, Answering = 1, Missing = 2, Up = 3 };

inline constexpr uint32_t kHostStateMask = 0x3u;     // bits 0-1
inline constexpr uint32_t kHostListed = 0x8u;        // bit 3: the host has a row
inline constexpr uint32_t kHostStartupPending = 0x10u;  // bit 4: next confirmation raises "alive"

inline constexpr size_t kHostSlots = 65536;
inline constexpr size_t kHostRecordSize = 268;
inline constexpr size_t kMaxSavedReply = 1500;

// A NetBIOS name as kept in an entry: 15 characters, a zero byte, 2 unused bytes; first byte 0 = unknown.
using NameField = std::array<uint8_t, 18>;

// A stored name up to its zero byte (at most its 15 characters), padding spaces kept.
inline std::string_view NameView(const NameField& name) {
    size_t n = 0;
    while (n < 15 && name[n] != 0) ++n;
    return {reinterpret_cast<const char*>(name.data()), n};
}

struct HostEntry {
    HostEntry();
    HostEntry(const HostEntry&) = delete;
    HostEntry& operator=(const HostEntry&) = delete;

    // --- address: a 16-byte IPv4 socket address ---------------------------------------------
    uint16_t family = 2;
    uint16_t port = 0;                   // network order; 137 once filled
    std::atomic<uint32_t> address{0};    // network order; 0 = the slot is free
    std::array<uint8_t, 8> addressZero{};

    MacAddress mac{};
    std::atomic<uint32_t> flags{0};      // HostState, listed, startup pending
    int64_t firstFoundTime = 0;
    int64_t startupTime = 0;
    int64_t shutdownTime = 0;
    std::array<uint8_t, 10> reserved1{};  // fresh: LE 65536 in the last four bytes
    NameField hostName{};
    std::array<char, 88> description{};   // zero-terminated, at most 87 characters
    NameField userName{};
    NameField groupName{};
    std::array<uint8_t, 64> reserved2{};

    uint16_t savedReplyLength = 0;
    std::unique_ptr<uint8_t[]> savedReply;
    uint32_t savedReplyCapacity = 0;

    uint16_t slotIndex = 0;
    int32_t row = 0;
    std::array<int32_t, 3> nameDisplayLengths{};
    SelectedNames pending;               // the receiver's latest selection result
    const VendorEntry* vendor = nullptr;
    bool selectionMarker = false;
    uint32_t listImage = 2;              // 0 up, 1 uncertain, 2 down or unknown
    char ipText[20] = {};
    char macText[20] = {};

    uint32_t priorSendTick = 0;
    uint32_t lastSendTick = 0;           // 0: no query outstanding
    uint32_t replyTick = 0;
    uint32_t queryIntervalMs = 1000;
    uint32_t replyTimeoutMs = 2000;
    uint32_t streak = 0;

    HostState state() const { return static_cast<HostState>(flags.load(std::memory_order_acquire) & kHostStateMask); }
    void setState(HostState s);
    bool listed() const { return (flags.load(std::memory_order_acquire) & kHostListed) != 0; }
    void setFlagBits(uint32_t bits, bool on);
    bool startupPending() const { return (flags.load(std::memory_order_acquire) & kHostStartupPending) != 0; }
    uint32_t ipv4() const { return address.load(std::memory_order_acquire); }

    // Names as 15 raw bytes (the comparison and event texts use them).
    static NbName Name15(const NameField& f);
    static void SetName15(NameField& f, const NbName& name);
    StoredNames storedNames() const;

    // Back to the fresh values (address 0, not listed, Down); the saved reply is released.
    // The table's own step (its counters and address index do not follow): elsewhere use
    // HostTable::RemoveHost.
    void Reset();
};

class HostTable final : public HostPersistence {
public:
    HostTable();

    HostEntry& slot(size_t i) { return slots_[i]; }
    const HostEntry& slot(size_t i) const { return slots_[i]; }
    std::mutex& mutex() { return mutex_; }

    uint32_t highWater() const { return highWater_.load(std::memory_order_acquire); }
    uint32_t occupiedCount() const override { return occupiedCount_; }
    uint32_t rowCount() const { return rowCount_; }
    std::span<uint16_t> rowOrder() { return {rowOrder_.data(), rowCount_}; }
    std::span<const uint16_t> rowOrder() const { return {rowOrder_.data(), rowCount_}; }

    // Gives every address of segments[first, first + count) a slot: the lowest free slot, else
    // highWater, which then grows; an address that has a slot keeps it. A reversed segment is
    // swapped in place first. Returns -1 when occupiedCount + (end - first) reaches the slot
    // count (segments handled before stay applied), else the new highWater. 0.0.0.0 gets no slot.
    int ApplySegments(std::vector<IpSegment>& segments, size_t first, size_t count);
    // Takes the host out of the list (when listed) and forgets what was learnt; freeSlot also
    // releases the slot and lowers highWater over free slots at the top. -1 for a free slot or an
    // entry that is not one of this table's. list may be null when no view exists.
    int RemoveHost(HostEntry& host, bool freeSlot, HostListSink* list);
    // Numbers every slot and gives every listed slot a row, in slot order (view creation; the
    // list starts empty).
    void BuildRows(HostListSink& list);
    // Appends a row for a newly found host (host-found handling): marks it listed, row =
    // rowCount, icon 1 (uncertain), and adds the row to the list.
    void AppendRow(HostEntry& host, HostListSink& list);
    // The slot named by a reply's transaction id, if its address is the reply's source.
    HostEntry* FindByReply(uint16_t transactionId, uint32_t sourceAddress);

    // Appends the host payload: a little-endian record count, then per occupied slot in slot
    // order the 268-byte record and its saved reply. Grows the buffer as far as the payload
    // needs (past the 1296-bytes-per-host estimate when replies are long); false, with the used
    // part of the buffer as it was, when that room cannot be had.
    bool SaveHosts(StreamBuffer& out) override;
    // Replaces the slots with the payload's records, the k-th loaded record in slot k. Reads at
    // most 65536 records and never past the payload; a record cut off or with a reply longer
    // than 1500 bytes ends the load (the records before it stay). Records with address 0 or an
    // address already loaded are skipped. A payload too short for its count leaves the table as
    // it was. Returns the records loaded; rows are rebuilt by BuildRows.
    uint32_t LoadHosts(std::span<const uint8_t> payload) override;

private:
    static constexpr uint32_t kNoSlot = UINT32_MAX;

    uint32_t IndexOf(const HostEntry& host) const;  // kNoSlot when not one of our slots
    void FillSlot(uint32_t slot, uint32_t address);
    void RemoveRow(HostEntry& host, uint32_t slot, HostListSink* list);
    void ClearTable();

    // Free slots below highWater, as a two-level bitmap: the lowest is found in a few word scans.
    void MarkFree(uint32_t slot);
    void MarkUsed(uint32_t slot);
    uint32_t LowestFree() const;

    std::unique_ptr<HostEntry[]> slots_;
    std::mutex mutex_;  // the engine mutex: guards multi-field slot operations
    std::atomic<uint32_t> highWater_{0};
    uint32_t occupiedCount_ = 0;  // UI thread
    uint32_t rowCount_ = 0;       // UI thread
    std::array<uint16_t, kHostSlots> rowOrder_{};  // UI thread
    std::unordered_map<uint32_t, uint16_t> slotOfAddress_;  // UI thread: address -> slot
    std::array<uint64_t, kHostSlots / 64> freeBits_{};        // UI thread: bit per free slot
    std::array<uint64_t, kHostSlots / 64 / 64> freeWords_{};  // UI thread: bit per non-zero word
};

}  // namespace quorvane
