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
    int32_t stride;           // element size + header word, rounded up to a word (4 bytes)
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

// The process-wide registry of shared pools; `once` guards the one-time
// initialisation of its lock.
struct SharedPoolRegistry {
    SharedPoolEntry* head;
    PlatformLock lock;
    volatile OnceWord once;
};
extern SharedPoolRegistry shared_pool_registry;

// A new empty pool, or with POOL_SHARED the registry's pool of the same
// stride and flags (one more user). Null when memory is short, the element
// size is negative or a bound per chunk is below 1.
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
void run_once(volatile OnceWord* once_word, void (*routine)());

// The once-word protocol on its own: 0 -> 1 by compare-exchange, run, -> 2;
// latecomers yield until the word reads 2.
void run_once_portable(volatile OnceWord* once_word, void (*routine)());

// ---- Hash map and value descriptors ---------------------------------------
// A chained hash table with a bucket count fixed at creation, values stored
// inline in pool elements, a built-in cursor, and an owner variable that the
// map keeps pointed at itself while it lives.

enum : uint32_t { MAP_CASE_INSENSITIVE = 1, MAP_INIT_VALUES = 2, MAP_INT_KEYS = 4 };
// Set by map_insert_ascii and dropped by map_clear: the keys are 8-bit copies,
// and map_copy copies them so.
constexpr uint32_t MAP_ASCII_KEYS = 8;

// One pool block; the pool's element size is the value size + the two
// pointer-sized words before it (8 bytes at 32 bits).
struct MapElement {
    MapElement* next;         // next element of the same bucket
    union {
        unit16* text;         // private UTF-16 copy (map_insert)
        char* bytes;          // private 8-bit copy (map_insert_ascii)
        int32_t number;       // MAP_INT_KEYS: the key itself
    } key;
    unsigned char value[];    // value_size bytes; every value result points here
};

// ValueDescriptor: pointer-sized words, entries ended by -1, so that a word
// can name a sub-descriptor by its address. A code >= 0 is the offset of a
// string field; the others are followed by their words:
//   -2 count, offset, stride, sub-descriptor   embedded structures
//   -3 offset, size, sub-descriptor            one embedded structure
//   -4 offset, four creation parameters        dimensioned container pointer
//   -5 offset, three creation parameters       two-word container
//   -6 offset, value size, value kind, descriptor, bucket count   StringMap pointer
//   -7 offset, n, three creation parameters, n dimension words
// Pointer fields (strings, containers) take one pointer each, a two-word
// container two, and the inline dimensions of -7 are 32-bit words.
using DescriptorWord = intptr_t;
enum : DescriptorWord {
    DESCRIPTOR_END = -1, DESCRIPTOR_ARRAY = -2, DESCRIPTOR_STRUCT = -3,
    DESCRIPTOR_DIMENSIONED = -4, DESCRIPTOR_PAIR = -5, DESCRIPTOR_MAP = -6,
    DESCRIPTOR_DIMENSIONED_INLINE = -7
};

// The word that names `descriptor` inside another descriptor.
inline DescriptorWord descriptor_word(const DescriptorWord* descriptor)
{
    return reinterpret_cast<DescriptorWord>(descriptor);
}

struct StringMap {
    MapElement* current;      // under the cursor; null before the first and after the last
    MapElement** buckets;     // bucket_count chain heads
    MapElement* predecessor;  // the element that preceded `current`
    const DescriptorWord* descriptor;  // managed fields of the value, or null
    int32_t bucket_index;     // bucket of `current`; -1 after map_reset
    int32_t saved_bucket_index;  // bucket_index before the last map_next
    int32_t value_size;
    int32_t value_kind;       // opaque; recreates an identical map when a value holding it is copied
    int32_t bucket_count;     // at least 1
    int32_t element_count;
    uint32_t flags;
    StringMap** owner;        // names the map while it lives, null afterwards
    BlockPool* pool;
};

// A new empty map stored into *owner (the map *owner named before is freed
// first). bucket_count <= 0 gives one bucket. Null, with *owner null, when
// memory is short or the sizes are out of range.
StringMap* map_create(int32_t value_size, int32_t value_kind, const DescriptorWord* descriptor,
                      StringMap** owner, int32_t bucket_count);

