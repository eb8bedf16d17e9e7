// Reads and writes the instrument's state record through an IBStream, which
// may hand over fewer bytes per call than asked for.
#pragma once

#include "pluginterfaces/base/ibstream.h"
#include "plugins/demo/dsp/StateCodec.h"

namespace PomaroDemo {

bool writeStateTo(Steinberg::IBStream* stream, const DemoState& state);
// False (and state untouched) when the stream ends early or holds something else.
bool readStateFrom(Steinberg::IBStream* stream, DemoState& state);

} // namespace PomaroDemo
