#pragma once
// Loads the test endpoint's DLL the way COM would, without the registry, and writes
// the configuration each test wants.

#include "tests/endpoint/ComRef.h"

#include <mmdeviceapi.h>

#include <string>

class EndpointLoader
{
public:
    EndpointLoader();
    ~EndpointLoader();
    bool loaded() const { return module_ != nullptr; }
    // Writes text (UTF-8) as the configuration and points the environment at it.
    void configure(const std::string& text);
    HRESULT createEnumerator(ComRef<IMMDeviceEnumerator>& out);
    HRESULT canUnloadNow();
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** ppv);

private:
    HMODULE module_ = nullptr;
    std::wstring configPath_;
};

// A file in the test's temporary folder.
std::wstring tempFile(const wchar_t* name);
std::string toUtf8(const std::wstring& w);
// An endpoint found by its position in the active render collection.
HRESULT activeRenderEndpoint(IMMDeviceEnumerator* e, UINT index, ComRef<IMMDevice>& out);
