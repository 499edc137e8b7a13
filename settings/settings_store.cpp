#include "settings/settings_store.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "settings/run_at_logon.h"

namespace quorvane {

namespace {

// Headroom each record needs before it is written; the buffer grows by kGrowStep (plus the
// per-entry amount for lists) when it is short of it.
constexpr size_t kGrowStep = 65536;
constexpr size_t kListHeadroom = 32768;
constexpr size_t kSegmentSize = 24;
constexpr size_t kHostEstimate = 1296;
constexpr size_t kHeadroomGeneral = 33132;
constexpr size_t kHeadroomMessenger = 32784;
constexpr size_t kHeadroomMail = 32784;
constexpr size_t kHeadroomTexts = 32776;  // exec, message box, log
constexpr size_t kHeadroomSound = 32804;
constexpr size_t kHeadroomSyslog = 32780;

constexpr size_t kMaxShortText = 255;      // reserved texts, messenger alias and test text
constexpr int32_t kTrailerLoaded = 6;      // trailer word once a record was loaded or written
constexpr size_t kTrailingTextsGeneral = 128;
constexpr size_t kTrailingTexts = 6;
constexpr size_t kMailEntryPad = 4;        // zero bytes after each mail receiver

constexpr int32_t kReserved70Loaded = 3;  // the general block's word at offset 70, when loaded as 0

// --- Bounds-checked reading of a payload --------------------------------------------------------

class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : p_(bytes) {}

    bool Bytes(void* out, size_t n) {
        if (p_.size() - pos_ < n) return false;
        if (n) std::memcpy(out, p_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    template <size_t N>
    bool Bytes(std::array<uint8_t, N>& out) {
        return Bytes(out.data(), N);
    }
    bool Skip(size_t n) {
        if (p_.size() - pos_ < n) return false;
        pos_ += n;
        return true;
    }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Bytes(b, 4)) return false;
        v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
            static_cast<uint32_t>(b[3]) << 24;
        return true;
    }
    bool I32(int32_t& v) {
        uint32_t u;
        if (!U32(u)) return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool U16(uint16_t& v) {
        uint8_t b[2];
        if (!Bytes(b, 2)) return false;
        v = static_cast<uint16_t>(b[0] | b[1] << 8);
        return true;
    }
    // An IPv4 address: four bytes in network order, kept as they are.
    bool Address(uint32_t& v) { return Bytes(&v, 4); }
    // A zero-terminated text, of which at most `limit` bytes are kept.
    bool Text(std::string& out, size_t limit = SIZE_MAX) {
        if (pos_ >= p_.size()) return false;
        const uint8_t* start = p_.data() + pos_;
        const void* zero = std::memchr(start, 0, p_.size() - pos_);
        if (!zero) return false;
        const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - start);
        out.assign(reinterpret_cast<const char*>(start), std::min(length, limit));
        pos_ += length + 1;
        return true;
    }

private:
    std::span<const uint8_t> p_;
    size_t pos_ = 0;
};

// Appends to a list being rebuilt; an allocation failure leaves the list empty.
template <class List, class T>
bool Keep(List& list, T&& value) {
    try {
        list.push_back(std::forward<T>(value));
        return true;
    } catch (const std::bad_alloc&) {
        List().swap(list);
        return false;
    }
}

// --- Building a payload -------------------------------------------------------------------------

class Writer {
public:
    std::vector<uint8_t> bytes;

    void Raw(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + n);
    }
    template <size_t N>
    void Raw(const std::array<uint8_t, N>& a) {
        Raw(a.data(), N);
    }
    void U32(uint32_t v) {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 24)};
        Raw(b, 4);
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void U16(uint16_t v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        Raw(b, 2);
    }
    void Address(uint32_t v) { Raw(&v, 4); }
    // The text up to its first zero byte (a stored text cannot hold one) and the terminator.
    void Text(const std::string& s, size_t limit = SIZE_MAX) {
        Raw(s.data(), std::min(std::strlen(s.c_str()), limit));
        bytes.push_back(0);
    }
    void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
};

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The chunk number of a value name ("item" + hexadecimal, any case, no leading zeros); -1 if the
// name is no chunk name.
int64_t ChunkNumber(const std::string& name) {
    if (name.size() < 5 || name.size() > 12) return -1;
    for (size_t i = 0; i < 4; ++i)
        if ((name[i] | 0x20) != "item"[i]) return -1;
    if (name[4] == '0' && name.size() > 5) return -1;
    int64_t n = 0;
    for (size_t i = 4; i < name.size(); ++i) {
        const char c = static_cast<char>(name[i] | 0x20);
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else {
            return -1;
        }
        n = n * 16 + d;
    }
    return n;
}

}  // namespace

