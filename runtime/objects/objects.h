// Runtime memory and numbered object registries: the process-wide main heap
// and module instance, per-library "thread" records, and the ObjectList that
// maps the program's object numbers to fixed-size records.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Created by the main routine (or a test fixture) before any library starts;
// every record, list, pool chunk and map of the runtime comes from it.
extern HeapHandle main_heap;
// The module instance (HINSTANCE) as an untyped pointer.
extern void* instance_handle;

// The runtime-wide event thread-safety switch, fixed off: the event library
// neither initialises nor takes its lock.
constexpr int32_t event_thread_safety = 0;

// Object numbers are pointer-sized: a dynamic object's number is the address
// of its record, at every width. At creation ANY_NUMBER lets the toolkit
// choose the number (the record's address).
constexpr intptr_t ANY_NUMBER = -1;

// Room for an object number in signed decimal, its terminating zero included
// (21 bytes at 64 bits: "-9223372036854775808").
constexpr int32_t NUMBER_TEXT_SIZE = sizeof(intptr_t) == 4 ? 12 : 21;
// Writes `number` in signed decimal, zero-terminated, into `text`
// (NUMBER_TEXT_SIZE bytes); returns the length.
int32_t number_text(char* text, intptr_t number);

// Header of a dynamic object's block; the record follows the two links.
struct DynamicNode {
    DynamicNode* next;  // the node created just before this one (towards the oldest)
    DynamicNode* prev;  // the node created just after this one (towards the head)
};

// The kind's release routine; called with the number of the object to destroy.
using FreeCallback = int32_t (*)(intptr_t number);

// The registry of one kind of numbered object. A record's first field is the
// kind's pointer-sized native handle; a record whose handle is 0 counts as
// absent.
struct ObjectList {
    int32_t object_size;
    int32_t grow_step;
    int32_t capacity;
    void** slots;
    DynamicNode* dynamic_head;
    FreeCallback free_callback;
    int32_t iter_index;
    DynamicNode* iter_node;
};

// A new, empty list with a zeroed slot array of initial_capacity entries.
// Null when memory is short or the sizes are unusable (no room for the
// handle, negative capacity, a slot array beyond 32 bits).
ObjectList* object_list_new(int32_t object_size, int32_t initial_capacity, FreeCallback cb);

// The record for `number` (>= 0), or a new dynamic record for ANY_NUMBER.
// A slot already allocated is handed out again after free_callback(number).
// Null when memory is short (the list is then unchanged) or number < -1.
void* object_alloc(ObjectList* list, intptr_t number);

// The existing record of `number`, or null (never allocated, released, or an
// unknown number).
void* object_get(ObjectList* list, intptr_t number);

// Forgets the object: a numbered record is zero-filled and kept, a dynamic one
// unlinked and freed. 1 when a record was released, 0 for an unknown number.
int32_t object_release(ObjectList* list, intptr_t number);

// Calls free_callback with the number of every existing object, numbered ones
// in increasing order, then dynamic ones oldest first. Nothing without a callback.
void object_list_free_all(ObjectList* list);

// Puts the list's one cursor before the first object.
void object_iter_start(ObjectList* list);

// The next existing object and its number, or null when the walk is over. The
// cursor has moved on before the record is returned, so the caller may
// release it.
void* object_iter_next(ObjectList* list, intptr_t* number);

// Links a zeroed block of total_size bytes (links included) at the head of the
// chain and returns its record part; null, chain unchanged, when memory is short.
void* linked_alloc(DynamicNode** head, int32_t total_size);

// Unlinks and frees the node of a record made by linked_alloc on this chain.
void linked_free(DynamicNode** head, void* record);

// A library's per-thread record: zero-filled, main heap, constructor (if any)
// already run. Null when memory is short. The destructor is not kept.
void* thread_data_new(int32_t size, void (*constructor)(void*), void (*destructor)(void*));

// The calling thread's instance of the record: one instance per process here.
void* thread_data_get(void* record);
