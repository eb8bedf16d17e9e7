#pragma once
// The smallest exclusive, event-driven WASAPI render loop: pre-roll, Start, then one
// whole buffer per event. Used to drive the test endpoint as a real client would.

#include "testdrivers/endpoint/TestEndpointApi.h"

#include <mmdeviceapi.h>

#include <cstdint>

struct RenderRequest
{
    uint32_t rate = 48000;
    uint32_t frames = 480; // asked for; a NOT_ALIGNED answer is followed
    double seconds = 0.5;
    // Fills n frames starting at frame index first; null renders silence.
    void (*fill)(int16_t* frames, uint32_t n, uint64_t first, void* context) = nullptr;
    void* context = nullptr;
    // Called from the render loop once, after this many seconds of rendering.
    double midpointSeconds = -1;
    void (*midpoint)(void* context) = nullptr;
};

struct RenderResult
{
    HRESULT hr = E_FAIL;   // first failure, or S_OK
    const char* step = ""; // the call that failed
    uint32_t bufferFrames = 0;
    uint64_t releases = 0;     // buffers released, the pre-roll included
    double elapsedSeconds = 0; // from Start to the last release
    bool haveStats = false;
    PomaroEndpointStats stats = {};
};

// Renders on the calling thread, which must be in a COM apartment.
RenderResult renderExclusive(IMMDevice* device, const RenderRequest& request);