std::string ChunkName(uint32_t i) {
    char name[16];
    std::snprintf(name, sizeof name, "item%x", i);
    return name;
}

SettingsStore::SettingsStore(AppSettings& settings, HostPersistence* hosts)
    : s_(settings), hosts_(hosts), ownRegistry_(std::make_unique<FileRegistry>(DefaultRegistryPath())),
      registry_(*ownRegistry_) {}

SettingsStore::SettingsStore(AppSettings& settings, HostPersistence* hosts, Registry& registry)
    : s_(settings), hosts_(hosts), registry_(registry) {}

int SettingsStore::LoadAtStartup() {
    const int rc = LoadSettings();
    if (rc < 0) RegisterRunAtLogon();
    return rc;
}

// --- Reading ------------------------------------------------------------------------------------

int SettingsStore::ReadBlob(StreamBuffer& buffer) {
    auto key = registry_.Open(kSettingsKeyPath, false);
    if (!key) return kStoreUnreadable;
    const auto maxLengthValue = key->QueryBinary(kMaxLengthValue);
    if (!maxLengthValue || maxLengthValue->size() != 4) return kStoreUnreadable;
    const int32_t maxLength = static_cast<int32_t>(GetLe32(maxLengthValue->data()));
    if (maxLength < 0) return kStoreMismatch;
    const size_t expected = static_cast<size_t>(maxLength);

    // The chain of chunks is checked before the buffer is sized, so that a damaged "MaxLength"
    // cannot ask for memory the chunks do not back.
    std::vector<std::span<const uint8_t>> chunks;
    size_t total = 0;
    for (uint32_t i = 0;; ++i) {
        const auto chunk = key->QueryBinary(ChunkName(i));
        if (!chunk || chunk->size() > expected - total) return kStoreUnreadable;
        chunks.push_back(*chunk);
        total += chunk->size();
        if (chunk->size() < kChunkSize) break;
    }
    if (total != expected) return kStoreMismatch;

    buffer.SetUsed(0);
    if (!buffer.Grow(expected + 1)) return kStoreMismatch;
    for (const auto& chunk : chunks) buffer.Append(chunk.data(), chunk.size());
    return maxLength;
}

int SettingsStore::LoadSettings() {
    const int total = ReadBlob(buffer_);
    if (total <= 0) return total;
    buffer_.SetUsed(static_cast<size_t>(total));
    ApplyStream(buffer_.bytes());
    return 0;
}

void SettingsStore::ApplyStream(std::span<const uint8_t> stream) {
    size_t pos = 0;
    while (stream.size() - pos >= kRecordHeaderSize) {
        const uint8_t* header = stream.data() + pos;
        const auto type = static_cast<int32_t>(GetLe32(header + 4));
        const auto length = static_cast<int32_t>(GetLe32(header + 8));
        if (length < 0) return;  // nothing tells where the next record starts
        const size_t available = stream.size() - pos - kRecordHeaderSize;
        const size_t payload = std::min(static_cast<size_t>(length), available);
        if (type >= kRecordGeneral && type <= kRecordSyslog) {
            try {
                ApplyRecord(type, stream.subspan(pos + kRecordHeaderSize, payload));
            } catch (const std::bad_alloc&) {
                // A text could not be kept: the rest of this record is left as it was.
            }
        }
        if (static_cast<size_t>(length) > available) return;
        pos += kRecordHeaderSize + payload;
    }
}

