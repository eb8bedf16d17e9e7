#pragma once
// The last word of a failing run: one error box, and the same text as the log's last line.
// It is given at most once per run, by the first fatal error on any thread.
#include <windows.h>

#include <exception>

namespace PomaroApp {

// Copy of the record of the first structured exception that reached a guard.
extern EXCEPTION_RECORD lastExceptionRecord;

// Filter of the structured-exception guards: keeps the record of the first exception
// only (no allocation, no window, so an audio thread may run it), always handles.
LONG crashExceptionFilter(EXCEPTION_POINTERS* pointers);
// Handler of the guard on the user-interface thread: names the kept exception with its
// code, flags, address and parameters. False, with nothing shown, when no exception was
// kept or a report was already given.
bool reportStructuredException();
// Logs the text (when the log is open) and shows it below a fixed lead sentence; a
// structured exception kept earlier is reported instead. False when a report was
// already given.
bool reportFatalError(const wchar_t* text);
// True from the first fatal error on: the program is about to end, and nothing should
// call the plug-in any more.
bool fatalErrorRecorded();

// For the catch clauses around the run sequence: what() is text of the ANSI code page.
void reportFatalException(const std::exception& error);
void reportUnknownException();

} // namespace PomaroApp
