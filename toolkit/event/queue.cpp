// The event queue: a singly linked FIFO of pool blocks, merging an exact
// repeat of the tail, suppressing unforced posts while the toolkit changes a
// gadget itself, and releasing an event's data when the application moves on.
#include "toolkit/event/event.h"

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

EventState* event_state;

// Held for the whole post (bindings included) when the runtime-wide switch is
// on, so it must let the holding thread enter again.
static PlatformLock event_lock;

// Kinds from this value up are queued every time, never merged with the tail.
constexpr int32_t EVENT_KIND_UNMERGED = 65536;

constexpr int32_t EVENT_POOL_MIN_PER_CHUNK = 16;
constexpr int32_t EVENT_POOL_MAX_PER_CHUNK = 256;
constexpr int32_t EVENT_POOL_FLAGS = 2;  // no lock of its own, not shared

constexpr int32_t BINDINGS_VALUE_KIND = 7;
constexpr int32_t BINDINGS_BUCKETS = 1024;

static_assert(sizeof(EventRecord) == by_width(28, 56), "EventRecord keeps its layout");
static_assert(sizeof(EventState) == by_width(40, 72), "EventState keeps its layout");
static_assert(sizeof(EventBinding) == by_width(8, 16), "a binding is two words");
static_assert(sizeof(BindingCallback) == by_width(12, 24), "BindingCallback keeps its layout");

// The block taken here is never used nor returned: it keeps the pool's first
// chunk alive, so a queue that drains and fills again does not touch the heap.
static void event_state_construct(void* record)
{
    auto* state = static_cast<EventState*>(record);
    state->pool = pool_create(sizeof(EventRecord), EVENT_POOL_MIN_PER_CHUNK,
                              EVENT_POOL_MAX_PER_CHUNK, EVENT_POOL_FLAGS);
    if (state->pool)
        pool_alloc(state->pool);
}

static void event_state_destruct(void* record)
{
    pool_destroy(static_cast<EventState*>(record)->pool);
}

void event_state_init()
{
    event_state = static_cast<EventState*>(
        thread_data_new(sizeof(EventState), event_state_construct, event_state_destruct));
    // A map left from an earlier start belonged to a heap that has gone since;
    // map_create would free it.
    bindings = nullptr;
    map_create(sizeof(EventBinding), BINDINGS_VALUE_KIND, nullptr, &bindings, BINDINGS_BUCKETS);
    if (event_thread_safety)
        lock_init(&event_lock);
}

int32_t events_ready()
{
    return event_state && event_state->pool && bindings;
}

static EventState* state()
{
    return static_cast<EventState*>(thread_data_get(event_state));
}

static void event_lock_enter()
{
    if (event_thread_safety)
        lock_enter(&event_lock);
}

static void event_lock_leave()
{
    if (event_thread_safety)
        lock_leave(&event_lock);
}

static bool repeats_tail(const EventState* s, int32_t kind, intptr_t gadget, intptr_t window,
                         int32_t type)
{
    const EventRecord* tail = s->tail;
    return tail && kind < EVENT_KIND_UNMERGED && tail->kind == kind &&
           tail->gadget == gadget && tail->window == window && tail->type == type;
}

// With the pool exhausted the event is dropped; the caller still dispatches it.
static void enqueue(EventState* s, int32_t kind, intptr_t gadget, intptr_t window, int32_t type,
                    intptr_t data, EventRelease release)
{
    auto* record = static_cast<EventRecord*>(pool_alloc(s->pool));
    if (!record)
        return;
    *record = EventRecord{nullptr, kind, gadget, window, type, data, release};
    if (s->tail)
        s->tail->next = record;
    else
        s->head = record;
    s->tail = record;
}

// Only a pair of data and release function is released; the fields are
// cleared before the call so that a release that re-enters cannot repeat it.
static void release_current_data(EventState* s)
{
    const intptr_t data = s->current_data;
    const EventRelease release = s->current_release;
    if (data == 0 || release == nullptr)
        return;
    s->current_data = 0;
    s->current_release = nullptr;
    release(data);
}