void SettingsStore::ApplyRecord(int32_t type, std::span<const uint8_t> payload) {
    AppSettings& s = s_;
    Reader r(payload);
    switch (type) {
        case kRecordGeneral: {
            if (!r.I32(s.generalReserved0) || !r.Bytes(s.generalReserved4) || !r.I32(s.queryTimerSeconds) ||
                !r.I32(s.queryTimeoutSeconds) || !r.I32(s.replyContinuousLost) || !r.U16(s.probePort) ||
                !r.U32(s.optionFlags) || !r.U32(s.channelFlags) || !r.U32(s.syslogFlags) ||
                !r.U32(s.hostStateThreshold) || !r.I32(s.generalReserved66))
                return;
            if (!r.I32(s.generalReserved70)) return;
            if (s.generalReserved70 == 0) s.generalReserved70 = kReserved70Loaded;
            if (!r.I32(s.generalReserved74) || !r.Bytes(s.generalReserved78) || !r.Bytes(s.generalReserved108) ||
                !r.Bytes(s.generalReserved236))
                return;
            // The 128 reserved empty texts after these four hold nothing to keep.
            if (!r.Text(s.reservedText1, kMaxShortText) || !r.Text(s.reservedText2, kMaxShortText) ||
                !r.Text(s.messengerFrom, kMaxShortText))
                return;
            r.Text(s.messengerTestText, kMaxShortText);
            return;
        }
        case kRecordSegments: {
            int32_t count;
            if (!r.I32(count) || count < 0) return;
            s.segments.clear();
            for (int32_t i = 0; i < count; ++i) {
                IpSegment seg;
                if (!r.Bytes(seg.reservedHead) || !r.Address(seg.first) || !r.Address(seg.end) ||
                    !r.Bytes(seg.reservedTail))
                    return;
                if (s.segments.size() < kMaxSegments && !Keep(s.segments, seg)) return;
            }
            return;
        }
        case kRecordHosts:
            if (hosts_) hosts_->LoadHosts(payload);
            return;
        case kRecordMessenger: {
            int32_t count;
            if (!r.I32(s.messengerRetryTimes) || !r.I32(count) || count < 0) return;
            s.messengerReceivers.clear();
            for (int32_t i = 0; i < count; ++i) {
                AddressEntry e;
                if (!r.Address(e.address) || !r.U32(e.reserved)) return;
                if (!Keep(s.messengerReceivers, e)) return;
            }
            r.Text(s.messengerMessage);
            return;
        }
        case kRecordMail: {
            int32_t count;
            if (!r.I32(s.mailReserved) || !r.U32(s.mailFlags) || !r.I32(count) || count < 0 || !r.I32(s.smtpPort))
                return;
            if (!r.Text(s.smtpServer) || !r.Text(s.mailFrom) || !r.Text(s.smtpUser) || !r.Text(s.smtpPassword) ||
                !r.Text(s.mailTestSubject) || !r.Text(s.mailSubject) || !r.Text(s.mailBody))
                return;
            s.mailReceivers.clear();
            for (int32_t i = 0; i < count; ++i) {
                std::string receiver;
                if (!r.Text(receiver) || !r.Skip(kMailEntryPad)) return;
                if (!Keep(s.mailReceivers, std::move(receiver))) return;
            }
            return;
        }
        case kRecordExec:
        case kRecordBox:
        case kRecordLog: {
            int32_t* reserved = type == kRecordExec ? &s.execReserved : type == kRecordBox ? &s.boxReserved : &s.logReserved;
            int32_t* trailer = type == kRecordExec ? &s.execTrailer : type == kRecordBox ? &s.boxTrailer : &s.logTrailer;
            std::string* first = type == kRecordExec ? &s.execFile : type == kRecordBox ? &s.boxTitle : &s.logFile;
            std::string* second =
                type == kRecordExec ? &s.execParameters : type == kRecordBox ? &s.boxText : &s.logTemplate;
            *trailer = kTrailerLoaded;
            if (!r.I32(*reserved) || !r.Skip(4)) return;  // the stored trailer word is not used
            if (!r.Text(*first)) return;
            r.Text(*second);
            return;
        }
        case kRecordSound: {
            s.soundTrailer = kTrailerLoaded;
            if (!r.I32(s.soundReserved) || !r.U32(s.infoSound.beep) || !r.I32(s.infoSound.seconds) ||
                !r.U32(s.downSound.beep) || !r.I32(s.downSound.seconds) || !r.U32(s.upSound.beep) ||
                !r.I32(s.upSound.seconds) || !r.U32(s.soundUntilBreaking) || !r.Skip(4))
                return;
            if (!r.Text(s.infoSound.soundFile) || !r.Text(s.downSound.soundFile)) return;
            r.Text(s.upSound.soundFile);
            return;
        }
        case kRecordSyslog: {
            uint32_t count;
            if (!r.U32(count)) return;
            s.syslogServers.clear();
            for (uint32_t i = 0; i < count; ++i) {
                AddressEntry e;
                if (!r.Address(e.address) || !r.U32(e.reserved)) return;
                if (s.syslogServers.size() < kMaxSyslogServers && !Keep(s.syslogServers, e)) return;
            }
            if (!r.Text(s.syslogMessage)) return;
            r.Text(s.syslogTestText);
            return;
        }
        default:
            return;
    }
}

