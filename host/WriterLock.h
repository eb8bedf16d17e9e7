#pragma once
// A tiny spin lock that serialises the producers of a single-reader queue.
// Only writers ever take it; the reader of the queue stays lock-free and
// wait-free. Writers are the user-interface and MIDI callback threads, whose
// critical sections are a handful of stores, so contention is brief; a writer
// that keeps losing backs off to the scheduler instead of burning its core.

#include <atomic>
#include <chrono>
#include <thread>

namespace PomaroApp {

class WriterLock
{
public:
	WriterLock () = default;
	WriterLock (const WriterLock&) = delete;
	WriterLock& operator= (const WriterLock&) = delete;

	bool try_lock () noexcept
	{
		return !locked.load (std::memory_order_relaxed) &&
		       !locked.exchange (true, std::memory_order_acquire);
	}

	void lock () noexcept
	{
		unsigned spins = 0;
		while (locked.exchange (true, std::memory_order_acquire))
		{
			while (locked.load (std::memory_order_relaxed))
				backOff (spins++);
		}
	}

	void unlock () noexcept { locked.store (false, std::memory_order_release); }

private:
	static void backOff (unsigned spins) noexcept
	{
		if (spins < 64)
		{
#if defined(__x86_64__) || defined(__i386__)
			__builtin_ia32_pause ();
#endif
		}
		else if (spins < 1024)
			std::this_thread::yield ();
		else // the holder was preempted: do not starve it of the core
			std::this_thread::sleep_for (std::chrono::microseconds (50));
	}

	std::atomic<bool> locked {false};
};

} // namespace PomaroApp
