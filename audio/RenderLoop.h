#pragma once
// The render loop of an event-driven exclusive stream, apart from the platform: the
// endpoint (wait, buffers, clock) and the provider come in as template parameters so
// that the same loop runs on the WASAPI render thread and under native tests.
// Platform-free.

#include "audio/RenderGate.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace Kelvane {

// What a render thread and its device share. Either side may let go first; the last
// one to release it frees it, so a device never goes while its thread can look at it.
// The provider is reached only through the gate, which the device closes when it stops:
// a thread that outlives the stop never begins a call into a provider that may be gone.
struct RenderShared
{
    std::atomic<int32_t> refs{2}; // the device and the thread
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> refused{false}; // the provider said no once it had rendered
    RenderGate gate;

    // True for the caller that must delete the object.
    bool release() { return refs.fetch_sub(1, std::memory_order_acq_rel) == 1; }
};

// Why the loop ended.
enum class RenderLoopEnd
{
    PreRollFailed,
    StartFailed,
    StopRequested,
    Refused,
    WaitFailed,
    BufferFailed
};

// Endpoint: uint8_t* getBuffer(); bool releaseBuffer(bool silent); bool startClient();
//           void stopClient(); bool waitPeriod(); size_t bufferBytes() const.
// Provider: bool render(void* buffer) for one endpoint period.
//
// A provider that answers false before it has ever answered true is not refusing but
// not ready yet (its host marks itself processing just after the stream starts): that
// period goes out as silence and the next one asks again. A false after the first true
// is a refusal: the period is still handed over, then the loop ends.
template <class Endpoint, class Provider>
RenderLoopEnd runRenderLoop(Endpoint& endpoint, Provider& provider, RenderShared& shared)
{
    // Pre-roll one buffer of silence so the endpoint has something to play at Start.
    uint8_t* buffer = endpoint.getBuffer();
    if (!buffer)
        return RenderLoopEnd::PreRollFailed;
    std::memset(buffer, 0, endpoint.bufferBytes());
    if (!endpoint.releaseBuffer(false))
        return RenderLoopEnd::PreRollFailed;
    if (!endpoint.startClient())
        return RenderLoopEnd::StartFailed;

    RenderLoopEnd end = RenderLoopEnd::WaitFailed;
    bool rendered = false;
    while (endpoint.waitPeriod()) {
        if (shared.stopRequested.load(std::memory_order_acquire)) {
            end = RenderLoopEnd::StopRequested;
            break;
        }
        buffer = endpoint.getBuffer();
        if (!buffer) {
            end = RenderLoopEnd::BufferFailed;
            break;
        }
        const bool ok = provider.render(buffer);
        const bool refused = !ok && rendered;
        rendered = rendered || ok;
        if (refused)
            shared.refused.store(true, std::memory_order_release);
        if (!endpoint.releaseBuffer(!ok)) {
            end = refused ? RenderLoopEnd::Refused : RenderLoopEnd::BufferFailed;
            break;
        }
        if (refused) {
            end = RenderLoopEnd::Refused;
            break;
        }
    }
    endpoint.stopClient();
    return end;
}

} // namespace Kelvane
