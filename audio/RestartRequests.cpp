#include "audio/RestartRequests.h"

namespace Kelvane {

bool RestartRequests::ask()
{
    // wanted first: whoever takes the message off the queue sees it set.
    wanted.store(true, std::memory_order_seq_cst);
    return !queued.exchange(true, std::memory_order_seq_cst);
}

RestartRequests::Action RestartRequests::onMessage(uint64_t nowMs)
{
    queued.store(false, std::memory_order_seq_cst);
    if (skipNext) {
        skipNext = false;
        // Posted for requests that the last replacement of the device answered.
        if (!wanted.load(std::memory_order_seq_cst))
            return Action::Ignore;
    }
    // The message itself asks for a restart, whoever posted it.
    wanted.store(true, std::memory_order_seq_cst);
    if (busyDepth > 0)
        return Action::Wait;
    if (refusing) {
        wanted.store(false, std::memory_order_relaxed);
        return Action::Ignore;
    }
    if (recentCount == kMaxQuickRestarts && nowMs - recent[0] < kQuickRestartWindowMs) {
        refusing = true;
        wanted.store(false, std::memory_order_relaxed);
        return Action::IgnoreFirst;
    }
    if (recentCount == kMaxQuickRestarts) {
        for (int32_t i = 1; i < kMaxQuickRestarts; ++i)
            recent[i - 1] = recent[i];
        --recentCount;
    }
    recent[recentCount++] = nowMs;
    return Action::Restart;
}

bool RestartRequests::endBusy()
{
    if (busyDepth > 0)
        --busyDepth;
    return busyDepth == 0 && wanted.load(std::memory_order_seq_cst) &&
           !queued.exchange(true, std::memory_order_seq_cst);
}

void RestartRequests::answered()
{
    wanted.store(false, std::memory_order_seq_cst);
    // At most one message of ours is ever on its way; it is to be passed over.
    skipNext = queued.load(std::memory_order_seq_cst);
}

void RestartRequests::userChoseDevice()
{
    refusing = false;
    recentCount = 0;
}

} // namespace Kelvane
