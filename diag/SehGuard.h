#pragma once

namespace PomaroApp {
// Runs a function under a structured-exception guard, as __try/__except would with
// crashExceptionFilter as filter and reportStructuredException as handler.
//
// Only an exception that nothing inside the function handles reaches the guard.
// C++ exceptions are never taken: they keep propagating to the catch clauses inside
// the function or, if they escape it, out of runGuarded to the caller.
// Returns true when the function returned, false when a structured exception was
// taken; the stack of the function is then abandoned without running destructors.
// The report is made at most once per run (see CrashReport.h): a later exception is
// taken the same way but reported no more.

// The user-interface thread's guard: the exception is reported before it returns,
// under the same guard, so a second fault while the report's box is on screen
// (its message loop still runs the timer and the editor) ends the report quietly.
bool runGuarded(void (*function)(void*), void* context);
bool runGuarded(void (*function)());

// The guard alone, for the audio thread: the exception is kept for a report that the
// user-interface thread gives (reportStructuredException). No allocation, no window,
// no system call unless an exception is raised. Thrown C++ exceptions pass through.
bool callGuarded(void (*function)(void*), void* context);

} // namespace PomaroApp
