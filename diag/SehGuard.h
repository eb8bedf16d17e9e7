#pragma once
// Runs a function under a structured-exception guard, as __try/__except would with
// crashExceptionFilter as filter and reportStructuredException as handler.
//
// Only an exception that nothing inside the function handles reaches the guard.
// C++ exceptions are never taken: they keep propagating to the catch clauses inside
// the function or, if they escape it, out of RunGuarded to the caller.
// Returns true when the function returned, false when a structured exception was
// reported; the stack of the function is then abandoned without running destructors.

bool RunGuarded(void (*function)(void*), void* context);
bool RunGuarded(void (*function)());
