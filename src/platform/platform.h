// The one header through which library code sees the operating system.
// On Windows it is <windows.h>; elsewhere it is our own subset of Win32,
// faithful to the Win32 behaviour the library relies on. Library code outside
// src/platform never tests which platform it is on.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#else
#include "kelm3_win32.h"
#include "platform/linux/kernel32.h"
#endif

namespace kelm {

// Multiply then divide with a 64-bit intermediate, rounding the quotient to
// the nearest integer with halves away from zero; -1 for a zero divisor or a
// result outside 32 bits. Our own on every platform so that every
// proportional mapping gives the same numbers everywhere.
int MulDiv(int number, int numerator, int denominator);

// Load-time state: the module handle and whether the processor is better than
// a 386 (read by grey scaling).
struct LibraryState {
    HINSTANCE hInstance;
    int processorFlag;
};
extern LibraryState g_state;

// Stores the module handle and sets the processor flag; the entry point calls
// it for every reason code.
void library_attach(HINSTANCE hInstance);

}  // namespace kelm
