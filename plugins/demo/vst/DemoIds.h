// Class ids and names of the demo instrument's two classes.
#pragma once

#include "pluginterfaces/base/funknown.h"

namespace PomaroDemo {

static const Steinberg::FUID kProcessorUID(0x21983603, 0xBAF74319, 0x889018A0, 0x51D719DE);
static const Steinberg::FUID kControllerUID(0x2A0A3155, 0x8E384501, 0x8053CD87, 0x92697EB2);

constexpr const char* kVendorName = "Kelvane";
constexpr const char* kPluginName = "Pomaro";
constexpr const char* kPluginVersion = "1.0.0";

} // namespace PomaroDemo
