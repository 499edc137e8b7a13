#pragma once
// How the settings store reaches the host table without depending on the engine: the table
// implements this interface and writes or reads the payload of the host record.

#include <cstdint>
#include <span>

#include "settings/stream_buffer.h"

namespace quorvane {

class HostPersistence {
public:
    virtual ~HostPersistence() = default;
    virtual uint32_t occupiedCount() const = 0;
    // Appends the host payload (record count, then the records). Returns false, with the buffer
    // as it was, when the room for it could not be made.
    virtual bool SaveHosts(StreamBuffer& out) = 0;
    // Replaces the table's slots from an untrusted payload; returns the records loaded.
    virtual uint32_t LoadHosts(std::span<const uint8_t> payload) = 0;
};

}  // namespace quorvane
