// Win32 side of the seam: the real kernel32 and msvcrt calls.
#include "platform/platform.h"

#include "platform/heap_hooks.h"

#include <windows.h>
#include <cwchar>
#include <cstdlib>

static_assert(sizeof(PlatformLock) == sizeof(CRITICAL_SECTION),
              "PlatformLock must embed a critical section exactly");
static_assert(sizeof(unit16) == sizeof(wchar_t), "UTF-16 units are wchar_t");
static_assert(sizeof(OnceWord) == sizeof(INIT_ONCE) && alignof(OnceWord) >= alignof(INIT_ONCE),
              "the system writes its one-time object over the whole once-word");

// A heap that could not be created is null: nothing can come from it, and
// freeing or destroying it does nothing, as on the POSIX side.
HeapHandle heap_create()
{
    HeapHandle heap = hooks_refuse_allocation() ? nullptr : HeapCreate(0, 4096, 0);
    if (heap)
        hooks_heap_created(heap);
    return heap;
}

void heap_destroy(HeapHandle heap)
{
    if (!heap)
        return;
    hooks_heap_destroyed(heap);
    HeapDestroy(heap);
}

void* heap_alloc(HeapHandle heap, uint32_t size, int zero)
{
    if (hooks_refuse_allocation() || !heap)
        return nullptr;
    void* block = HeapAlloc(heap, zero ? HEAP_ZERO_MEMORY : 0, size);
    if (block)
        hooks_block_taken(heap);
    return block;
}

void* heap_realloc(HeapHandle heap, void* block, uint32_t size)
{
    if (hooks_refuse_allocation() || !heap || !block)
        return nullptr;
    return HeapReAlloc(heap, 0, block, size);
}

void heap_free(HeapHandle heap, void* block)
{
    if (!heap || !block)
        return;
    hooks_block_returned(heap);
    HeapFree(heap, 0, block);
}

static CRITICAL_SECTION* as_section(PlatformLock* lock)
{
    return reinterpret_cast<CRITICAL_SECTION*>(lock->storage);
}

void lock_init(PlatformLock* lock) { InitializeCriticalSection(as_section(lock)); }
void lock_delete(PlatformLock* lock) { DeleteCriticalSection(as_section(lock)); }
void lock_enter(PlatformLock* lock) { EnterCriticalSection(as_section(lock)); }
void lock_leave(PlatformLock* lock) { LeaveCriticalSection(as_section(lock)); }

int32_t atomic_compare_exchange(volatile int32_t* word, int32_t exchange,
                                int32_t comparand)
{
    return InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(word),
                                      exchange, comparand);
}

int32_t atomic_exchange(volatile int32_t* word, int32_t value)
{
    return InterlockedExchange(reinterpret_cast<volatile LONG*>(word), value);
}

OnceWord once_compare_exchange(volatile OnceWord* word, OnceWord exchange, OnceWord comparand)
{
    return reinterpret_cast<OnceWord>(InterlockedCompareExchangePointer(
        reinterpret_cast<void* volatile*>(word), reinterpret_cast<void*>(exchange),
        reinterpret_cast<void*>(comparand)));
}

OnceWord once_exchange(volatile OnceWord* word, OnceWord value)
{
    return reinterpret_cast<OnceWord>(InterlockedExchangePointer(
        reinterpret_cast<void* volatile*>(word), reinterpret_cast<void*>(value)));
}

void thread_yield() { Sleep(0); }

typedef BOOL(WINAPI* InitOnceExecuteOnceFn)(INIT_ONCE*, BOOL(CALLBACK*)(INIT_ONCE*, void*, void**),
                                            void*, void**);

// The system calls this once; the routine travels as the parameter.
static BOOL CALLBACK run_once_adapter(INIT_ONCE*, void* parameter, void** context)
{
    reinterpret_cast<void (*)()>(parameter)();
    // Nobody reads the context; any value the system accepts will do.
    *context = reinterpret_cast<void*>(4);
    return TRUE;
}

int system_run_once(volatile OnceWord* once_word, void (*routine)())
{
    HMODULE kernel = LoadLibraryW(L"Kernel32.dll");
    if (!kernel)
        return 0;
    auto execute_once = reinterpret_cast<InitOnceExecuteOnceFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "InitOnceExecuteOnce")));
    if (execute_once) {
        void* context = nullptr;
        execute_once(reinterpret_cast<INIT_ONCE*>(const_cast<OnceWord*>(once_word)), run_once_adapter,
                     reinterpret_cast<void*>(routine), &context);
    }
    FreeLibrary(kernel);
    return execute_once != nullptr;
}

static const wchar_t* w(const unit16* s) { return reinterpret_cast<const wchar_t*>(s); }

uint32_t u16_len(const unit16* s) { return static_cast<uint32_t>(wcslen(w(s))); }

int u16_ncmp(const unit16* a, const unit16* b, uint32_t n) { return wcsncmp(w(a), w(b), n); }

int u16_nicmp(const unit16* a, const unit16* b, uint32_t n) { return _wcsnicmp(w(a), w(b), n); }

void u16_ncopy(unit16* dst, const unit16* src, uint32_t n)
{
    wcsncpy(reinterpret_cast<wchar_t*>(dst), w(src), n);
}

unit16* u16_dup(const unit16* s)
{
    if (hooks_refuse_allocation())
        return nullptr;
    auto* copy = reinterpret_cast<unit16*>(_wcsdup(w(s)));
    if (copy)
        hooks_block_taken(nullptr);
    return copy;
}

void u16_free(unit16* s)
{
    if (s)
        hooks_block_returned(nullptr);
    free(s);
}
