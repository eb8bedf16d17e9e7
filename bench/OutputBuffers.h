#pragma once
// Device-buffer stand-ins for the benchmark: one buffer reused on every call
// (hot), or a fresh buffer on every call that is guaranteed not to be cached (cold).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace PomaroBench {

// Page-aligned memory, released on destruction.
class PageMemory
{
public:
    PageMemory(std::size_t bytes, bool hugePages);
    ~PageMemory();
    PageMemory(const PageMemory&) = delete;
    PageMemory& operator=(const PageMemory&) = delete;
    unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Hands out buffers from a large pool in a scattered order (so the hardware
// prefetcher cannot run ahead into the next one). Before a slot would be used a
// second time, flush() evicts what was written, so every buffer handed
// out is cold whatever the size of the last-level cache. The pool is backed by
// huge pages where possible so that the cost measured is the cache's, not the TLB's.
class ColdPool
{
public:
    ColdPool(std::size_t bufferBytes, std::size_t poolBytes);
    unsigned char* next();
    // True when `take` more buffers would reuse one written since the last flush.
    bool needsFlush(std::size_t take) const { return used_ + take > slots_; }
    void flush();

private:
    std::size_t bufferBytes_;
    std::size_t slotBytes_;
    std::size_t slots_;
    std::size_t step_;
    std::size_t position_ = 0;
    std::size_t used_ = 0;
    PageMemory memory_;
};

} // namespace PomaroBench
