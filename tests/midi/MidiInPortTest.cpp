// MIDI input ports against a simulated MIDI service in winmm's place: several devices,
// each delivering MIM_OPEN, MIM_DATA and MIM_CLOSE to its callback from one thread of the
// service's own. As with winmm, open and close return after their MIM_OPEN and MIM_CLOSE
// were delivered, stop and close return only after a callback in progress has finished,
// and data flows only while a device is started.
#include "input/MidiInPort.h"
#include "tests/diag/DiagTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Kelvane::CMidiInPort;
using Kelvane::CMidiInPortList;

namespace {

enum class Kind
{
    Normal,
    HeldElsewhere, // another program has it: open answers MMSYSERR_ALLOCATED
    StartFails,    // opens, but start answers MMSYSERR_ERROR
    NoCaps,        // the capabilities cannot be read
};

struct Spec
{
    std::wstring name; // more than 31 characters fill the name field without a terminator
    Kind kind = Kind::Normal;
};

class SimulatedWinmm
{
    template <class F> auto locked(F f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return f();
    }

public:
    explicit SimulatedWinmm(std::vector<Spec> specs)
    {
        for (Spec& s : specs)
            devices.push_back(Device{std::move(s)});
        sim = this;
        static const Kelvane::MidiApi table = {&numDevs, &devCaps, &open, &start, &stop, &close};
        previous = Kelvane::setMidiApiForTesting(&table);
        service = std::thread([this] { run(); });
    }
    ~SimulatedWinmm()
    {
        locked([&] { quit = true; });
        changed.notify_all();
        service.join();
        Kelvane::setMidiApiForTesting(previous);
        sim = nullptr;
    }

    // Queues a short message (status in the low byte) as a device's input. False when the
    // device is not started or its input queue is full (the message is lost).
    bool send(UINT d, uint32_t message)
    {
        return locked([&] {
            return d < devices.size() && devices[d].started && queue.size() < 4096 &&
                   post(d, MIM_DATA, message);
        });
    }
    // Waits until everything queued has been delivered and no callback runs.
    void flush()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return queue.empty() && inCallback == kNone; });
    }
    bool isOpen(UINT d)
    {
        return locked([&] { return devices.at(d).open; });
    }
    bool isStarted(UINT d)
    {
        return locked([&] { return devices.at(d).started; });
    }
    int openCount()
    {
        return locked([&] {
            return int(std::count_if(devices.begin(), devices.end(), [](auto& d) { return d.open; }));
        });
    }
    // Calls a careful caller never makes: unknown or closed handles, a second start, flags
    // other than CALLBACK_FUNCTION, stop or close from inside the callback.
    int misuse = 0;

