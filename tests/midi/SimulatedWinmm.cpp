#include "SimulatedWinmm.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace MidiTest {

namespace {
std::atomic<SimulatedWinmm*> g_current{nullptr};
}

SimulatedWinmm::SimulatedWinmm(std::vector<DeviceSpec> specs)
{
    for (DeviceSpec& spec : specs)
        devices.push_back(Device{std::move(spec)});
    SimulatedWinmm* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        std::abort(); // one simulated service at a time
    static const Kelvane::MidiApi table = {&apiGetNumDevs, &apiGetDevCaps, &apiOpen,
                                           &apiStart,      &apiStop,       &apiClose};
    previous = Kelvane::setMidiApiForTesting(&table);
    service = std::thread([this] { run(); });
}

SimulatedWinmm::~SimulatedWinmm()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    changed.notify_all();
    service.join();
    Kelvane::setMidiApiForTesting(previous);
    g_current.store(nullptr);
}

SimulatedWinmm& SimulatedWinmm::current()
{
    SimulatedWinmm* sim = g_current.load();
    if (!sim)
        std::abort();
    return *sim;
}

bool SimulatedWinmm::send(UINT device, uint32_t message)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (device >= devices.size() || !devices[device].started || queue.size() >= kQueueLimit)
        return false;
    queueEvent(device, MIM_DATA, message);
    return true;
}

void SimulatedWinmm::flush()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return queue.empty() && inCallback == kNone; });
}

bool SimulatedWinmm::isOpen(UINT device) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return device < devices.size() && devices[device].open;
}

bool SimulatedWinmm::isStarted(UINT device) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return device < devices.size() && devices[device].started;
}

int SimulatedWinmm::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(
        std::count_if(devices.begin(), devices.end(), [](const Device& d) { return d.open; }));
}

int SimulatedWinmm::misuseCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return misuse;
}

SimulatedWinmm::Device* SimulatedWinmm::find(HMIDIIN handle, size_t* index)
{
    for (size_t i = 0; i < devices.size(); ++i) {
        if (handleOf(i) == handle && devices[i].open) {
            *index = i;
            return &devices[i];
        }
    }
    ++misuse;
    return nullptr;
}

HMIDIIN SimulatedWinmm::handleOf(size_t index) { return reinterpret_cast<HMIDIIN>(&devices[index]); }

uint64_t SimulatedWinmm::queueEvent(size_t device, UINT message, DWORD_PTR param1)
{
    const uint64_t serial = nextSerial++;
    queue.push_back(Event{device, message, param1, serial});
    changed.notify_all();
    return serial;
}

void SimulatedWinmm::waitDelivered(std::unique_lock<std::mutex>& lock, uint64_t serial)
{
    changed.wait(lock, [&] { return deliveredSerial >= serial; });
}

void SimulatedWinmm::dropQueuedData(size_t device)
{
    queue.erase(
        std::remove_if(queue.begin(), queue.end(),
                       [device](const Event& e) { return e.device == device && e.message == MIM_DATA; }),
        queue.end());
}

bool SimulatedWinmm::onServiceThread() const { return std::this_thread::get_id() == service.get_id(); }

UINT WINAPI SimulatedWinmm::apiGetNumDevs()
{
    SimulatedWinmm& sim = current();
    std::lock_guard<std::mutex> lock(sim.mutex);
    return static_cast<UINT>(sim.devices.size());
}

MMRESULT WINAPI SimulatedWinmm::apiGetDevCaps(UINT_PTR deviceId, MIDIINCAPSW* caps, UINT capsSize)
{
    SimulatedWinmm& sim = current();
    std::lock_guard<std::mutex> lock(sim.mutex);
    if (deviceId >= sim.devices.size())
        return MMSYSERR_BADDEVICEID;
    if (!caps || capsSize < sizeof(MIDIINCAPSW))
        return MMSYSERR_INVALPARAM;
    const DeviceSpec& spec = sim.devices[deviceId].spec;
    if (spec.kind == DeviceKind::NoCaps)
        return MMSYSERR_NODRIVER;
    *caps = MIDIINCAPSW{};
    caps->wMid = 0xFF;
    caps->wPid = static_cast<WORD>(deviceId);
    const size_t length = std::min<size_t>(spec.name.size(), MAXPNAMELEN);
    std::copy_n(spec.name.begin(), length, caps->szPname);
    // Printable characters right behind the name, so a reader that runs past an
    // unterminated name picks up text.
    caps->dwSupport = 0x00210021;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI SimulatedWinmm::apiOpen(HMIDIIN* handle, UINT deviceId, DWORD_PTR callback,
                                        DWORD_PTR instance, DWORD flags)
{
    SimulatedWinmm& sim = current();
    std::unique_lock<std::mutex> lock(sim.mutex);
    if (!handle || (flags & 0x00070000) != CALLBACK_FUNCTION || !callback) {
        ++sim.misuse;
        return MMSYSERR_INVALPARAM;
    }
    if (deviceId >= sim.devices.size())
        return MMSYSERR_BADDEVICEID;
    Device& device = sim.devices[deviceId];
    if (device.spec.kind == DeviceKind::HeldElsewhere || device.open)
        return MMSYSERR_ALLOCATED;
    device.open = true;
    device.callback = callback;
    device.instance = instance;
    *handle = sim.handleOf(deviceId);
    sim.waitDelivered(lock, sim.queueEvent(deviceId, MIM_OPEN, 0));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI SimulatedWinmm::apiStart(HMIDIIN handle)
{
    SimulatedWinmm& sim = current();
    std::lock_guard<std::mutex> lock(sim.mutex);
    size_t index = 0;
    Device* device = sim.find(handle, &index);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (device->spec.kind == DeviceKind::StartFails)
        return MMSYSERR_ERROR;
    if (device->started)
        ++sim.misuse;
    device->started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWinmm::halt(HMIDIIN handle, bool close)
{
    std::unique_lock<std::mutex> lock(mutex);
    size_t index = 0;
    Device* device = find(handle, &index);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (onServiceThread()) {
        ++misuse;
        return MMSYSERR_ERROR;
    }
    device->started = false;
    dropQueuedData(index);
    if (!close) {
        changed.wait(lock, [&] { return inCallback != index; });
        return MMSYSERR_NOERROR;
    }
    // MIM_CLOSE goes behind a callback in progress, so its delivery means that one ended.
    waitDelivered(lock, queueEvent(index, MIM_CLOSE, 0));
    device->open = false;
    device->callback = 0;
    device->instance = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI SimulatedWinmm::apiStop(HMIDIIN handle) { return current().halt(handle, false); }

MMRESULT WINAPI SimulatedWinmm::apiClose(HMIDIIN handle) { return current().halt(handle, true); }

void SimulatedWinmm::run()
{
    uint32_t timeStamp = 0;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return quit || !queue.empty(); });
        if (queue.empty())
            return;
        const Event event = queue.front();
        queue.pop_front();
        const Device& device = devices[event.device];
        const auto callback = reinterpret_cast<Kelvane::MidiInCallback>(device.callback);
        const DWORD_PTR instance = device.instance;
        const HMIDIIN handle = handleOf(event.device);
        inCallback = event.device;
        lock.unlock();
        callback(handle, event.message, instance, event.param1, timeStamp++);
        lock.lock();
        inCallback = kNone;
        deliveredSerial = event.serial;
        changed.notify_all();
    }
}

} // namespace MidiTest
