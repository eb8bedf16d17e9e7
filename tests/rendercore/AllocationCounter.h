#pragma once
// Counts heap allocations made while counting is switched on: operator new in every
// form, and on glibc without a sanitizer also malloc, calloc, realloc and
// aligned_alloc. Only one thread may count at a time.

#include <cstdint>

namespace RenderCoreTest {

void startCountingAllocations();
// Returns the allocations since startCountingAllocations.
std::uint64_t stopCountingAllocations();
// Whether C allocation functions are counted too in this build.
bool countsMalloc();

} // namespace RenderCoreTest
