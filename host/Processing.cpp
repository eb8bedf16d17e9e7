// The plug-in's processing states: set up, active, processing, and back down.
// User-interface thread only; the audio thread reads processState (acquire) and uses
// the process data only in Processing.

#include "app/Host.h"

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

void CHost::startProcessing()
{
    prepareProcessing();

    if (processState.load(std::memory_order_relaxed) == ProcessState::SetUp && pComponent &&
        setupCovers(processData.acceptedSetup, blockSize, sampleRate)) {
        if (pComponent->setActive(true) == kResultOk) {
            if (processData.buffers.allocate(processData.data.numOutputs, blockSize)) {
                processData.data.outputs = processData.buffers.buses;
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
    processState.store(ProcessState::Active, std::memory_order_release);
    if (pDevice)
        pDevice->stop(); // returns once no render call is running
    pProcessor->setProcessing(false);
}

void CHost::stopProcessing()
{
    if (processState.load(std::memory_order_relaxed) == ProcessState::Processing) {
        // Leave Processing first: render calls from now on return at once.
        processState.store(ProcessState::Active, std::memory_order_release);
        if (pDevice)
            pDevice->stop();
        if (pProcessor)
            pProcessor->setProcessing(false);
    }
    if (processState.load(std::memory_order_relaxed) == ProcessState::Active && pComponent) {
        pComponent->setActive(false);
        processState.store(ProcessState::SetUp, std::memory_order_release);
    }
}

} // namespace PomaroApp
