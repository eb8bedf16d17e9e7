// The component state blob: "PRS1" and four little-endian doubles.
#pragma once

#include "pluginterfaces/base/ibstream.h"
#include "plugins/recorder/Ids.h"

namespace Recorder {

bool writeState(Steinberg::IBStream* stream, const double (&values)[kStateParams]);
// False (values untouched) for a missing stream, a short read or a wrong tag.
bool readState(Steinberg::IBStream* stream, double (&values)[kStateParams]);

} // namespace Recorder
