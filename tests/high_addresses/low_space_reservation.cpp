// Linked into every test program of the 64-bit Windows build: takes all the
// free address space below 4 GiB before the program under test makes any
// heap or record, so that every address the program hands out needs more
// than 32 bits. Wine places a 64-bit program's heaps low otherwise, where
// code that cuts an address to 32 bits would still happen to work.
//
// A TLS callback runs at process attach, before the C runtime starts the
// program and so before any static initializer; the loader calls every
// callback placed between the sections .CRT$XLA and .CRT$XLZ.
#include "tests/high_addresses/low_space_reservation.h"

namespace {

constexpr uintptr_t FOUR_GIB = uintptr_t{1} << 32;

// Reserves what the system grants of the range in `process`, and with
// `keep` false gives each grant back at once (a probe). Wine reports some
// ranges of its own as free but refuses to reserve them, and refuses a
// larger range that holds one, so a refused range is halved until the
// refusal is down to single granules. Returns the bytes granted.
uint64_t reserve_range(HANDLE process, uintptr_t start, uintptr_t size, uintptr_t granularity,
                       bool keep)
{
    if (void* granted = VirtualAllocEx(process, reinterpret_cast<void*>(start), size, MEM_RESERVE,
                                       PAGE_NOACCESS)) {
        if (!keep)
            VirtualFreeEx(process, granted, 0, MEM_RELEASE);
        return size;
    }
    if (size <= granularity)
        return 0;
    uintptr_t half = (size / 2) & ~(granularity - 1);
    if (half < granularity)
        half = granularity;
    return reserve_range(process, start, half, granularity, keep) +
           reserve_range(process, start + half, size - half, granularity, keep);
}

// Every free region below 4 GiB, from its first granule on: a reservation
// starts at the allocation granularity, so a sliver before it cannot be taken.
uint64_t reserve_low_space(HANDLE process, bool keep)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t granularity = system.dwAllocationGranularity;
    uintptr_t address = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
    uint64_t granted = 0;
    MEMORY_BASIC_INFORMATION region;
    while (address < FOUR_GIB &&
           VirtualQueryEx(process, reinterpret_cast<void*>(address), &region, sizeof(region))) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(region.BaseAddress);
        const uintptr_t next = base + region.RegionSize;
        const uintptr_t start = (base + granularity - 1) & ~(granularity - 1);
        const uintptr_t end = next < FOUR_GIB ? next : FOUR_GIB;
        if (region.State == MEM_FREE && start < end)
            granted += reserve_range(process, start, end - start, granularity, keep);
        address = next;
    }
    return granted;
}

void NTAPI reserve_at_attach(void*, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        reserve_low_space(GetCurrentProcess(), true);
}

}  // namespace

uint64_t reservable_low_space(HANDLE process)
{
    return reserve_low_space(process, false);
}

// Kept by the linker although nothing names it: the loader finds it by its section.
extern "C" __attribute__((used, section(".CRT$XLB")))
const PIMAGE_TLS_CALLBACK glyph_reserve_low_space = reserve_at_attach;
