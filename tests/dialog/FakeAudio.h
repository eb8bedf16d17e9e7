#pragma once
// Audio devices and lists that stand in for the driver families in the settings dialog's
// tests. A journal shared by a list and its devices records what was asked of them, so it
// survives the devices the host deletes.

#include "audio/AsioAudioDeviceList.h"
#include "audio/AudioDevice.h"
#include "audio/WasapiAudioDeviceList.h"

#include <string>
#include <vector>

namespace PomaroTest {

struct FakeDeviceSpec
{
    std::wstring name;
    int32_t rates = Kelvane::Rate48000;
    int32_t minFrames = 64;
    int32_t maxFrames = 1024;
    int32_t preferredFrames = 256;
    int32_t granularity = 32;
    bool rangeKnown = true;
    bool controlPanel = false;
};

struct FakeJournal
{
    // "create <type>:<index>", "delete <name>", "prepare <name> <frames>", "panel <name>"
    std::vector<std::wstring> events;
    bool contains(const std::wstring& event) const;
    void clear() { events.clear(); }
};

class FakeDevice : public Kelvane::CAudioDevice
{
public:
    FakeDevice(Kelvane::DriverType type, int32_t index, const FakeDeviceSpec& spec, FakeJournal& journal)
        : type(type), index(index), spec(spec), journal(journal)
    {}
    ~FakeDevice() override { journal.events.push_back(L"delete " + spec.name); }

    int32_t getIndex() override { return index; }
    const wchar_t* getName() override { return spec.name.c_str(); }
    bool isInterleaved() override { return true; }
    Kelvane::DriverType getDriverType() override { return type; }
    Kelvane::SampleFormat getSampleFormat() override { return Kelvane::SampleFormatFloat32; }
    Kelvane::SampleRate getSampleRate() override { return rate; }
    int32_t getSupportedSampleRates() override { return spec.rates; }
    bool getBufferSizeRange(Kelvane::SampleRate, int32_t* minFrames, int32_t* maxFrames,
                            int32_t* preferredFrames, int32_t* granularity) override;
    bool open(HWND) override
    {
        state = Kelvane::DeviceOpen;
        return true;
    }
    bool close() override
    {
        state = Kelvane::DeviceClosed;
        return true;
    }
    bool prepare(Kelvane::SampleRate r, int32_t bufferFrames, IDataProvider*) override
    {
        rate = r;
        journal.events.push_back(L"prepare " + spec.name + L" " + std::to_wstring(bufferFrames));
        state = Kelvane::DevicePrepared;
        return true;
    }
    bool unprepare() override { return true; }
    bool start() override { return true; }
    bool stop() override { return true; }
    bool hasControlPanel() override { return spec.controlPanel; }
    bool showControlPanel() override
    {
        journal.events.push_back(L"panel " + spec.name);
        return true;
    }

private:
    Kelvane::DriverType type;
    int32_t index;
    FakeDeviceSpec spec;
    FakeJournal& journal;
    Kelvane::SampleRate rate = Kelvane::Rate48000;
};

// A list of fake devices in the place of one driver family's list (the host holds the
// families by their own types).
template <class Family, Kelvane::DriverType Type> class FakeList : public Family
{
public:
    FakeList(std::vector<FakeDeviceSpec> specs, FakeJournal& journal)
        : specs(std::move(specs)), journal(journal)
    {}

    int32_t getCount() override { return static_cast<int32_t>(specs.size()); }
    const wchar_t* getName(int32_t index) override
    {
        return index >= 0 && index < getCount() ? specs[index].name.c_str() : nullptr;
    }
    Kelvane::CAudioDevice* createDevice(int32_t index) override
    {
        journal.events.push_back(L"create " + std::to_wstring(Type) + L":" + std::to_wstring(index));
        if (index < 0 || index >= getCount())
            return nullptr;
        return new FakeDevice(Type, index, specs[index], journal);
    }

private:
    std::vector<FakeDeviceSpec> specs;
    FakeJournal& journal;
};

using FakeWasapiList = FakeList<Kelvane::CWasapiAudioDeviceList, Kelvane::DriverWasapi>;
using FakeAsioList = FakeList<Kelvane::CAsioAudioDeviceList, Kelvane::DriverAsio>;

} // namespace PomaroTest
