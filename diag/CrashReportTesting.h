#pragma once

namespace PomaroApp {
// For tests only: a run gives one crash report; tests give many.

namespace CrashReportTesting {
// Forgets the kept exception and any report given, as at process start.
void Reset();
} // namespace CrashReportTesting

} // namespace PomaroApp
