#pragma once
// The door between a device's audio thread and its provider. The audio thread asks to
// pass before every call into the provider; the main thread closes the door and then
// learns whether a call is still inside, so that once it sees none, no call is running
// and none can begin until the door opens again. A second call while one is inside is
// turned away too: calls into the provider never overlap, whatever the driver does.
// Platform-free; no lock, no system call.

#include <atomic>
#include <cstdint>

namespace Kelvane {

class RenderGate
{
public:
    // Audio thread: true when the caller may call the provider and must then leave().
    bool enter()
    {
        // Counted before the door is looked at: close() stores first and counts after,
        // so at least one side sees the other (both sequentially consistent).
        if (inside.fetch_add(1, std::memory_order_seq_cst) == 0 && isOpen.load(std::memory_order_seq_cst))
            return true;
        inside.fetch_sub(1, std::memory_order_release);
        return false;
    }
    void leave() { inside.fetch_sub(1, std::memory_order_release); }

    // Main thread.
    void open() { isOpen.store(true, std::memory_order_seq_cst); }
    void close() { isOpen.store(false, std::memory_order_seq_cst); }
    // After close(): false once no call is inside; none can begin until open().
    bool busy() const { return inside.load(std::memory_order_seq_cst) != 0; }

private:
    std::atomic<bool> isOpen{false};
    std::atomic<int32_t> inside{0};
};

} // namespace Kelvane
