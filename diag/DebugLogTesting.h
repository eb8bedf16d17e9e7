#pragma once

namespace PomaroApp {
// For tests only: the program opens its log once and never closes it.

namespace DebugLogTesting {
// Closes the file, deletes the lock and forgets the caption, as at process start.
void Reset();
} // namespace DebugLogTesting

} // namespace PomaroApp