private:
    struct Device
    {
        Spec spec;
        bool open = false, started = false;
        DWORD_PTR callback = 0, instance = 0;
    };
    struct Event
    {
        size_t device;
        UINT message;
        DWORD_PTR param1;
        uint64_t serial;
    };
    static constexpr size_t kNone = size_t(-1);

    HMIDIIN handleOf(size_t i) { return reinterpret_cast<HMIDIIN>(&devices[i]); }
    // With the lock held: the device of an open handle, or kNone for misuse.
    size_t find(HMIDIIN handle)
    {
        for (size_t i = 0; i < devices.size(); ++i)
            if (handleOf(i) == handle && devices[i].open)
                return i;
        ++misuse;
        return kNone;
    }
    uint64_t post(size_t d, UINT message, DWORD_PTR param1)
    {
        queue.push_back(Event{d, message, param1, nextSerial});
        changed.notify_all();
        return nextSerial++;
    }
    void waitDelivered(std::unique_lock<std::mutex>& lock, uint64_t serial)
    {
        changed.wait(lock, [&] { return delivered >= serial; });
    }

    static UINT WINAPI numDevs()
    {
        return sim->locked([] { return UINT(sim->devices.size()); });
    }
    static MMRESULT WINAPI devCaps(UINT_PTR id, MIDIINCAPSW* caps, UINT size)
    {
        std::lock_guard<std::mutex> lock(sim->mutex);
        if (id >= sim->devices.size())
            return MMSYSERR_BADDEVICEID;
        if (!caps || size < sizeof(MIDIINCAPSW))
            return MMSYSERR_INVALPARAM;
        const Spec& spec = sim->devices[id].spec;
        if (spec.kind == Kind::NoCaps)
            return MMSYSERR_NODRIVER;
        *caps = MIDIINCAPSW{};
        std::copy_n(spec.name.begin(), std::min<size_t>(spec.name.size(), MAXPNAMELEN), caps->szPname);
        // Printable characters right behind the name, so a reader that runs past an
        // unterminated name picks up text.
        caps->dwSupport = 0x00210021;
        return MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI open(HMIDIIN* handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
    {
        std::unique_lock<std::mutex> lock(sim->mutex);
        if (!handle || (flags & 0x00070000) != CALLBACK_FUNCTION || !callback) {
            ++sim->misuse;
            return MMSYSERR_INVALPARAM;
        }
        if (id >= sim->devices.size())
            return MMSYSERR_BADDEVICEID;
        Device& d = sim->devices[id];
        if (d.spec.kind == Kind::HeldElsewhere || d.open)
            return MMSYSERR_ALLOCATED;
        d.open = true;
        d.callback = callback;
        d.instance = instance;
        *handle = sim->handleOf(id);
        sim->waitDelivered(lock, sim->post(id, MIM_OPEN, 0));
        return MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI start(HMIDIIN handle)
    {
        std::lock_guard<std::mutex> lock(sim->mutex);
        const size_t i = sim->find(handle);
        if (i == kNone)
            return MMSYSERR_INVALHANDLE;
        if (sim->devices[i].spec.kind == Kind::StartFails)
            return MMSYSERR_ERROR;
        sim->misuse += sim->devices[i].started;
        sim->devices[i].started = true;
        return MMSYSERR_NOERROR;
    }
    static MMRESULT WINAPI stop(HMIDIIN handle) { return sim->halt(handle, false); }
    static MMRESULT WINAPI close(HMIDIIN handle) { return sim->halt(handle, true); }
    // The device takes no more input, its queued input goes, and the call returns once no
    // callback runs (close: after MIM_CLOSE was delivered).
    MMRESULT halt(HMIDIIN handle, bool closing)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const size_t i = find(handle);
        if (i == kNone)
            return MMSYSERR_INVALHANDLE;
        if (std::this_thread::get_id() == service.get_id()) {
            ++misuse;
            return MMSYSERR_ERROR;
        }
        devices[i].started = false;
        queue.erase(std::remove_if(queue.begin(), queue.end(),
                                   [i](const Event& e) { return e.device == i && e.message == MIM_DATA; }),
                    queue.end());
        if (!closing) {
            changed.wait(lock, [&] { return inCallback != i; });
            return MMSYSERR_NOERROR;
        }
        // MIM_CLOSE goes behind a callback in progress, so its delivery means that one ended.
        waitDelivered(lock, post(i, MIM_CLOSE, 0));
        devices[i] = Device{devices[i].spec};
        return MMSYSERR_NOERROR;
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (uint32_t timeStamp = 0;; ++timeStamp) {
            changed.wait(lock, [this] { return quit || !queue.empty(); });
            if (queue.empty())
                return;
            const Event e = queue.front();
            queue.pop_front();
            const Device d = devices[e.device];
            inCallback = e.device;
            lock.unlock();
            reinterpret_cast<Kelvane::MidiInCallback>(d.callback)(handleOf(e.device), e.message, d.instance,
                                                                  e.param1, timeStamp);
            lock.lock();
            inCallback = kNone;
            delivered = e.serial;
            changed.notify_all();
        }
    }

    static SimulatedWinmm* sim;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Device> devices;
    std::deque<Event> queue;
    uint64_t nextSerial = 1, delivered = 0; // events finish in queue order
    size_t inCallback = kNone;
    bool quit = false;
    const Kelvane::MidiApi* previous = nullptr;
    std::thread service;
};
SimulatedWinmm* SimulatedWinmm::sim = nullptr;

using Bytes = std::array<uint8_t, 4>;

// Keeps every message it is given, from whatever thread.
class RecordingListener final : public Kelvane::IMidiDataListener
{
public:
    void onMidiData(const uint8_t* m) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(Bytes{m[0], m[1], m[2], m[3]});
    }
    std::vector<Bytes> messages()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

private:
    std::mutex mutex;
    std::vector<Bytes> received;
};

const std::wstring kStarted = L"MIDI入力を開始しました：";
const std::wstring kEnded = L"MIDI入力を終了しました：";
using Lines = std::vector<std::wstring>;

bool isStarted(const CMidiInPort& port) { return port.handle != nullptr && port.listener.load() != nullptr; }
bool isClosed(const CMidiInPort& port) { return port.handle == nullptr && port.listener.load() == nullptr; }

} // namespace

