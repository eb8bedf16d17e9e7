// The plug-in's processing states.

#include "app/Host.h"

namespace PomaroApp {

using namespace Steinberg;

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
    if (pProcessor->setupProcessing(setup) == kResultOk)
        processState.store(ProcessState::SetUp, std::memory_order_release);
}

void CHost::startProcessing()
{
    prepareProcessing();
    // Activation and the device start come with the output buffers; until then the
    // plug-in stays set up but inactive, as when it refuses activation.
}

void CHost::stopProcessing()
{
    if (processState.load(std::memory_order_relaxed) == ProcessState::Processing) {
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
