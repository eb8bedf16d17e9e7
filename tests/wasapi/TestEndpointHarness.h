#pragma once
// Puts the test endpoint in place of the system's device enumerator for this process
// only (a class object registered with COM, no registry), configured per test, and
// reads back what it recorded.

#include "tests/diag/DiagTestSupport.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace WasapiTest {

class TestEndpointHarness
{
public:
    // COM must be initialised on the calling thread.
    TestEndpointHarness();
    ~TestEndpointHarness();
    bool ready() const { return cookie != 0; }

    // Writes the configuration text; every enumerator made from now on reads it.
    void configure(const std::string& text);
    // The path of this test's recording, as UTF-8 for the configuration.
    std::string wavPathUtf8() const;
    // The statistics the endpoint wrote when the last stream stopped.
    std::map<std::string, long long> stats() const;
    // Left channel of the recording.
    std::vector<int16_t> recordedLeft() const;

private:
    HMODULE module = nullptr;
    DWORD cookie = 0;
    TempFolder folder;
    std::wstring configPath = folder.File(L"endpoint.ini");
    std::wstring wav = folder.File(L"render.wav");
};

} // namespace WasapiTest