// --- Writing ------------------------------------------------------------------------------------

bool SettingsStore::MakeRoom(size_t headroom, size_t perEntryGrowth) {
    if (buffer_.capacity() < buffer_.used() + headroom) buffer_.Grow(buffer_.capacity() + kGrowStep + perEntryGrowth);
    return buffer_.capacity() >= buffer_.used() + headroom;
}

bool SettingsStore::PutRecord(int32_t type, std::span<const uint8_t> payload, size_t headroom, size_t perEntryGrowth) {
    if (!MakeRoom(headroom, perEntryGrowth)) return false;
    const size_t size = kRecordHeaderSize + payload.size();
    // The stream's length is a signed 32-bit value.
    if (size > static_cast<size_t>(INT32_MAX) - buffer_.used()) return false;
    // Texts and lists have no length limit: a record larger than its headroom gets its room.
    if (buffer_.room() < size && !buffer_.Grow(buffer_.used() + size)) return false;
    uint8_t header[kRecordHeaderSize];
    PutLe32(header, static_cast<uint32_t>(sequence_));
    PutLe32(header + 4, static_cast<uint32_t>(type));
    PutLe32(header + 8, static_cast<uint32_t>(payload.size()));
    buffer_.Append(header, sizeof header);
    buffer_.Append(payload.data(), payload.size());
    ++sequence_;
    return true;
}

bool SettingsStore::PutHostRecord() {
    const size_t occupied = hosts_->occupiedCount();
    if (!MakeRoom(kListHeadroom + kHostEstimate * occupied, kHostEstimate * occupied)) return false;
    const size_t start = buffer_.used();
    if (buffer_.room() < kRecordHeaderSize && !buffer_.Grow(start + kRecordHeaderSize)) return false;
    uint8_t header[kRecordHeaderSize] = {};
    buffer_.Append(header, sizeof header);
    if (!hosts_->SaveHosts(buffer_)) {
        buffer_.SetUsed(start);
        return false;
    }
    const size_t payload = buffer_.used() - start - kRecordHeaderSize;
    if (buffer_.used() > static_cast<size_t>(INT32_MAX)) {
        buffer_.SetUsed(start);
        return false;
    }
    uint8_t* h = buffer_.data() + start;
    PutLe32(h, static_cast<uint32_t>(sequence_));
    PutLe32(h + 4, kRecordHosts);
    PutLe32(h + 8, static_cast<uint32_t>(payload));
    ++sequence_;
    return true;
}

