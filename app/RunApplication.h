#pragma once
// The run sequence from folders and log to the host's release.

namespace PomaroApp {

// Exit codes of the program.
constexpr int kExitNormal = 0;     // the run ended through the message loop
constexpr int kExitNoPlugin = 1;   // the instrument could not be loaded or its buses do not fit
constexpr int kExitFatalError = 2; // a fatal error was reported (structured or thrown)

// The whole run; returns the exit code. A thrown exception ends it with the fatal
// error report and kExitFatalError, leaving everything as it stands.
int RunApplication();

// RunApplication inside the structured-exception guard: a hardware fault on this
// thread is reported and gives kExitFatalError.
int RunGuardedApplication();

// Ends the process with kExitFatalError once the fatal report was given.
[[noreturn]] void endAfterFatalReport();

} // namespace PomaroApp
