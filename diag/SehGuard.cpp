#include "diag/SehGuard.h"

#include <windows.h>

#include "diag/CrashReport.h"

extern "C" {
int pomaro_guarded_call(void (*function)(void*), void* context);
void pomaro_guarded_resume();
EXCEPTION_DISPOSITION pomaro_guard_handler(EXCEPTION_RECORD* record, void* establisherFrame, CONTEXT* context,
                                           void* dispatcherContext);
}

// The frame that the exception handler guards. GCC has no __except, so the frame
// names its own language handler in its unwind data; a taken exception unwinds to
// pomaro_guarded_resume with 1 in rax, the normal path reaches it with 0.
asm(R"(
    .text
    .p2align 4
    .globl pomaro_guarded_call
    .globl pomaro_guarded_resume
    .def pomaro_guarded_call; .scl 2; .type 32; .endef
    .seh_proc pomaro_guarded_call
pomaro_guarded_call:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler pomaro_guard_handler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    xorl %eax, %eax
pomaro_guarded_resume:
    nop
    addq $40, %rsp
    ret
    .seh_endproc
)");

namespace PomaroApp {

namespace {
// libgcc raises C++ throws and its unwinding as 0x2?474343 ("GCC", user bit set).
constexpr DWORD kGccExceptionMask = 0xF0FFFFFFu;
constexpr DWORD kGccException = 0x20474343u;

void callPlain(void* context) { (*static_cast<void (**)()>(context))(); }

void reportKept(void*) { reportStructuredException(); }
} // namespace

extern "C" EXCEPTION_DISPOSITION pomaro_guard_handler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                      CONTEXT* context, void* dispatcherContext)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if ((record->ExceptionCode & kGccExceptionMask) == kGccException)
        return ExceptionContinueSearch;
    EXCEPTION_POINTERS pointers{record, context};
    if (crashExceptionFilter(&pointers) != EXCEPTION_EXECUTE_HANDLER)
        return ExceptionContinueSearch;
    auto* dispatcher = static_cast<DISPATCHER_CONTEXT*>(dispatcherContext);
    RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(&pomaro_guarded_resume), record,
                reinterpret_cast<void*>(static_cast<ULONG_PTR>(1)), dispatcher->ContextRecord,
                dispatcher->HistoryTable);
    return ExceptionContinueSearch; // not reached: the unwind resumes in the guarded frame
}

bool callGuarded(void (*function)(void*), void* context)
{
    return !function || pomaro_guarded_call(function, context) == 0;
}

bool runGuarded(void (*function)(void*), void* context)
{
    if (callGuarded(function, context))
        return true;
    callGuarded(&reportKept, nullptr);
    return false;
}

bool runGuarded(void (*function)())
{
    if (!function)
        return true;
    return runGuarded(&callPlain, &function);
}

} // namespace PomaroApp
