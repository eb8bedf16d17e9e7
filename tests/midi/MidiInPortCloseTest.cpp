// Closing while another thread floods the ports with messages: once close (or clear)
// has returned, the listener hears nothing more, not even the tail of a call that was
// running when the close began.

#include "SimulatedWinmm.h"

#include "input/MidiInPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace MidiTest;
using Kelvane::CMidiInPort;
using Kelvane::CMidiInPortList;

namespace {

// Counts calls and any part of a call that happens after the owner declared the
// ports closed. Each call lingers a little, so closes often meet one in progress.
class WatchingListener final : public Kelvane::IMidiDataListener
{
public:
    void onMidiData(const uint8_t* message) override
    {
        if (closed.load(std::memory_order_acquire))
            late.fetch_add(1, std::memory_order_relaxed);
        if (message[0] != 0x90)
            corrupt.fetch_add(1, std::memory_order_relaxed);
        calls.fetch_add(1, std::memory_order_release);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (closed.load(std::memory_order_acquire))
            late.fetch_add(1, std::memory_order_relaxed);
    }

    std::atomic<bool> closed{false};
    std::atomic<int> calls{0};
    std::atomic<int> late{0};
    std::atomic<int> corrupt{0};
};

// Sends note-ons round the devices until told to stop.
class Flood
{
public:
    Flood(SimulatedWinmm& sim, UINT devices)
        : thread([this, &sim, devices] {
              for (uint32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                  if (!sim.send(i % devices, 0x00400090u | (i % 128) << 8))
                      std::this_thread::yield();
              }
          })
    {}
    ~Flood()
    {
        stop.store(true);
        thread.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

void waitForCalls(const WatchingListener& listener, int atLeast)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (listener.calls.load(std::memory_order_acquire) < atLeast &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
}

constexpr int kRounds = 40;

} // namespace

TEST(MidiInPortClose, NothingReachesTheListenerAfterCloseReturned)
{
    SimulatedWinmm sim({{L"Keys A"}});
    int total = 0;
    for (int round = 0; round < kRounds; ++round) {
        WatchingListener listener;
        CMidiInPort port;
        ASSERT_TRUE(port.open(0, &listener));
        {
            Flood flood(sim, 1);
            waitForCalls(listener, 3 + round % 5);
            port.close();
            listener.closed.store(true, std::memory_order_release);
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the flood goes on
        }
        EXPECT_EQ(listener.late.load(), 0) << "round " << round;
        EXPECT_EQ(listener.corrupt.load(), 0);
        total += listener.calls.load();
    }
    EXPECT_GE(total, 3 * kRounds);
    EXPECT_EQ(sim.misuseCount(), 0);
}

TEST(MidiInPortClose, NothingReachesTheListenerAfterClearReturned)
{
    SimulatedWinmm sim({{L"Keys A"}, {L"Held", DeviceKind::HeldElsewhere}, {L"Pads"}, {L"Drums"}});
    for (int round = 0; round < kRounds; ++round) {
        WatchingListener listener;
        CMidiInPortList list;
        ASSERT_TRUE(list.openAll(&listener));
        {
            Flood flood(sim, 4);
            waitForCalls(listener, 6);
            list.clear();
            listener.closed.store(true, std::memory_order_release);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_EQ(listener.late.load(), 0) << "round " << round;
        EXPECT_EQ(listener.corrupt.load(), 0);
    }
    EXPECT_EQ(sim.openCount(), 0);
    EXPECT_EQ(sim.misuseCount(), 0);
}
