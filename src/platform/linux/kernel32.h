// The kernel parts of our Win32 subset that applications do not get from
// kelm3.h: system information, and the hooks through which tests watch and
// disturb global memory.
#pragma once

#include <cstddef>

#include "kelm3_win32.h"

extern "C" {

#define PROCESSOR_INTEL_386 386
#define PROCESSOR_INTEL_486 486
#define PROCESSOR_INTEL_PENTIUM 586
#define PROCESSOR_AMD_X8664 8664

typedef ULONG_PTR DWORD_PTR;

typedef struct _SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

}  // extern "C"

namespace kelm::testing {

// Blocks allocated by GlobalAlloc/LocalAlloc and not yet freed.
std::size_t live_blocks();
// Blocks whose lock count is above zero.
std::size_t locked_blocks();
// Make the n-th allocation from now (1 = the next one) fail, GlobalReAlloc
// growth included; 0 disarms. Each arming fails exactly one allocation.
void fail_allocation(unsigned n);
// Allocations made since the process started (to size injection loops).
unsigned long allocation_count();
// Discard every discardable block that is not locked, as the system does
// under memory pressure: its handle stays valid, GlobalLock returns NULL and
// GlobalFlags reports GMEM_DISCARDED.
void discard_discardable();

}  // namespace kelm::testing
