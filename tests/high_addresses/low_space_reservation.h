// The reservation of the address space below 4 GiB that every test program
// of the 64-bit Windows build makes at process attach, and the check that it
// holds, here or in a program a test started.
#pragma once

#include <windows.h>

#include <cstdint>

// Bytes below 4 GiB that `process` could still reserve, found by reserving
// and at once releasing them: 0 while the reservation holds.
uint64_t reservable_low_space(HANDLE process);
