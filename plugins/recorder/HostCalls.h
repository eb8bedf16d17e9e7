// Calls the recorder makes on its host, each recorded like the host's calls on it.
#pragma once

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/vst/ivstmessage.h"

namespace Recorder {

// IHostApplication::getName, recorded as "hostapp.getName name=<UTF-8>".
void logHostName(Steinberg::FUnknown* context);

// Sends the message "recorder.hello" (attribute "from") to peer, made with the host's
// IHostApplication::createInstance; recorded as "hostapp.createInstance" and "<from>.sendHello".
void sendHello(Steinberg::FUnknown* context, Steinberg::Vst::IConnectionPoint* peer, const char* from);

} // namespace Recorder
