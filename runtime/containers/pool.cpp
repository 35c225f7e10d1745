#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

SharedPoolRegistry shared_pool_registry;

static_assert(sizeof(PoolChunk) == by_width(24, 40), "PoolChunk keeps its layout");
static_assert(sizeof(BlockPool) == by_width(56, 88), "BlockPool keeps its layout");
static_assert(sizeof(SharedPoolEntry) == by_width(24, 40), "SharedPoolEntry keeps its layout");
static_assert(sizeof(SharedPoolRegistry) == by_width(32, 56), "the registry keeps its layout");

// The header word holds the owning chunk's address: 4 bytes in the program's
// 32-bit builds, 8 in the 64-bit build that runs its Windows tests where
// only 64-bit code runs.
constexpr int32_t WORD = sizeof(void*);

// ---- Chunk lists -------------------------------------------------------------

static void push_chunk(PoolChunk** head, PoolChunk* chunk)
{
    chunk->prev = nullptr;
    chunk->next = *head;
    if (*head)
        (*head)->prev = chunk;
    *head = chunk;
}

static void unlink_chunk(PoolChunk** head, PoolChunk* chunk)
{
    if (chunk->prev)
        chunk->prev->next = chunk->next;
    else
        *head = chunk->next;
    if (chunk->next)
        chunk->next->prev = chunk->prev;
}

static int32_t chunk_is_full(const PoolChunk* chunk)
{
    return chunk->free_count == 0 && chunk->fresh_used >= chunk->capacity;
}

static char* chunk_block(PoolChunk* chunk, int32_t index, int32_t stride)
{
    return reinterpret_cast<char*>(chunk + 1) + index * stride;
}

static void*& header_word(void* block) { return *static_cast<void**>(block); }

// Records the owner in the block's header and returns its payload.
static void* hand_out(PoolChunk* chunk, char* block)
{
    header_word(block) = chunk;
    return block + WORD;
}

// ---- Allocation ----------------------------------------------------------------

// One sixteenth of the blocks already held, in steps of 16, within the bounds.
static int32_t next_chunk_capacity(const BlockPool* pool)
{
    int32_t base = (pool->total_blocks >> 4) & ~15;
    if (base < pool->min_per_chunk)
        return pool->min_per_chunk;
    if (base > pool->max_per_chunk)
        return pool->max_per_chunk;
    return base;
}

// A chunk of `capacity` blocks from the main heap; null when refused or when
// its size does not fit 32 bits.
static PoolChunk* heap_chunk(const BlockPool* pool, int32_t capacity)
{
    uint64_t bytes = sizeof(PoolChunk) + static_cast<uint64_t>(capacity) * pool->stride;
    if (bytes > UINT32_MAX)
        return nullptr;
    return static_cast<PoolChunk*>(heap_alloc(main_heap, static_cast<uint32_t>(bytes), 0));
}

// Adds a chunk and hands out its block 0. When the heap refuses the full
// size, one retry for a single block; null, pool unchanged, if that fails too.
// Kept out of line, like every heap and lock call, so that the common paths
// of allocation and return stay a few instructions without a call.
[[gnu::noinline]] static void* alloc_from_new_chunk(BlockPool* pool)
{
    int32_t capacity = next_chunk_capacity(pool);
    PoolChunk* chunk = heap_chunk(pool, capacity);
    if (!chunk) {
        capacity = 1;
        chunk = heap_chunk(pool, capacity);
        if (!chunk)
            return nullptr;
    }
    pool->total_blocks += capacity;
    chunk->capacity = capacity;
    chunk->fresh_used = 1;
    chunk->free_count = 0;
    chunk->free_list = nullptr;
    push_chunk(capacity >= 2 ? &pool->open_chunks : &pool->full_chunks, chunk);
    return hand_out(chunk, chunk_block(chunk, 0, pool->stride));
}

// Returned blocks first (last in, first out), then the untouched ones.
static void* alloc_from_open_chunk(BlockPool* pool)
{
    PoolChunk* chunk = pool->open_chunks;
    char* block;
    if (chunk->free_count > 0) {
        block = static_cast<char*>(chunk->free_list);
        chunk->free_list = header_word(block);
        --chunk->free_count;
    } else {
        block = chunk_block(chunk, chunk->fresh_used++, pool->stride);
    }
    if (chunk_is_full(chunk)) {
        unlink_chunk(&pool->open_chunks, chunk);
        push_chunk(&pool->full_chunks, chunk);
    }
    return hand_out(chunk, block);
}