void SettingsStore::BuildStream() {
    const AppSettings& s = s_;
    buffer_.SetUsed(0);
    sequence_ = 0;

    {
        Writer w;
        w.I32(s.generalReserved0);
        w.Raw(s.generalReserved4);
        w.I32(s.queryTimerSeconds);
        w.I32(s.queryTimeoutSeconds);
        w.I32(s.replyContinuousLost);
        w.U16(s.probePort);
        w.U32(s.optionFlags);
        w.U32(s.channelFlags);
        w.U32(s.syslogFlags);
        w.U32(s.hostStateThreshold);
        w.I32(s.generalReserved66);
        w.I32(s.generalReserved70);
        w.I32(s.generalReserved74);
        w.Raw(s.generalReserved78);
        w.Raw(s.generalReserved108);
        w.Raw(s.generalReserved236);
        w.Text(s.reservedText1, kMaxShortText);
        w.Text(s.reservedText2, kMaxShortText);
        w.Text(s.messengerFrom, kMaxShortText);
        w.Text(s.messengerTestText, kMaxShortText);
        w.Zeros(kTrailingTextsGeneral);
        PutRecord(kRecordGeneral, w.bytes, kHeadroomGeneral, 0);
    }
    {
        Writer w;
        w.I32(s.messengerRetryTimes);
        w.I32(static_cast<int32_t>(s.messengerReceivers.size()));
        for (const AddressEntry& e : s.messengerReceivers) {
            w.Address(e.address);
            w.U32(e.reserved);
        }
        w.Text(s.messengerMessage);
        PutRecord(kRecordMessenger, w.bytes, kHeadroomMessenger, 0);
    }
    {
        Writer w;
        w.I32(s.mailReserved);
        w.U32(s.mailFlags);
        w.I32(static_cast<int32_t>(s.mailReceivers.size()));
        w.I32(s.smtpPort);
        for (const std::string* t : {&s.smtpServer, &s.mailFrom, &s.smtpUser, &s.smtpPassword, &s.mailTestSubject,
                                     &s.mailSubject, &s.mailBody})
            w.Text(*t);
        for (const std::string& receiver : s.mailReceivers) {
            w.Text(receiver);
            w.Zeros(kMailEntryPad);
        }
        PutRecord(kRecordMail, w.bytes, kHeadroomMail, 0);
    }
    struct TextRecord {
        int32_t type;
        int32_t reserved;
        int32_t* trailer;
        const std::string& first;
        const std::string& second;
    };
    const TextRecord textRecords[] = {
        {kRecordExec, s.execReserved, &s_.execTrailer, s.execFile, s.execParameters},
        {kRecordBox, s.boxReserved, &s_.boxTrailer, s.boxTitle, s.boxText},
        {kRecordLog, s.logReserved, &s_.logTrailer, s.logFile, s.logTemplate},
    };
    for (const TextRecord& t : textRecords) {
        Writer w;
        w.I32(t.reserved);
        w.I32(*t.trailer);
        w.Text(t.first);
        w.Text(t.second);
        w.Zeros(kTrailingTexts);
        if (PutRecord(t.type, w.bytes, kHeadroomTexts, 0)) *t.trailer = kTrailerLoaded;
    }
    {
        Writer w;
        w.I32(s.soundReserved);
        for (const SoundRule* rule : {&s.infoSound, &s.downSound, &s.upSound}) {
            w.U32(rule->beep);
            w.I32(rule->seconds);
        }
        w.U32(s.soundUntilBreaking);
        w.I32(s.soundTrailer);
        for (const SoundRule* rule : {&s.infoSound, &s.downSound, &s.upSound}) w.Text(rule->soundFile);
        w.Zeros(kTrailingTexts);
        if (PutRecord(kRecordSound, w.bytes, kHeadroomSound, 0)) s_.soundTrailer = kTrailerLoaded;
    }
    {
        Writer w;
        w.U32(static_cast<uint32_t>(s.syslogServers.size()));
        for (const AddressEntry& e : s.syslogServers) {
            w.Address(e.address);
            w.U32(e.reserved);
        }
        w.Text(s.syslogMessage);
        w.Text(s.syslogTestText);
        PutRecord(kRecordSyslog, w.bytes, kHeadroomSyslog, 0);
    }
    if (hosts_) PutHostRecord();
    {
        Writer w;
        w.I32(static_cast<int32_t>(s.segments.size()));
        for (const IpSegment& seg : s.segments) {
            w.Raw(seg.reservedHead);
            w.Address(seg.first);
            w.Address(seg.end);
            w.Raw(seg.reservedTail);
        }
        PutRecord(kRecordSegments, w.bytes, kListHeadroom + kSegmentSize * s.segments.size(),
                  kSegmentSize * s.segments.size());
    }
}

int SettingsStore::SaveSettings() {
    try {
        BuildStream();
    } catch (const std::bad_alloc&) {
        // A payload could not be built: what was built so far is written.
    }
    return WriteBlob(buffer_.data(), buffer_.used());
}

int SettingsStore::WriteBlob(const uint8_t* bytes, size_t length) {
    if (length > static_cast<size_t>(INT32_MAX)) return 0;
    try {
        auto key = registry_.Open(kSettingsKeyPath, true);
        if (!key) return 0;
        const size_t full = length / kChunkSize;
        for (size_t i = 0; i < full; ++i)
            key->SetBinary(ChunkName(static_cast<uint32_t>(i)), {bytes + i * kChunkSize, kChunkSize});
        key->SetBinary(ChunkName(static_cast<uint32_t>(full)),
                       {length ? bytes + full * kChunkSize : bytes, length % kChunkSize});
        uint8_t maxLength[4];
        PutLe32(maxLength, static_cast<uint32_t>(length));
        key->SetBinary(kMaxLengthValue, maxLength);
        // Chunks of an earlier, longer stream would be rewritten by every save and never read.
        for (const std::string& name : key->ValueNames()) {
            const int64_t n = ChunkNumber(name);
            if (n > static_cast<int64_t>(full)) key->DeleteValue(name);
        }
        return key->Commit() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace quorvane
