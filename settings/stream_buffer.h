#pragma once
// The growable byte buffer that the settings stream is built in and read from. Growing to a
// larger capacity allocates a new zero-filled block of exactly that size and copies the used
// bytes; a failed allocation leaves the old block and its contents valid. Writers never write
// past the capacity: Append grows first or refuses.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

namespace quorvane {

class StreamBuffer {
public:
    size_t capacity() const { return capacity_; }
    size_t used() const { return used_; }
    size_t room() const { return capacity_ - used_; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    std::span<const uint8_t> bytes() const { return {data_.get(), used_}; }

    // Grows to exactly newCapacity when that is larger; false if the allocation failed.
    bool Grow(size_t newCapacity) {
        if (newCapacity <= capacity_) return true;
        if (newCapacity > allocationLimit_) return false;
        std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[newCapacity]());
        if (!block) return false;
        if (used_) std::memcpy(block.get(), data_.get(), used_);
        data_ = std::move(block);
        capacity_ = newCapacity;
        return true;
    }

    // Appends the bytes if they fit in the capacity (no growth); false leaves the buffer as it was.
    bool Append(const void* bytes, size_t count) {
        if (count > room()) return false;
        if (count) std::memcpy(data_.get() + used_, bytes, count);
        used_ += count;
        return true;
    }
    // Appends after growing to at least used + count (by exactly what is missing); false if that failed.
    bool AppendGrowing(const void* bytes, size_t count) {
        if (count > room() && !Grow(used_ + count)) return false;
        return Append(bytes, count);
    }

    void SetUsed(size_t n) { used_ = n <= capacity_ ? n : capacity_; }

    // Tests make allocations above this size fail.
    void SetAllocationLimit(size_t bytes) { allocationLimit_ = bytes; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t capacity_ = 0;
    size_t used_ = 0;
    size_t allocationLimit_ = SIZE_MAX;
};

}  // namespace quorvane