static void* alloc_block(BlockPool* pool)
{
    return pool->open_chunks ? alloc_from_open_chunk(pool) : alloc_from_new_chunk(pool);
}

// ---- Return and release -----------------------------------------------------------

// The chunk holds no handed-out block any more: back to the heap.
[[gnu::noinline]] static void release_empty_chunk(BlockPool* pool, PoolChunk* chunk,
                                                  int32_t was_full)
{
    unlink_chunk(was_full ? &pool->full_chunks : &pool->open_chunks, chunk);
    pool->total_blocks -= chunk->capacity;
    heap_free(main_heap, chunk);
}

static void free_block(BlockPool* pool, void* payload)
{
    char* block = static_cast<char*>(payload) - WORD;
    auto* chunk = static_cast<PoolChunk*>(header_word(block));
    int32_t was_full = chunk_is_full(chunk);
    header_word(block) = chunk->free_list;
    chunk->free_list = block;
    ++chunk->free_count;
    if (chunk->free_count == chunk->fresh_used) {
        release_empty_chunk(pool, chunk, was_full);
    } else if (was_full) {
        unlink_chunk(&pool->full_chunks, chunk);
        push_chunk(&pool->open_chunks, chunk);
    }
}

static void free_chunk_list(PoolChunk* chunk)
{
    while (chunk) {
        PoolChunk* next = chunk->next;
        heap_free(main_heap, chunk);
        chunk = next;
    }
}

static void release_chunks(BlockPool* pool)
{
    free_chunk_list(pool->open_chunks);
    free_chunk_list(pool->full_chunks);
    pool->open_chunks = nullptr;
    pool->full_chunks = nullptr;
    pool->total_blocks = 0;
}

static void pool_lock(BlockPool* pool)
{
    if (pool->locked)
        lock_enter(&pool->lock);
}

static void pool_unlock(BlockPool* pool)
{
    if (pool->locked)
        lock_leave(&pool->lock);
}

// ---- Creation and destruction -------------------------------------------------------

static int32_t stride_for(int32_t element_size)
{
    int64_t stride = static_cast<int64_t>(element_size) + WORD;
    stride = (stride + WORD - 1) & ~int64_t(WORD - 1);
    return stride > INT32_MAX ? 0 : static_cast<int32_t>(stride);
}

static BlockPool* create_private(int32_t stride, int32_t min_per_chunk, int32_t max_per_chunk,
                                 int32_t flags)
{
    auto* pool = static_cast<BlockPool*>(heap_alloc(main_heap, sizeof(BlockPool), 0));
    if (!pool)
        return nullptr;
    pool->full_chunks = nullptr;
    pool->open_chunks = nullptr;
    pool->shared_entry = nullptr;
    pool->total_blocks = 0;
    pool->stride = stride;
    pool->min_per_chunk = min_per_chunk;
    pool->max_per_chunk = max_per_chunk;
    pool->locked = (flags & 3) == POOL_LOCKED;
    if (pool->locked)
        lock_init(&pool->lock);
    return pool;
}

static void destroy_private(BlockPool* pool)
{
    pool_lock(pool);
    release_chunks(pool);
    pool_unlock(pool);
    if (pool->locked)
        lock_delete(&pool->lock);
    heap_free(main_heap, pool);
}

static void init_registry()
{
    lock_init(&shared_pool_registry.lock);
    shared_pool_registry.head = nullptr;
}

static SharedPoolEntry* find_shared(int32_t stride, int32_t flags)
{
    for (SharedPoolEntry* entry = shared_pool_registry.head; entry; entry = entry->next)
        if (entry->stride == stride && entry->flags == flags)
            return entry;
    return nullptr;
}

