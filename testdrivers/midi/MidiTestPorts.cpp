// The ports as winmm sees them. Like a real driver, stop and close return only after
// a callback in progress has finished, and no data is delivered to a stopped port.
#include "testdrivers/midi/MidiTestDriver.h"

#include <mmddk.h>

#include <cwchar>

extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

namespace PomaroTestMidi {

double nowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / perMs;
}

namespace {
class Hold
{
public:
    explicit Hold(SRWLOCK& l) : lock(l) { AcquireSRWLockExclusive(&lock); }
    ~Hold() { ReleaseSRWLockExclusive(&lock); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    SRWLOCK& lock;
};
} // namespace

Ports& ports()
{
    static Ports* all = new Ports(); // lives until the process ends, with the sender
    return *all;
}

void Ports::configure(const std::vector<std::wstring>& names)
{
    Hold hold(lock);
    ports.clear();
    for (const std::wstring& name : names) {
        ports.emplace_back();
        ports.back().name = name;
    }
}

UINT Ports::count() const
{
    Hold hold(lock);
    return static_cast<UINT>(ports.size());
}

bool Ports::caps(UINT port, MIDIINCAPSW* out, size_t size) const
{
    Hold hold(lock);
    if (port >= ports.size() || !out)
        return false;
    MIDIINCAPSW caps{};
    caps.wMid = 0xFF; // "unmapped": no manufacturer
    caps.wPid = 1;
    caps.vDriverVersion = 0x0100;
    // A name of 32 characters or more fills the field without a terminator, as some
    // drivers leave it.
    wcsncpy(caps.szPname, ports[port].name.c_str(), MAXPNAMELEN);
    memcpy(out, &caps, size < sizeof caps ? size : sizeof caps);
    return true;
}

void Ports::notify(const PortCallback& target, UINT message, DWORD_PTR param1, DWORD_PTR param2) const
{
    DriverCallback(target.callback, target.flags, static_cast<HDRVR>(target.handle), message, target.instance,
                   param1, param2);
}

DWORD Ports::open(UINT port, const PortCallback& callback)
{
    {
        Hold hold(lock);
        if (port >= ports.size())
            return MMSYSERR_BADDEVICEID;
        if (ports[port].open)
            return MMSYSERR_ALLOCATED;
        ports[port].open = true;
        ports[port].target = callback;
    }
    notify(callback, MIM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
}

DWORD Ports::setStarted(UINT port, bool started)
{
    Hold hold(lock);
    if (port >= ports.size() || !ports[port].open)
        return MMSYSERR_INVALHANDLE;
    ports[port].started = started;
    ports[port].startTick = GetTickCount();
    // A stop returns once no callback runs; from inside the callback there is nothing to wait for.
    while (!started && ports[port].inCallback && GetCurrentThreadId() != senderThread)
        SleepConditionVariableSRW(&idle, &lock, INFINITE, 0);
    return MMSYSERR_NOERROR;
}

DWORD Ports::close(UINT port)
{
    const DWORD stopped = setStarted(port, false);
    if (stopped != MMSYSERR_NOERROR)
        return stopped;
    PortCallback target;
    {
        Hold hold(lock);
        ports[port].open = false;
        target = ports[port].target;
    }
    notify(target, MIM_CLOSE, 0, 0);
    return MMSYSERR_NOERROR;
}

bool Ports::deliver(UINT port, DWORD message, DeliveryStats& stats)
{
    PortCallback target;
    DWORD stamp = 0;
    {
        Hold hold(lock);
        if (port >= ports.size() || !ports[port].started)
            return false;
        ports[port].inCallback = true;
        target = ports[port].target;
        stamp = GetTickCount() - ports[port].startTick;
    }
    const double begin = nowMs();
    notify(target, MIM_DATA, message, stamp);
    const double took = nowMs() - begin;
    if (took > stats.longestMs)
        stats.longestMs = took;
    if (took >= 5.0)
        ++stats.slow;
    Hold hold(lock);
    ports[port].inCallback = false;
    WakeAllConditionVariable(&idle);
    return true;
}

} // namespace PomaroTestMidi
