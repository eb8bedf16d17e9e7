#include "host/ParameterFlow.h"

namespace PomaroApp {

using namespace Steinberg;
using namespace Steinberg::Vst;

void ParameterFlow::performEdit(ParamID id, ParamValue value)
{
    paramsToProcessor.addChange(id, value, 0);
    paramCache.set(id, value, false);
}

MidiDecodeResult ParameterFlow::onMidiData(const uint8_t* message)
{
    midiRing.push(packMidiMessage(message));
    const MidiDecodeResult result = decodeMidiMessage(midiCtrlMap, message);
    if (result.hasParam) {
        paramsToProcessor.addChange(result.paramId, result.value, 0);
        paramCache.set(result.paramId, result.value, true);
    }
    return result;
}

void ParameterFlow::onTimer(IEditController* controller)
{
    ParamID id;
    ParamValue value;
    int32 sampleOffset;
    // Only what waited at the tick: reports arriving meanwhile wait for the next one.
    for (int32 n = paramsFromProcessor.count();
         n > 0 && paramsFromProcessor.getNextChange(id, value, sampleOffset); --n)
        paramCache.set(id, value, true);
    if (controller)
        paramCache.flushTo(controller);
}

} // namespace PomaroApp
