#pragma once
// A MIDI input service standing in for winmm: several devices, each delivering
// MIM_OPEN, MIM_DATA and MIM_CLOSE to its callback from one thread of the service's
// own. As with winmm, midiInOpen and midiInClose return after their MIM_OPEN and
// MIM_CLOSE were delivered, midiInStop and midiInClose return only after a callback
// in progress has finished, and data flows only while a device is started.
// Installed in the ports' table while the object lives.

#include "input/MidiApi.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace MidiTest {

enum class DeviceKind
{
    Normal,
    HeldElsewhere, // another program has it: midiInOpen answers MMSYSERR_ALLOCATED
    StartFails,    // opens, but midiInStart answers MMSYSERR_ERROR
    NoCaps,        // midiInGetDevCapsW fails
};

struct DeviceSpec
{
    std::wstring name; // more than 31 characters fill the name field without a terminator
    DeviceKind kind = DeviceKind::Normal;
};

class SimulatedWinmm
{
public:
    explicit SimulatedWinmm(std::vector<DeviceSpec> devices);
    ~SimulatedWinmm();
    SimulatedWinmm(const SimulatedWinmm&) = delete;
    SimulatedWinmm& operator=(const SimulatedWinmm&) = delete;

    // Queues a short message (status in the low byte) as device's input. False when
    // the device is not started or its input queue is full (the message is lost).
    bool send(UINT device, uint32_t message);
    // Waits until everything queued has been delivered and no callback runs.
    void flush();

    bool isOpen(UINT device) const;
    bool isStarted(UINT device) const;
    int openCount() const;
    // Calls a careful caller never makes: unknown or closed handles, a second start,
    // flags other than CALLBACK_FUNCTION, stop or close from inside the callback.
    int misuseCount() const;

private:
    struct Device
    {
        DeviceSpec spec;
        bool open = false;
        bool started = false;
        DWORD_PTR callback = 0;
        DWORD_PTR instance = 0;
    };
    struct Event
    {
        size_t device;
        UINT message;
        DWORD_PTR param1;
        uint64_t serial;
    };

    static SimulatedWinmm& current();
    static UINT WINAPI apiGetNumDevs();
    static MMRESULT WINAPI apiGetDevCaps(UINT_PTR deviceId, MIDIINCAPSW* caps, UINT capsSize);
    static MMRESULT WINAPI apiOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                                   DWORD flags);
    static MMRESULT WINAPI apiStart(HMIDIIN handle);
    static MMRESULT WINAPI apiStop(HMIDIIN handle);
    static MMRESULT WINAPI apiClose(HMIDIIN handle);
    // Stop and close: the device takes no more input, its queued input goes, and the
    // call returns once no callback runs (close: after MIM_CLOSE was delivered).
    MMRESULT halt(HMIDIIN handle, bool close);

    // All with the lock held.
    Device* find(HMIDIIN handle, size_t* index);
    HMIDIIN handleOf(size_t index);
    uint64_t queueEvent(size_t device, UINT message, DWORD_PTR param1);
    void waitDelivered(std::unique_lock<std::mutex>& lock, uint64_t serial);
    void dropQueuedData(size_t device);
    bool onServiceThread() const;

    void run();

    static constexpr size_t kQueueLimit = 4096;
    static constexpr size_t kNone = static_cast<size_t>(-1);

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Device> devices;
    std::deque<Event> queue;
    uint64_t nextSerial = 1;
    uint64_t deliveredSerial = 0; // events finish in queue order
    size_t inCallback = kNone;
    int misuse = 0;
    bool quit = false;
    const Kelvane::MidiApi* previous = nullptr;
    std::thread service;
};

} // namespace MidiTest
