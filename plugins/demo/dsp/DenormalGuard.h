// Sets flush-to-zero and denormals-are-zero for the lifetime of the guard and
// restores the caller's mode: decaying tails then never hit the slow path.
#pragma once

#if defined(__SSE__) || defined(_M_X64) || defined(_M_AMD64)
#include <xmmintrin.h>
#define POMARO_DEMO_HAVE_MXCSR 1
#endif

namespace PomaroDemo {

class DenormalGuard
{
public:
#ifdef POMARO_DEMO_HAVE_MXCSR
    DenormalGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFtzDaz); }
    ~DenormalGuard() { _mm_setcsr(saved_); }
#else
    DenormalGuard() {}
#endif
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

private:
#ifdef POMARO_DEMO_HAVE_MXCSR
    static constexpr unsigned kFtzDaz = 0x8040u; // FZ (bit 15) | DAZ (bit 6)
    unsigned saved_;
#endif
};

} // namespace PomaroDemo
