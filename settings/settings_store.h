#pragma once
// SettingsStore keeps AppSettings and the host table between runs: one stream of tagged records
// (the settings stream), cut into binary values "item0", "item1", ... of 1000 bytes each beside a
// "MaxLength" value holding the stream's length, under one registry key. Loaded once at start-up,
// saved once at exit; the key is read and written through one opening, so a save is atomic.
//
// Stream: records of a 12-byte header (sequence, type, payload length; signed 32-bit LE) and the
// payload. Numbers are little-endian, IPv4 addresses in network byte order, texts zero-terminated.
//
// The stream is untrusted when loaded. The reader never reads past a record's payload or the
// stream's total and keeps at most 2048 segments and 88 syslog servers (the host table bounds its
// own slots). A record is read field by field in layout order and every field is applied as soon
// as it is complete; at the first field that does not fit (a text without its terminator, a
// negative count, bytes missing) the rest of the record is ignored, and the fields before it stay
// applied. A list is replaced where its entries begin and holds the entries that fit. A record
// whose length runs past the stream's end is applied as far as it goes and ends the walk; a
// negative length ends the walk.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/registry.h"
#include "settings/app_settings.h"
#include "settings/host_persistence.h"
#include "settings/stream_buffer.h"

namespace quorvane {

inline constexpr char kSettingsKeyPath[] = "HKEY_LOCAL_MACHINE\\Software\\Quorvane";
inline constexpr char kMaxLengthValue[] = "MaxLength";
inline constexpr size_t kChunkSize = 1000;

// Record types.
enum RecordType : int32_t {
    kRecordGeneral = 1,
    kRecordSegments = 2,
    kRecordHosts = 3,
    kRecordMessenger = 4,
    kRecordMail = 5,
    kRecordExec = 6,
    kRecordBox = 7,
    kRecordLog = 8,
    kRecordSound = 9,
    kRecordSyslog = 10,
};

inline constexpr size_t kRecordHeaderSize = 12;
inline constexpr size_t kGeneralBlockSize = 364;

// Results of ReadBlob and LoadSettings.
inline constexpr int kStoreUnreadable = -1;  // no key, no "MaxLength", a chunk missing or too long
inline constexpr int kStoreMismatch = -2;    // chunks not adding up to "MaxLength", no buffer

// The name of chunk i: "item" and i in lower-case hexadecimal.
std::string ChunkName(uint32_t i);

class SettingsStore {
public:
    // The store in the user's configuration folder (DefaultRegistryPath()).
    SettingsStore(AppSettings& settings, HostPersistence* hosts);
    SettingsStore(AppSettings& settings, HostPersistence* hosts, Registry& registry);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The start-up step: LoadSettings, and RegisterRunAtLogon when that fails. Returns
    // LoadSettings' result.
    int LoadAtStartup();

    // Reads the stream and applies every record. 0 when it was read (also when empty), else
    // kStoreUnreadable or kStoreMismatch with nothing applied.
    int LoadSettings();
    // Builds the stream from the settings and the host table and writes it. 1 when it was stored,
    // 0 when the stored configuration is still the previous one.
    int SaveSettings();
    // Reads "MaxLength" and the chunks into the buffer; the bytes read, or a negative result.
    int ReadBlob(StreamBuffer& buffer);
    // Writes the chunks and "MaxLength" (and drops chunks of an earlier, longer stream) through
    // one opening of the key. 1 when stored, 0 when not.
    int WriteBlob(const uint8_t* bytes, size_t length);

    // The record walk of LoadSettings over an untrusted stream.
    void ApplyStream(std::span<const uint8_t> stream);
    // The stream of SaveSettings, built into buffer() without being written.
    void BuildStream();

    StreamBuffer& buffer() { return buffer_; }

private:
    void ApplyRecord(int32_t type, std::span<const uint8_t> payload);
    // Writes one record from its payload, making room by the headroom rule first; false when it
    // was left out.
    bool PutRecord(int32_t type, std::span<const uint8_t> payload, size_t headroom, size_t perEntryGrowth);
    bool PutHostRecord();
    bool MakeRoom(size_t headroom, size_t perEntryGrowth);

    AppSettings& s_;
    HostPersistence* hosts_;
    std::unique_ptr<Registry> ownRegistry_;
    Registry& registry_;
    StreamBuffer buffer_;  // shared by loading and saving; keeps its largest capacity
    int32_t sequence_ = 0;
};

}  // namespace quorvane