// A new registry entry with its pool, pushed at the head; null, registry
// unchanged, when memory is short. Expects the registry lock.
static BlockPool* add_shared(int32_t stride, int32_t min_per_chunk, int32_t max_per_chunk,
                             int32_t flags)
{
    auto* entry =
        static_cast<SharedPoolEntry*>(heap_alloc(main_heap, sizeof(SharedPoolEntry), 0));
    if (!entry)
        return nullptr;
    BlockPool* pool = create_private(stride, min_per_chunk, max_per_chunk, flags & ~POOL_SHARED);
    if (!pool) {
        heap_free(main_heap, entry);
        return nullptr;
    }
    pool->shared_entry = entry;
    entry->pool = pool;
    entry->stride = stride;
    entry->flags = flags;
    entry->users = 1;
    entry->prev = nullptr;
    entry->next = shared_pool_registry.head;
    if (entry->next)
        entry->next->prev = entry;
    shared_pool_registry.head = entry;
    return pool;
}

static BlockPool* create_shared(int32_t stride, int32_t min_per_chunk, int32_t max_per_chunk,
                                int32_t flags)
{
    run_once(&shared_pool_registry.once, init_registry);
    lock_enter(&shared_pool_registry.lock);
    BlockPool* pool;
    if (SharedPoolEntry* entry = find_shared(stride, flags)) {
        ++entry->users;
        pool = entry->pool;
    } else {
        pool = add_shared(stride, min_per_chunk, max_per_chunk, flags);
    }
    lock_leave(&shared_pool_registry.lock);
    return pool;
}

static void unlink_shared(SharedPoolEntry* entry)
{
    if (entry->prev)
        entry->prev->next = entry->next;
    else
        shared_pool_registry.head = entry->next;
    if (entry->next)
        entry->next->prev = entry->prev;
}

static void destroy_shared(BlockPool* pool)
{
    lock_enter(&shared_pool_registry.lock);
    SharedPoolEntry* entry = pool->shared_entry;
    if (--entry->users <= 0) {
        pool->shared_entry = nullptr;
        destroy_private(pool);
        unlink_shared(entry);
        heap_free(main_heap, entry);
    }
    lock_leave(&shared_pool_registry.lock);
}

// ---- Public operations ------------------------------------------------------------

BlockPool* pool_create(int32_t element_size, int32_t min_per_chunk, int32_t max_per_chunk,
                       int32_t flags)
{
    // A bound below one block would let a chunk of no blocks hand out block 0.
    if (element_size < 0 || min_per_chunk < 1 || max_per_chunk < 1)
        return nullptr;
    int32_t stride = stride_for(element_size);
    if (!stride)
        return nullptr;
    if (flags & POOL_SHARED)
        return create_shared(stride, min_per_chunk, max_per_chunk, flags);
    return create_private(stride, min_per_chunk, max_per_chunk, flags);
}

[[gnu::noinline]] static void* alloc_locked(BlockPool* pool)
{
    lock_enter(&pool->lock);
    void* payload = alloc_block(pool);
    lock_leave(&pool->lock);
    return payload;
}

[[gnu::noinline]] static void free_locked(BlockPool* pool, void* payload)
{
    lock_enter(&pool->lock);
    free_block(pool, payload);
    lock_leave(&pool->lock);
}

void* pool_alloc(BlockPool* pool)
{
    if (!pool)
        return nullptr;
    return pool->locked ? alloc_locked(pool) : alloc_block(pool);
}

void pool_free(BlockPool* pool, void* payload)
{
    if (!pool || !payload)
        return;
    if (pool->locked)
        free_locked(pool, payload);
    else
        free_block(pool, payload);
}

void pool_release_all(BlockPool* pool)
{
    if (!pool)
        return;
    pool_lock(pool);
    release_chunks(pool);
    pool_unlock(pool);
}

void pool_destroy(BlockPool* pool)
{
    if (!pool)
        return;
    if (pool->shared_entry)
        destroy_shared(pool);
    else
        destroy_private(pool);
}

void run_once_portable(volatile OnceWord* once_word, void (*routine)())
{
    OnceWord seen = once_compare_exchange(once_word, 1, 0);
    if (seen == 0) {
        routine();
        once_exchange(once_word, 2);
        return;
    }
    // A compare-exchange that changes nothing reads the word with a barrier.
    while (once_compare_exchange(once_word, 2, 2) != 2)
        thread_yield();
}

void run_once(volatile OnceWord* once_word, void (*routine)())
{
    if (!system_run_once(once_word, routine))
        run_once_portable(once_word, routine);
}
