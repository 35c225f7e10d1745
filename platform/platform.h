// The one seam between the portable libraries and the operating system:
// private heaps, re-entrant locks, the atomics behind run-once, and UTF-16
// routines. The Win32 side makes the real calls; the POSIX side is a small
// implementation of our own with the same behaviour, so the portable
// libraries build natively for the sanitizers and fuzzers.
#pragma once

#include <cstdint>

// A record's size at this width, from its 32-bit and its 64-bit layout: the
// records keep their 32-bit layout, and each states both.
constexpr unsigned by_width(unsigned at_32_bits, unsigned at_64_bits)
{
    return sizeof(void*) == 4 ? at_32_bits : at_64_bits;
}

// One 16-bit code-unit type across all portable code. On Windows it has
// wchar_t's size and representation; the cast happens at the Win32 calls.
using unit16 = char16_t;

// ---- Private heaps -------------------------------------------------------
// A heap is growable with no maximum; destroying it frees everything it gave.
using HeapHandle = void*;

// Options 0, initial size 4096, no maximum. Null when the system refuses; a
// null heap supplies no block, and freeing into it or destroying it does nothing.
HeapHandle heap_create();
void heap_destroy(HeapHandle heap);
// Null when the heap cannot supply the block. zero = 1 fills it with zeros.
void* heap_alloc(HeapHandle heap, uint32_t size, int zero);
// May move the block; null (and the old block intact) when it cannot grow.
void* heap_realloc(HeapHandle heap, void* block, uint32_t size);
void heap_free(HeapHandle heap, void* block);

// ---- Test hooks ---------------------------------------------------------------
// The allocations are the calls of heap_create, heap_alloc, heap_realloc and
// u16_dup, numbered from 1 after the latest heap_fail_next or heap_fail_range.

// The next `count` allocations fail as if memory were exhausted. 0 ends the refusal.
void heap_fail_next(int count);
// Allocations first .. first + count - 1 fail; HEAP_FAIL_REST: every one from first on.
constexpr uint32_t HEAP_FAIL_REST = UINT32_MAX;
void heap_fail_range(uint32_t first, uint32_t count);
// Allocations made since the numbering began, refused ones included.
uint32_t heap_allocations();

// What is still held: heaps not destroyed, and blocks neither freed nor gone
// with their heap (u16_dup's duplicates included).
struct HeapUsage {
    int32_t heaps;
    int32_t blocks;
};
HeapUsage heap_usage();

// ---- Re-entrant locks ----------------------------------------------------
// Same size as a Win32 critical section on 32-bit Windows, so records that
// embed a lock keep their layout in both builds.
struct PlatformLock {
    alignas(sizeof(void*)) unsigned char storage[sizeof(void*) == 4 ? 24 : 40];
};

void lock_init(PlatformLock* lock);
void lock_delete(PlatformLock* lock);
void lock_enter(PlatformLock* lock);
void lock_leave(PlatformLock* lock);

// ---- Atomics and run-once building blocks -----------------------------------
// Both return the value the word held before the call (full barriers).
int32_t atomic_compare_exchange(volatile int32_t* word, int32_t exchange,
                                int32_t comparand);
int32_t atomic_exchange(volatile int32_t* word, int32_t value);
// Gives up the rest of the time slice (a zero-length sleep).
void thread_yield();

// A once-word has the size and alignment of the system's one-time object
// (INIT_ONCE, one pointer), which the system primitive writes whole. Without
// that primitive the word holds 0 (not started), 1 (running) or 2 (done).
using OnceWord = intptr_t;
// As the two atomics above, on a once-word.
OnceWord once_compare_exchange(volatile OnceWord* word, OnceWord exchange, OnceWord comparand);
OnceWord once_exchange(volatile OnceWord* word, OnceWord value);

// Runs `routine` through the system's own one-time initialisation, found by
// name at run time, with `once_word` as its one-time object. Returns 1 when
// the system primitive was there and did the work, 0 when it is missing (the
// caller then falls back to once_compare_exchange on the word).
int system_run_once(volatile OnceWord* once_word, void (*routine)());

// ---- UTF-16 routines -----------------------------------------------------
// As the platform's C runtime defines them; none accepts null.
uint32_t u16_len(const unit16* s);
// Compares at most n units; <0, 0, >0 like wcsncmp.
int u16_ncmp(const unit16* a, const unit16* b, uint32_t n);
// As u16_ncmp, folding only A-Z to a-z (the C runtime in the "C" locale).
int u16_nicmp(const unit16* a, const unit16* b, uint32_t n);
// Copies n units (wcsncpy: pads with zeros after a shorter source).
void u16_ncopy(unit16* dst, const unit16* src, uint32_t n);
// Duplicate on the C runtime's heap (_wcsdup); null when memory is short.
unit16* u16_dup(const unit16* s);
// Releases a duplicate made by u16_dup (free).
void u16_free(unit16* s);
