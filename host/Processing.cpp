// The plug-in's processing states: set up, active, processing, and back down.
// User-interface thread only; the audio thread reads processState (acquire) and uses
// the process data only in Processing.

#include "app/Host.h"
#include "diag/DebugLog.h"

namespace PomaroApp {

using namespace Steinberg;

namespace {

// A block longer than the processor accepted, or at another rate, must not reach it:
// a refused setup keeps the earlier one only while that still fits the device.
bool setupCovers(const Vst::ProcessSetup& accepted, int32_t blockSize, double sampleRate)
{
    return accepted.maxSamplesPerBlock >= blockSize && accepted.sampleRate == sampleRate;
}

} // namespace

void CHost::prepareProcessing()
{
    const int32_t state = processState.load(std::memory_order_relaxed);
    if ((state != ProcessState::Initialized && state != ProcessState::SetUp) || !pComponent || !pProcessor)
        return;
    processData.data.numSamples = blockSize;
    Vst::ProcessSetup setup{};
    setup.processMode = Vst::kRealtime;
    setup.symbolicSampleSize = Vst::kSample32;
    setup.maxSamplesPerBlock = blockSize;
    setup.sampleRate = sampleRate;
    if (pProcessor->setupProcessing(setup) == kResultOk) {
        processData.acceptedSetup = setup;
        processState.store(ProcessState::SetUp, std::memory_order_release);
    }
}

bool CHost::settleAbandonedRender()
{
    if (!renderAbandoned)
        return true;
    if (renderCalls.load(std::memory_order_seq_cst) != 0)
        return false;
    // The call has come back: the plug-in is stepped down now, to be set up again for
    // whatever device is there by then, and the reference the call held on this object goes.
    renderAbandoned = false;
    if (pProcessor)
        pProcessor->setProcessing(false);
    if (pComponent)
        pComponent->setActive(false);
    processState.store(ProcessState::Initialized, std::memory_order_release);
    release();
    return true;
}

void CHost::startProcessing()
{
    if (!settleAbandonedRender())
        return; // a render call still runs in the plug-in: no second one may start
    prepareProcessing();

    if (processState.load(std::memory_order_relaxed) == ProcessState::SetUp && pComponent &&
        setupCovers(processData.acceptedSetup, blockSize, sampleRate)) {
        if (pComponent->setActive(true) == kResultOk) {
            if (processData.buffers.allocate(processData.data.numOutputs, blockSize)) {
                processData.data.outputs = processData.buffers.buses.get();
                processState.store(ProcessState::Active, std::memory_order_release);
            } else {
                // No channels to process into: stay inactive rather than hand out null.
                processData.data.outputs = nullptr;
                pComponent->setActive(false);
            }
        }
    }

    if (processState.load(std::memory_order_relaxed) != ProcessState::Active || !pProcessor)
        return;
    if (pProcessor->setProcessing(true) != kResultOk)
        return;
    // Whatever arrived while not processing is stale. The device is stopped, so this
    // thread is the only reader of all three queues; producers may go on writing.
    midiRing.clearFromReader();
    paramsToProcessor.clearFromReader();
    paramsFromProcessor.clearFromReader();
    // Processing is published before the start, so a device that asks for its first
    // buffer from inside start() is not refused (a refusal ends a WASAPI render loop).
    processState.store(ProcessState::Processing, std::memory_order_release);
    if (pDevice && pDevice->start())
        return;
    processState.store(ProcessState::Active, std::memory_order_seq_cst);
    if (pDevice)
        pDevice->stop(); // returns once no render call is running
    pProcessor->setProcessing(false);
}

void CHost::stopProcessing()
{
    if (!settleAbandonedRender())
        return;
    if (processState.load(std::memory_order_relaxed) == ProcessState::Processing) {
        // Leave Processing first: render calls from now on return at once.
        processState.store(ProcessState::Active, std::memory_order_seq_cst);
        if (pDevice)
            pDevice->stop();
        // A device that gave up waiting (a plug-in stuck in process) leaves the call
        // running: nothing is switched off, deactivated or freed under it, and this
        // object stays for it until it returns.
        if (renderCalls.load(std::memory_order_seq_cst) != 0) {
            renderAbandoned = true;
            addRef();
            DebugLog::Write(L"CHost::stopProcessing()",
                            L"IAudioProcessor::process() has not returned; the plug-in is left running",
                            false);
            return;
        }
        if (pProcessor)
            pProcessor->setProcessing(false);
    }
    if (processState.load(std::memory_order_relaxed) == ProcessState::Active && pComponent) {
        pComponent->setActive(false);
        processState.store(ProcessState::SetUp, std::memory_order_release);
    }
}

} // namespace PomaroApp
