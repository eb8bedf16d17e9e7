#pragma once
// A MIDI input driver for tests, loaded by Wine's winmm as the audio driver module
// (HKCU\Software\Wine\Drivers, Audio = pomaromidi loads winepomaromidi.drv from
// system32). It lists the input ports its configuration names and plays into them
// what the test hands it as command files: single messages, a driver-paced flood, a
// note whose light on a window it times. Each finished command adds one line to the
// report file.
//
// Configuration: the file named by HKCU\Software\PomaroTest\Midi, value Config:
//   commands = <path>   polled every 10 ms; read, deleted, then run line by line
//   report = <path>     one line appended per command
//   [port]
//   name = <text>       one section per port, in device order
// Commands (numbers decimal, messages hexadecimal with the status in the low byte):
//   send <port> <message>
//   flood <port> <note> <count> <rate>    note-on / note-off of one key, alternating
//   light <port> <note> <top class> <child class> <x> <y>
// The flood's callback timings and the light command are what bench/midi-flood.py
// measures; no test reads them, but the benchmark needs them.

#include <windows.h>
#include <mmsystem.h>

#include <string>
#include <vector>

namespace PomaroTestMidi {

struct PortCallback
{
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    HANDLE handle = nullptr;
    DWORD flags = 0; // the DCB_ type in the low word
};

struct DeliveryStats
{
    double longestMs = 0.0;
    int slow = 0; // callbacks of 5 ms or more
};

// The ports and their state, shared by winmm's calls and the sender thread.
class Ports
{
public:
    void configure(const std::vector<std::wstring>& names);
    UINT count() const;
    bool caps(UINT port, MIDIINCAPSW* out, size_t size) const;
    DWORD open(UINT port, const PortCallback& callback);
    // Stopping returns once no callback of the port runs and none can start.
    DWORD setStarted(UINT port, bool started);
    DWORD close(UINT port);
    // Calls the port's callback with one short message. False when the port is not
    // started: the message is dropped.
    bool deliver(UINT port, DWORD message, DeliveryStats& stats);

    // The thread that delivers data; set once before any port opens.
    DWORD senderThread = 0;

private:
    struct Port
    {
        std::wstring name;
        PortCallback target;
        bool open = false;
        bool started = false;
        bool inCallback = false;
        DWORD startTick = 0;
    };
    void notify(const PortCallback& target, UINT message, DWORD_PTR param1, DWORD_PTR param2) const;

    mutable SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE idle = CONDITION_VARIABLE_INIT;
    std::vector<Port> ports;
};

Ports& ports();

// Milliseconds of the performance counter.
double nowMs();

// Reads the configuration once and starts the thread that runs the commands.
void startSender();

} // namespace PomaroTestMidi