// The callbacks see the posted event as the current one, but without its
// release function: the queued record still owns the data, and a callback
// that pumps with event_next must not release it early. An event that such
// a callback took is done with when the callback returns, so it is released
// then; afterwards the current event is what it was before.
static void dispatch_as_current(EventState* s, int32_t kind, intptr_t gadget, intptr_t window,
                                int32_t type, intptr_t data)
{
    const EventState saved = *s;
    s->current_kind = kind;
    s->current_window = window;
    s->current_gadget = gadget;
    s->current_type = type;
    s->current_data = data;
    s->current_release = nullptr;
    binding_dispatch_posted(kind, window, gadget, type);
    release_current_data(s);
    s->current_kind = saved.current_kind;
    s->current_window = saved.current_window;
    s->current_gadget = saved.current_gadget;
    s->current_type = saved.current_type;
    s->current_data = saved.current_data;
    s->current_release = saved.current_release;
}

void event_post(int32_t kind, intptr_t gadget, intptr_t window, int32_t type, intptr_t data,
                EventRelease release, int32_t force)
{
    EventState* s = state();
    event_lock_enter();
    if (s->suppress == 0 || force) {
        if (!repeats_tail(s, kind, gadget, window, type))
            enqueue(s, kind, gadget, window, type, data, release);
        dispatch_as_current(s, kind, gadget, window, type, data);
    }
    event_lock_leave();
}

void event_post_data(int32_t kind, intptr_t gadget, intptr_t window, int32_t type,
                     intptr_t data, EventRelease release)
{
    event_post(kind, gadget, window, type, data, release, 0);
}

void event_post_simple(int32_t kind, intptr_t gadget, intptr_t window, int32_t type)
{
    event_post(kind, gadget, window, type, 0, nullptr, 0);
}

int32_t event_next()
{
    EventState* s = state();
    s->current_kind = 0;
    event_lock_enter();
    release_current_data(s);
    s->current_type = -1;
    if (EventRecord* record = s->head) {
        s->current_kind = record->kind;
        s->current_window = record->window;
        s->current_gadget = record->gadget;
        s->current_type = record->type;
        s->current_data = record->data;
        s->current_release = record->release;
        s->head = record->next;
        if (s->tail == record)
            s->tail = nullptr;
        pool_free(s->pool, record);
    }
    event_lock_leave();
    return s->current_kind;
}

intptr_t event_gadget()
{
    return state()->current_gadget;
}

int32_t event_type()
{
    return state()->current_type;
}

void event_suppress_begin()
{
    state()->suppress++;
}

void event_suppress_end()
{
    state()->suppress--;
}

// One walk from head to tail; the tail ends on the last record kept, or null.
// The queue owns a removed record's data, so it releases it, after the walk:
// a release function that posts then finds the queue whole.
template <typename Removes>
static void purge_where(EventState* s, Removes removes)
{
    EventRecord* removed = nullptr;
    EventRecord** link = &s->head;
    s->tail = nullptr;
    while (EventRecord* record = *link) {
        if (removes(*record)) {
            *link = record->next;
            record->next = removed;
            removed = record;
        } else {
            s->tail = record;
            link = &record->next;
        }
    }
    while (EventRecord* record = removed) {
        removed = record->next;
        const intptr_t data = record->data;
        const EventRelease release = record->release;
        pool_free(s->pool, record);
        if (data != 0 && release != nullptr)
            release(data);
    }
}

static bool matches(intptr_t pattern, intptr_t value)
{
    return pattern == -1 || pattern == value;
}

void event_purge(int32_t kind, intptr_t gadget, intptr_t window, int32_t type)
{
    purge_where(state(), [=](const EventRecord& r) {
        return matches(kind, r.kind) && matches(gadget, r.gadget) && matches(window, r.window) &&
               matches(type, r.type);
    });
}

void event_purge_window(intptr_t window)
{
    purge_where(state(), [=](const EventRecord& r) { return r.window == window; });
}
