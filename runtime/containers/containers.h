// Runtime containers: a fixed-size block pool, a string-keyed hash map with
// inline values, and the value descriptors that let containers manage the
// strings and nested containers inside their values.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// ---- Block pool ------------------------------------------------------------
// Fixed-size blocks in constant time, from main-heap chunks of many blocks.
// A block is one pointer-sized header word (owning chunk while handed out,
// next free block while returned) followed by the caller's payload.

enum : int32_t { POOL_LOCKED = 1, POOL_SHARED = 4 };

struct SharedPoolEntry;

// A chunk's header; capacity blocks of the pool's stride follow it at once.
struct PoolChunk {
    PoolChunk* next;
    PoolChunk* prev;        // null at the head of its list
    void* free_list;        // most recently returned block
    int32_t capacity;
    int32_t fresh_used;     // blocks 0 .. fresh_used-1 have been handed out at least once
    int32_t free_count;
};

struct BlockPool {
    PoolChunk* full_chunks;   // no block available
    PoolChunk* open_chunks;   // at least one block available; allocation uses the head
    SharedPoolEntry* shared_entry;  // null for a private pool
    int32_t total_blocks;     // sum of the chunks' capacities
    int32_t stride;           // element size + header word, rounded up to 4
    int32_t min_per_chunk;
    int32_t max_per_chunk;
    int32_t locked;           // 1 when `lock` is initialised and taken
    PlatformLock lock;
};

struct SharedPoolEntry {
    SharedPoolEntry* next;
    SharedPoolEntry* prev;    // null at the head
    BlockPool* pool;
    int32_t stride;           // first half of the key
    int32_t flags;            // second half of the key, shared bit included
    int32_t users;
};

// The process-wide registry of shared pools; `once` is 0 not started,
// 1 running, 2 done.
struct SharedPoolRegistry {
    SharedPoolEntry* head;
    PlatformLock lock;
    volatile int32_t once;
};
extern SharedPoolRegistry shared_pool_registry;

// A new empty pool, or with POOL_SHARED the registry's pool of the same
// stride and flags (one more user). Null when memory is short, the element
// size is negative or the minimum per chunk is below 1.
BlockPool* pool_create(int32_t element_size, int32_t min_per_chunk, int32_t max_per_chunk,
                       int32_t flags);

// The payload of one block (not zeroed), or null when not even a one-block
// chunk can be had; the pool is then unchanged.
void* pool_alloc(BlockPool* pool);

// Gives back a payload from pool_alloc on this pool; a chunk whose blocks
// are all back returns to the heap at once. Null is ignored.
void pool_free(BlockPool* pool, void* payload);

// Returns every chunk to the heap; the pool stays usable and empty, and
// blocks still handed out become invalid.
void pool_release_all(BlockPool* pool);

// Ends one user: a private pool at once, a shared pool with its last user.
void pool_destroy(BlockPool* pool);

// Runs `routine` exactly once per once-word, process-wide, returning only
// after it has completed: the system's one-time initialisation when present,
// else run_once_portable.
void run_once(volatile int32_t* once_word, void (*routine)());

// The once-word protocol on its own: 0 -> 1 by compare-exchange, run, -> 2;
// latecomers yield until the word reads 2.
void run_once_portable(volatile int32_t* once_word, void (*routine)());

// ---- Hash map and value descriptors ---------------------------------------
