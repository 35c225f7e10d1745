// POSIX side of the seam: a small implementation of our own, behaving as
// the Win32 calls do wherever the portable libraries rely on it.
#include "platform/platform.h"

#include "platform/heap_hooks.h"

#include <pthread.h>
#include <sched.h>
#include <cstdlib>
#include <cstring>
#include <new>

static_assert(sizeof(pthread_mutex_t) <= sizeof(PlatformLock),
              "PlatformLock must hold a mutex");

// A heap keeps its blocks on a doubly linked chain behind a small header, so
// that destroying it frees everything it handed out, as HeapDestroy does.
// The header keeps payloads 8-byte aligned, like the system heap's.
struct BlockHeader {
    BlockHeader* next;
    BlockHeader* prev;
    uint64_t pad;
};
static_assert(sizeof(BlockHeader) % 8 == 0, "payloads stay 8-byte aligned");

struct PosixHeap {
    pthread_mutex_t mutex;
    BlockHeader* blocks;
};

// A size that leaves no room for the header would wrap to a tiny block; the
// system heap refuses such sizes, and so do we.
static int size_fits(uint32_t size) { return size <= UINT32_MAX - sizeof(BlockHeader); }

HeapHandle heap_create()
{
    if (hooks_refuse_allocation())
        return nullptr;
    auto* heap = static_cast<PosixHeap*>(std::malloc(sizeof(PosixHeap)));
    if (!heap)
        return nullptr;
    pthread_mutex_init(&heap->mutex, nullptr);
    heap->blocks = nullptr;
    hooks_heap_created(heap);
    return heap;
}

void heap_destroy(HeapHandle handle)
{
    auto* heap = static_cast<PosixHeap*>(handle);
    if (!heap)
        return;
    hooks_heap_destroyed(heap);
    for (BlockHeader* b = heap->blocks; b;) {
        BlockHeader* next = b->next;
        std::free(b);
        b = next;
    }
    pthread_mutex_destroy(&heap->mutex);
    std::free(heap);
}

static void link_block(PosixHeap* heap, BlockHeader* b)
{
    b->prev = nullptr;
    b->next = heap->blocks;
    if (heap->blocks)
        heap->blocks->prev = b;
    heap->blocks = b;
}

static void unlink_block(PosixHeap* heap, BlockHeader* b)
{
    if (b->prev)
        b->prev->next = b->next;
    else
        heap->blocks = b->next;
    if (b->next)
        b->next->prev = b->prev;
}

void* heap_alloc(HeapHandle handle, uint32_t size, int zero)
{
    auto* heap = static_cast<PosixHeap*>(handle);
    if (hooks_refuse_allocation() || !heap || !size_fits(size))
        return nullptr;
    auto* b = static_cast<BlockHeader*>(zero ? std::calloc(1, sizeof(BlockHeader) + size)
                                             : std::malloc(sizeof(BlockHeader) + size));
    if (!b)
        return nullptr;
    pthread_mutex_lock(&heap->mutex);
    link_block(heap, b);
    pthread_mutex_unlock(&heap->mutex);
    hooks_block_taken(heap);
    return b + 1;
}

void* heap_realloc(HeapHandle handle, void* block, uint32_t size)
{
    auto* heap = static_cast<PosixHeap*>(handle);
    if (hooks_refuse_allocation() || !heap || !block || !size_fits(size))
        return nullptr;
    BlockHeader* old = static_cast<BlockHeader*>(block) - 1;
    pthread_mutex_lock(&heap->mutex);
    unlink_block(heap, old);
    auto* b = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
    link_block(heap, b ? b : old);
    pthread_mutex_unlock(&heap->mutex);
    return b ? b + 1 : nullptr;
}

void heap_free(HeapHandle handle, void* block)
{
    auto* heap = static_cast<PosixHeap*>(handle);
    if (!heap || !block)
        return;
    BlockHeader* b = static_cast<BlockHeader*>(block) - 1;
    pthread_mutex_lock(&heap->mutex);
    unlink_block(heap, b);
    pthread_mutex_unlock(&heap->mutex);
    std::free(b);
    hooks_block_returned(heap);
}

static pthread_mutex_t* as_mutex(PlatformLock* lock)
{
    return reinterpret_cast<pthread_mutex_t*>(lock->storage);
}

void lock_init(PlatformLock* lock)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (lock->storage) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void lock_delete(PlatformLock* lock) { pthread_mutex_destroy(as_mutex(lock)); }
void lock_enter(PlatformLock* lock) { pthread_mutex_lock(as_mutex(lock)); }
void lock_leave(PlatformLock* lock) { pthread_mutex_unlock(as_mutex(lock)); }

template <typename Word>
static Word compare_exchange(volatile Word* word, Word exchange, Word comparand)
{
    __atomic_compare_exchange_n(word, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

int32_t atomic_compare_exchange(volatile int32_t* word, int32_t exchange,
                                int32_t comparand)
{
    return compare_exchange(word, exchange, comparand);
}

int32_t atomic_exchange(volatile int32_t* word, int32_t value)
{
    return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}

OnceWord once_compare_exchange(volatile OnceWord* word, OnceWord exchange, OnceWord comparand)
{
    return compare_exchange(word, exchange, comparand);
}

OnceWord once_exchange(volatile OnceWord* word, OnceWord value)
{
    return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}

void thread_yield() { sched_yield(); }

// No system one-time primitive here: run_once takes the once-word path.
int system_run_once(volatile OnceWord*, void (*)()) { return 0; }

uint32_t u16_len(const unit16* s)
{
    const unit16* p = s;
    while (*p)
        ++p;
    return static_cast<uint32_t>(p - s);
}

int u16_ncmp(const unit16* a, const unit16* b, uint32_t n)
{
    for (; n; --n, ++a, ++b) {
        if (*a != *b)
            return *a < *b ? -1 : 1;
        if (!*a)
            break;
    }
    return 0;
}

static unit16 fold_ascii(unit16 c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; }

int u16_nicmp(const unit16* a, const unit16* b, uint32_t n)
{
    for (; n; --n, ++a, ++b) {
        unit16 x = fold_ascii(*a), y = fold_ascii(*b);
        if (x != y)
            return x < y ? -1 : 1;
        if (!x)
            break;
    }
    return 0;
}

void u16_ncopy(unit16* dst, const unit16* src, uint32_t n)
{
    for (; n && *src; --n)
        *dst++ = *src++;
    for (; n; --n)
        *dst++ = 0;
}

unit16* u16_dup(const unit16* s)
{
    if (hooks_refuse_allocation())
        return nullptr;
    uint32_t bytes = (u16_len(s) + 1) * sizeof(unit16);
    auto* copy = static_cast<unit16*>(std::malloc(bytes));
    if (copy) {
        std::memcpy(copy, s, bytes);
        hooks_block_taken(nullptr);
    }
    return copy;
}

void u16_free(unit16* s)
{
    if (s)
        hooks_block_returned(nullptr);
    std::free(s);
}
