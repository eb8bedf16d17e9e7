#include "testdrivers/endpoint/StreamStats.h"

namespace PomaroTestEndpoint {

std::string formatStats(const StreamStats& s)
{
    std::string t;
    auto line = [&t](const char* k, uint64_t v) {
        t += k;
        t += '=';
        t += std::to_string(v);
        t += '\n';
    };
    line("sample_rate", s.sampleRate);
    line("buffer_frames", s.bufferFrames);
    line("periods", s.periods);
    line("late_periods", s.latePeriods);
    line("endpoint_late_periods", s.endpointLatePeriods);
    line("frames", s.frames);
    line("dropped_frames", s.droppedFrames);
    line("misuse", s.misuse);
    line("streams", s.streams);
    return t;
}

} // namespace PomaroTestEndpoint
