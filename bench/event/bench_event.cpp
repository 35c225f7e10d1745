// Posts and takes 1 000 000 events through the event queue, with no bindings
// and with 100 bindings none of which matches, and compares the rates with a
// plain pooled FIFO without dispatch and with SDL2's SDL_PushEvent and
// SDL_PollEvent, all in the same run. Also splits the cost of a post between
// queueing and the five binding keys with their lookups.
#include "toolkit/event/event.h"

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int32_t EVENT_COUNT = 1000000;
// Events posted before they are taken; SDL2's queue holds at most 65535.
constexpr int32_t BATCH = 1000;
constexpr int32_t ROUNDS = 7;
constexpr int32_t BINDING_COUNT = 100;

// Consecutive events differ in their gadget, so none is merged.
int32_t gadget_of(int32_t i)
{
    return i % BATCH;
}

int64_t checksum;

struct Contender {
    const char* name;
    int64_t (*run)();
    void (*prepare)();  // untimed, before each run; may be null
    void (*finish)();   // untimed, after each run; may be null
    double best_ns;
};

// Nanoseconds per event of one run.
double ns_per_event(const Contender& c)
{
    if (c.prepare)
        c.prepare();
    const auto start = std::chrono::steady_clock::now();
    checksum += c.run();
    const auto end = std::chrono::steady_clock::now();
    if (c.finish)
        c.finish();
    return std::chrono::duration<double, std::nano>(end - start).count() / EVENT_COUNT;
}

// Runs the contenders in turn, round after round, so that a busy moment of
// the machine falls on all of them alike; keeps each one's best round.
template <size_t N>
void measure(Contender (&contenders)[N])
{
    for (Contender& c : contenders)
        c.best_ns = 1e30;
    for (int32_t round = 0; round < ROUNDS; ++round)
        for (Contender& c : contenders)
            c.best_ns = std::min(c.best_ns, ns_per_event(c));
}

int64_t post_and_take_queue()
{
    int64_t sum = 0;
    for (int32_t base = 0; base < EVENT_COUNT; base += BATCH) {
        for (int32_t i = 0; i < BATCH; ++i)
            event_post_simple(EV_GADGET, gadget_of(base + i), 0, GADGET_EVENT_CHANGE);
        while (event_next() != 0)
            sum += event_gadget();
    }
    return sum;
}

// The same work without merging, suppression, dispatch or current-event fields.
struct PlainFifo {
    BlockPool* pool;
    EventRecord* head;
    EventRecord* tail;
};

PlainFifo fifo;

void fifo_push(int32_t kind, int32_t gadget, int32_t window, int32_t type)
{
    auto* record = static_cast<EventRecord*>(pool_alloc(fifo.pool));
    *record = EventRecord{nullptr, kind, gadget, window, type, 0, nullptr};
    if (fifo.tail)
        fifo.tail->next = record;
    else
        fifo.head = record;
    fifo.tail = record;
}

bool fifo_pop(EventRecord* out)
{
    EventRecord* record = fifo.head;
    if (!record)
        return false;
    *out = *record;
    fifo.head = record->next;
    if (fifo.tail == record)
        fifo.tail = nullptr;
    pool_free(fifo.pool, record);
    return true;
}

int64_t post_and_take_fifo()
{
    int64_t sum = 0;
    EventRecord taken;
    for (int32_t base = 0; base < EVENT_COUNT; base += BATCH) {
        for (int32_t i = 0; i < BATCH; ++i)
            fifo_push(EV_GADGET, gadget_of(base + i), 0, GADGET_EVENT_CHANGE);
        while (fifo_pop(&taken))
            sum += taken.gadget;
    }
    return sum;
}

Uint32 sdl_event_type;

int64_t post_and_take_sdl()
{
    int64_t sum = 0;
    SDL_Event event;
    for (int32_t base = 0; base < EVENT_COUNT; base += BATCH) {
        for (int32_t i = 0; i < BATCH; ++i) {
            SDL_zero(event);
            event.type = sdl_event_type;
            event.user.code = gadget_of(base + i);
            SDL_PushEvent(&event);
        }
        while (SDL_PollEvent(&event))
            sum += event.user.code;
    }
    return sum;
}

// The dispatch half of a post on its own, as the queue runs it.
int64_t dispatch_only()
{
    for (int32_t i = 0; i < EVENT_COUNT; ++i)
        binding_dispatch_posted(EV_GADGET, 0, gadget_of(i), GADGET_EVENT_CHANGE);
    return 0;
}

// The five keys formatted and looked up one by one, formatter and all.
int64_t dispatch_five_calls()
{
    for (int32_t i = 0; i < EVENT_COUNT; ++i) {
        const int32_t g = gadget_of(i);
        binding_dispatch(EV_GADGET, 0, g, GADGET_EVENT_CHANGE);
        binding_dispatch(EV_GADGET, 0, g, -1);
        binding_dispatch(EV_GADGET, 0, -1, -1);
        binding_dispatch(EV_GADGET, -1, -1, -1);
        binding_dispatch(EV_GADGET, -1, g, GADGET_EVENT_CHANGE);
    }
    return 0;
}