// Frees the elements with their keys and managed value fields, the map and
// its user of the element pool; *owner becomes null. Null is ignored.
void map_free(StringMap* map);

// Removes every element; the map stays usable with a reset cursor.
void map_clear(StringMap* map);

// Inserts every element of `source` into `destination` (after clearing it
// when clear_first is set) and copies the values deeply. The source's cursor
// is kept. 1 on success; 0 for a null map, a source whose values are larger
// than the destination's, or when an insert or a value's copy fails.
int32_t map_copy(StringMap* source, StringMap* destination, int32_t clear_first);

// The zeroed (and initialised) value of a new element under `key` (null is
// the empty key), or with reuse set the value of an existing element, cleared
// and zeroed. The element becomes current. Null when memory is short.
void* map_insert(StringMap* map, const unit16* key, int32_t reuse);
// As map_insert for 8-bit keys; the map keeps a private 8-bit copy.
void* map_insert_ascii(StringMap* map, const char* key, int32_t reuse);
// As map_insert for a MAP_INT_KEYS map; null for any other map.
void* map_insert_int(StringMap* map, int32_t key, int32_t reuse);

// The value of the most recently inserted element under `key` (null is the
// empty key), which becomes current; null on a miss, the cursor untouched.
void* map_find(StringMap* map, const unit16* key);
void* map_find_ascii(StringMap* map, const char* key);
// Int-key lookup; null for a map without MAP_INT_KEYS.
void* map_find_int(StringMap* map, int32_t key);

// Puts the cursor before the first element; iteration starts here.
void map_reset(StringMap* map);
// The value of the next element (bucket by bucket, newest first in a
// bucket), or null at the end, where it stays until map_reset.
void* map_next(StringMap* map);
// Deletes the current element; the following map_next yields the element
// after it. Returns the value now current, or null.
void* map_delete_current(StringMap* map);

// 1 when the descriptor, or a sub-descriptor of it, has a container field.
int32_t descriptor_needs_init(const DescriptorWord* descriptor);
// Creates the nested containers of a zero-filled value.
void struct_init(void* value, const DescriptorWord* descriptor);
// Frees the strings and nested containers of a value; their fields become null.
void struct_clear(void* value, const DescriptorWord* descriptor);
// Copies `size` bytes of value, giving the destination its own strings and
// containers (what it held before is freed). Same address: nothing happens;
// a string or map field that already holds the source's own is left as it is.
void struct_copy(void* destination, int32_t size, const DescriptorWord* descriptor,
                 const void* source);

// Create, copy and free per container kind, filled in by each container
// library at start-up; a null slot leaves fields of that kind untouched.
struct ContainerOps {
    void* (*create_dimensioned)(int32_t, int32_t, int32_t, int32_t, void* field);
    void* (*create_dimensioned_inline)(int32_t dimension_count, int32_t, int32_t, int32_t,
                                       void* field);
    void* (*create_pair)(int32_t first, void* field, int32_t second, int32_t third);
    StringMap* (*create_map)(int32_t value_size, int32_t value_kind,
                             const DescriptorWord* descriptor, StringMap** owner,
                             int32_t bucket_count);
    int32_t (*copy_dimensioned)(void* source, void* destination, int32_t clear_first);
    int32_t (*copy_pair)(const void* source, void* destination, int32_t clear_first);
    int32_t (*copy_map)(StringMap* source, StringMap* destination, int32_t clear_first);
    void (*free_dimensioned)(void* container);
    void (*free_pair)(void* container);
    void (*free_map)(StringMap* map);
};
extern ContainerOps container_ops;

// Enters map_create, map_copy and map_free into container_ops.
void container_ops_register_map();

// After struct_copy: 1 when every string and map field that the source holds
// has its own copy in destination; 0 when memory ran short for one of them.
// Dimensioned and pair containers are taken as copied.
int32_t struct_copy_whole(const void* destination, const DescriptorWord* descriptor,
                          const void* source);