// Five devices: one held by another program, one that opens but cannot start, one whose
// capabilities cannot be read, two that work (the last with a name that fills its field).
TEST(MidiInPortList, OpensEveryDeviceThatWorksAndLogsWhatOpened)
{
    LogCapture log;
    RecordingListener listener;
    const std::wstring longName(40, L'P');
    SimulatedWinmm sim({{L"Keys A"},
                        {L"Held", Kind::HeldElsewhere},
                        {L"Stuck", Kind::StartFails},
                        {L"Ghost", Kind::NoCaps},
                        {longName}});
    const std::wstring pads = longName.substr(0, MAXPNAMELEN);
    {
        CMidiInPortList list;
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_EQ(list.count, 5);
        const bool started[] = {true, false, false, false, true};
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(started[i] ? isStarted(list.ports[i]) : isClosed(list.ports[i])) << i;
        EXPECT_EQ(sim.openCount(), 2);
        EXPECT_EQ(log.lines(),
                  (Lines{kStarted + L"Keys A", kStarted + L"Stuck", kEnded + L"Stuck", kStarted + pads}));

        // Every short message arrives whole and in order, as winmm packed it, whatever the
        // status; none from a device that is not started.
        std::vector<Bytes> expected;
        for (uint32_t i = 0; i < 600; ++i) {
            const Bytes b{uint8_t(0x80 | (i % 0x70)), uint8_t(i % 128), uint8_t((i * 7) % 128),
                          uint8_t(i % 3 == 0 ? 0 : 0xA5)};
            const uint32_t packed = b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
            EXPECT_TRUE(sim.send(i % 2 ? 4 : 0, packed));
            expected.push_back(b);
            sim.flush();
        }
        EXPECT_FALSE(sim.send(1, 0x00643D90));
        EXPECT_FALSE(sim.send(2, 0x00643E90));
        EXPECT_FALSE(sim.send(3, 0x00643F90));
        sim.flush();
        EXPECT_EQ(listener.messages(), expected);

        list.clear();
        list.clear();
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.ports, nullptr);
        EXPECT_EQ(sim.openCount(), 0);
        // The array goes as arrays do, last element first.
        EXPECT_EQ(log.newLines(), (Lines{kStarted + L"Keys A", kStarted + L"Stuck", kEnded + L"Stuck",
                                         kStarted + pads, kEnded + pads, kEnded + L"Keys A"}));

        // Opening again after a clear works as the first time, and a second openAll closes
        // the ports of the first before it reopens them; a null listener changes nothing.
        ASSERT_TRUE(list.openAll(&listener));
        ASSERT_TRUE(list.openAll(&listener));
        EXPECT_FALSE(list.openAll(nullptr));
        EXPECT_EQ(sim.openCount(), 2);
        EXPECT_EQ(log.newLines().size(), 4u + 2 + 4);
    } // the list's destructor closes what is open
    EXPECT_EQ(sim.openCount(), 0);
    EXPECT_EQ(log.newLines().size(), 2u);
    EXPECT_EQ(sim.misuse, 0);

    SimulatedWinmm none({});
    CMidiInPortList list;
    EXPECT_FALSE(list.openAll(&listener));
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.ports, nullptr);
}

TEST(MidiInPort, OpenCloseReopenAndWhatTheCallbackIgnores)
{
    LogCapture log;
    RecordingListener first, second;
    SimulatedWinmm sim({{L"Keys A"}, {L"Pads"}});
    {
        CMidiInPort port;
        EXPECT_FALSE(port.open(0, nullptr));
        EXPECT_EQ(sim.openCount(), 0);
        EXPECT_FALSE(port.open(7, &first)); // no such device
        EXPECT_TRUE(isClosed(port));

        ASSERT_TRUE(port.open(0, &first));
        EXPECT_TRUE(sim.isStarted(0));
        // Only data reaches the listener; long messages and errors are not its business.
        const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(&port);
        for (UINT message : {MIM_LONGDATA, MIM_ERROR, MIM_LONGERROR, MIM_MOREDATA, 0u, 0x3FFu})
            CMidiInPort::midiInProc(port.handle, message, self, 0x00643C90, 0);
        CMidiInPort::midiInProc(port.handle, MIM_DATA, 0, 0x00643C90, 0); // no port
        EXPECT_TRUE(first.messages().empty());

        // Reopening moves the port to another device and listener.
        ASSERT_TRUE(port.open(1, &second));
        EXPECT_FALSE(sim.isOpen(0));
        EXPECT_TRUE(sim.isStarted(1));
        EXPECT_FALSE(sim.send(0, 0x00643C90));
        EXPECT_TRUE(sim.send(1, 0x00643C90));
        sim.flush();
        EXPECT_TRUE(first.messages().empty());
        EXPECT_EQ(second.messages().size(), 1u);

        port.close();
        EXPECT_TRUE(isClosed(port));
        EXPECT_FALSE(sim.isOpen(1));
        // A message the service still hands over as the port closes reaches nobody.
        CMidiInPort::midiInProc(nullptr, MIM_DATA, self, 0x00643C90, 0);
        EXPECT_EQ(second.messages().size(), 1u);
        port.close();
        ASSERT_TRUE(port.open(0, &first));
    } // destroying a started port closes it
    EXPECT_EQ(sim.openCount(), 0);
    EXPECT_EQ(sim.misuse, 0);
    EXPECT_EQ(log.lines(), (Lines{kStarted + L"Keys A", kEnded + L"Keys A", kStarted + L"Pads",
                                  kEnded + L"Pads", kStarted + L"Keys A", kEnded + L"Keys A"}));
}
