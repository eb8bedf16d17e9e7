#pragma once
// The drivers' requests to rebuild the audio stream, between the thread that asks and
// the user-interface thread that restarts. However many requests come, one message is
// on its way at a time; a request that arrives while the user-interface thread is busy
// with the device (opening it, restarting it, applying the settings dialog, inside the
// driver's control panel) waits until that is over; the device's replacement answers
// every request made so far; and a driver that asks again after every restart is
// restarted only kMaxQuickRestarts times within kQuickRestartWindowMs, after which its
// requests are no longer followed until the user chooses a device. Platform-free.

#include <atomic>
#include <cstdint>

namespace Kelvane {

class RestartRequests
{
public:
    static constexpr int32_t kMaxQuickRestarts = 3;
    static constexpr uint64_t kQuickRestartWindowMs = 10000;

    // Any thread: a restart is wanted. True when the caller is to post the message.
    bool ask();

    enum class Action
    {
        Restart,
        Wait,
        Ignore,
        IgnoreFirst
    };
    // User-interface thread, the message arrived at nowMs. Restart: go ahead. Wait: busy;
    // the request stays and its message comes again when the busy stretch ends. Ignore:
    // a stale message, or one more of too many quick restarts (IgnoreFirst: the first
    // refusal, to be told once).
    Action onMessage(uint64_t nowMs);

    // User-interface thread: a stretch in which no restart may run begins or ends.
    // endBusy is true when the caller is to post the message for a request that waited.
    void beginBusy() { ++busyDepth; }
    bool endBusy();
    bool busy() const { return busyDepth > 0; }

    // User-interface thread: the device that asked is gone (a new one is being opened):
    // every request made so far is answered, and the message still on its way is stale.
    void answered();
    // User-interface thread: the user chose a device; the driver may ask again.
    void userChoseDevice();

private:
    std::atomic<bool> wanted{false};
    std::atomic<bool> queued{false};
    int32_t busyDepth = 0;
    bool skipNext = false;
    uint64_t recent[kMaxQuickRestarts] = {}; // times of the last restarts, oldest first
    int32_t recentCount = 0;
    bool refusing = false;
};

} // namespace Kelvane
