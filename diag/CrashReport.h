#pragma once
// The last word of a failing run: one error box, and the same text as the log's last line.
#include <windows.h>

#include <exception>

// Copy of the record of the structured exception that reached the guard.
extern EXCEPTION_RECORD lastExceptionRecord;

// Filter of the structured-exception guard: keeps the record, always handles.
LONG crashExceptionFilter(EXCEPTION_POINTERS* pointers);
// Handler of that guard: names the exception with its code, flags, address and parameters.
void reportStructuredException();
// Logs the text (when the log is open) and shows it below a fixed lead sentence.
void reportFatalError(const wchar_t* text);

// For the catch clauses around the run sequence: what() is text of the ANSI code page.
void reportFatalException(const std::exception& error);
void reportUnknownException();