// The five keys as the C runtime formats them, for comparison.
int64_t dispatch_with_snprintf()
{
    int64_t found = 0;
    char key[BINDING_KEY_SIZE];
    const int32_t patterns[5][3] = {{0, 1, 1}, {0, 1, -1}, {0, -1, -1}, {-1, -1, -1}, {-1, 1, 1}};
    for (int32_t i = 0; i < EVENT_COUNT; ++i) {
        const int32_t g = gadget_of(i);
        for (const auto& p : patterns) {
            std::snprintf(key, sizeof key, "%d:%d:%d:%d", EV_GADGET, p[0], p[1] < 0 ? -1 : g,
                          p[2] < 0 ? -1 : GADGET_EVENT_CHANGE);
            found += map_find_ascii(bindings, key) != nullptr;
        }
    }
    return found;
}

// Five keys only, no lookup: what the formatting alone costs.
int64_t format_only()
{
    int64_t length = 0;
    char key[BINDING_KEY_SIZE];
    for (int32_t i = 0; i < EVENT_COUNT; ++i) {
        const int32_t g = gadget_of(i);
        length += binding_key_format(key, EV_GADGET, 0, g, GADGET_EVENT_CHANGE);
        length += binding_key_format(key, EV_GADGET, 0, g, -1);
        length += binding_key_format(key, EV_GADGET, 0, -1, -1);
        length += binding_key_format(key, EV_GADGET, -1, -1, -1);
        length += binding_key_format(key, EV_GADGET, -1, g, GADGET_EVENT_CHANGE);
    }
    return length;
}

void never_called()
{
    std::abort();
}

// Bindings of other windows (1 to 100); none matches an event of window 0.
void add_unmatched_bindings()
{
    for (int32_t i = 0; i < BINDING_COUNT; ++i)
        binding_add(EV_GADGET, 1 + i, i, -1, never_called, 1 + i);
}

// Takes the bindings of every window added above away again.
void bindings_remove_window_all()
{
    for (int32_t i = 0; i < BINDING_COUNT; ++i)
        bindings_remove_window(1 + i);
}

void report(const char* name, double ns, double sdl_ns)
{
    std::printf("  %-44s %8.1f ns/event %8.2f M events/s   x%.2f of SDL2\n", name, ns, 1000.0 / ns,
                sdl_ns / ns);
}

}  // namespace

int main()
{
    main_heap = heap_create();
    events_init();
    fifo.pool = pool_create(sizeof(EventRecord), 16, 256, 2);

    SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
    if (SDL_Init(SDL_INIT_EVENTS) != 0) {
        std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    sdl_event_type = SDL_RegisterEvents(1);

    std::printf("%d events posted and taken in batches of %d, best of %d interleaved rounds\n",
                EVENT_COUNT, BATCH, ROUNDS);
    Contender queues[] = {
        {"SDL2 SDL_PushEvent + SDL_PollEvent", post_and_take_sdl, nullptr, nullptr, 0},
        {"plain pooled FIFO, no dispatch", post_and_take_fifo, nullptr, nullptr, 0},
        {"event queue, no bindings", post_and_take_queue, nullptr, nullptr, 0},
        {"event queue, 100 bindings, none matching", post_and_take_queue, add_unmatched_bindings,
         bindings_remove_window_all, 0},
    };
    measure(queues);
    const double sdl = queues[0].best_ns;
    for (const Contender& c : queues)
        report(c.name, c.best_ns, sdl);

    std::printf("\ncost split of one post with 100 bindings present:\n");
    add_unmatched_bindings();
    Contender parts[] = {
        {"five keys + lookups, as a post runs them", dispatch_only, nullptr, nullptr, 0},
        {"five binding_dispatch calls", dispatch_five_calls, nullptr, nullptr, 0},
        {"five key formats alone", format_only, nullptr, nullptr, 0},
        {"five snprintf keys + map_find_ascii", dispatch_with_snprintf, nullptr, nullptr, 0},
    };
    measure(parts);
    const double queueing = queues[2].best_ns;
    std::printf("  %-44s %8.1f ns\n", "queueing: post + take, no bindings", queueing);
    for (const Contender& c : parts)
        std::printf("  %-44s %8.1f ns\n", c.name, c.best_ns);
    const double bound = queues[3].best_ns;
    std::printf("  with bindings a post and take is %.0f%% queueing, %.0f%% keys and lookups\n",
                100.0 * queueing / bound, 100.0 * (bound - queueing) / bound);

    SDL_Quit();
    return checksum == -1;
}
