#include "TestHost.h"

#include "app/AppGlobals.h"

namespace PomaroTest {

void useTestModule() { g_hInstance = GetModuleHandleW(nullptr); }

void drainThreadQueue()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

} // namespace PomaroTest
