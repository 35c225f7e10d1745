// Events: one first-in, first-out queue of toolkit events with merging of an
// exact repeat and suppression of self-made changes, callbacks bound to event
// patterns, the way in for other threads, and the pump the main loop calls.
// The queue and the bindings are portable; the post window and the pump speak
// to Win32.
#pragma once

#include "platform/platform.h"
#include "runtime/objects/objects.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

struct BlockPool;
struct StringMap;

// ---- Event kinds and gadget event types -----------------------------------

constexpr int32_t EV_GADGET = 13100, EV_MENU = 13101, EV_NOTIFY_ICON = 13102,
                  EV_ACTIVATE = 13104, EV_MINIMIZE = 13107, EV_MAXIMIZE = 13108,
                  EV_RESTORE = 13109, EV_TIMER = 13110, EV_RIGHT_CLICK = 13111,
                  EV_LEFT_CLICK = 13112, EV_LEFT_DOUBLE_CLICK = 13113,
                  EV_DEACTIVATE = 13114, EV_REPAINT = 13115, EV_CLOSE_WINDOW = 13116,
                  EV_MOVE_WINDOW = 13117, EV_SIZE_WINDOW = 13118;

constexpr int32_t GADGET_EVENT_CHANGE = 768, GADGET_EVENT_FOCUS = 14000,
                  GADGET_EVENT_LOST_FOCUS = 14001;

// ---- The queue ---------------------------------------------------------------

using EventRelease = void (*)(intptr_t data);

// Gadget and window are object numbers, pointer-sized like every number.
struct EventRecord {
    EventRecord* next;
    int32_t kind;
    intptr_t gadget;
    intptr_t window;
    int32_t type;
    intptr_t data;
    EventRelease release;
};

struct EventState {
    BlockPool* pool;
    EventRecord* head;
    EventRecord* tail;
    int32_t suppress;
    int32_t current_kind;
    intptr_t current_window;
    intptr_t current_gadget;
    int32_t current_type;
    intptr_t current_data;
    EventRelease current_release;
};

// The one EventState of the process, made by event_state_init.
extern EventState* event_state;

// Appends the event unless it repeats the tail exactly or is suppressed (force
// overrides suppression), then runs the bound callbacks with the event posted
// as the current one. The queue owns data until release has been called on it.
void event_post(int32_t kind, intptr_t gadget, intptr_t window, int32_t type,
                intptr_t data, EventRelease release, int32_t force);
// event_post without force.
void event_post_data(int32_t kind, intptr_t gadget, intptr_t window, int32_t type,
                     intptr_t data, EventRelease release);
// event_post without data, release or force.
void event_post_simple(int32_t kind, intptr_t gadget, intptr_t window, int32_t type);

// Releases the current event's data, makes the oldest queued event current and
// returns its kind; 0 (and event_type -1) when the queue is empty.
int32_t event_next();
// The current event's gadget and type, as they stand.
intptr_t event_gadget();
int32_t event_type();

// Nesting bracket: while the count is not 0, unforced posts are dropped.
void event_suppress_begin();
void event_suppress_end();

// Removes every queued event matching all four values (-1 matches anything)
// and releases its data.
void event_purge(int32_t kind, intptr_t gadget, intptr_t window, int32_t type);
// Removes every queued event of the window and releases its data.
void event_purge_window(intptr_t window);

// ---- Bindings ----------------------------------------------------------------

struct BindingCallback {
    BindingCallback* next;
    void (*function)();
    intptr_t window;  // the window that added it; the callback goes with that window
};

// The value of one bindings element. Its callbacks may belong to several
// windows; window is the owner of the first of them.
struct EventBinding {
    BindingCallback* callbacks;
    intptr_t window;
};

// Bindings under 8-bit keys "kind:window:gadget:type"; -1 is the wildcard.
extern StringMap* bindings;

// Room for the longest key: kind and type as 32-bit numbers, window and
// gadget as object numbers, three colons and the terminating zero.
constexpr int32_t BINDING_KEY_SIZE = sizeof(intptr_t) == 4 ? 64 : 72;
static_assert(2 * 11 + 2 * (NUMBER_TEXT_SIZE - 1) + 3 + 1 <= BINDING_KEY_SIZE,
              "the longest binding key fits");

// Writes the four numbers in decimal joined by colons ("%d:%d:%d:%d" at 32
// bits), zero-terminated, into key (BINDING_KEY_SIZE bytes); returns the length.
int32_t binding_key_format(char* key, int32_t kind, intptr_t window, intptr_t gadget,
                           int32_t type);

// Creates the EventState and the bindings map (and the event lock when the
// runtime-wide switch is on): the portable half of events_init.
void event_state_init();
// 1 when the latest start got the state, its pool and the bindings map; 0
// when memory ran short for one of them.
int32_t events_ready();

// Starts and ends the library. On Win32 events_init also opens the post window;
// events_end destroys it. The state and the map live until the heap goes.
void events_init();
void events_end();

// Runs every callback bound under the key of the four numbers, in list order.
void binding_dispatch(int32_t kind, intptr_t window, intptr_t gadget, int32_t type);
// The five dispatches of a posted event, in this order: kind:window:gadget:type,
// kind:window:gadget:-1, kind:window:-1:-1, kind:-1:-1:-1, kind:-1:gadget:type.
void binding_dispatch_posted(int32_t kind, intptr_t window, intptr_t gadget, int32_t type);
// Drops every callback that window added, and every binding left without
// callbacks; frees the nodes once no callback is running, since a callback may
// free its own window.
void bindings_remove_window(intptr_t window);
// Binds callback to the pattern; the callback goes when owner_window is freed,
// and with it only. Nodes come from the main heap. 1 on success, 0 when memory
// is short.
int32_t binding_add(int32_t kind, intptr_t window, intptr_t gadget, int32_t type,
                    void (*callback)(), intptr_t owner_window);

#ifdef _WIN32

// ---- Posting from other threads ----------------------------------------------

// The block a sender hands to the post window. Word 0 is the sender's own: it
// links the blocks that are posted and not yet taken.
struct PostedEvent {
    PostedEvent* next_outstanding;
    int32_t kind;
    intptr_t gadget;
    intptr_t window;
    int32_t type;
    intptr_t data;
};

extern HWND post_window;
extern UINT post_message;

// Posts the event into the queue of the thread that ran events_init, from any
// thread. 1 when the message went out, 0 when it could not (before
// events_init or after events_end too).
int32_t event_post_from_thread(int32_t kind, intptr_t gadget, intptr_t window, int32_t type,
                               intptr_t data);

// Takes a PostedEvent only when our own sender handed it out and it has not
// been taken yet; any other long parameter is left untouched.
LRESULT CALLBACK post_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// ---- The pump ----------------------------------------------------------------

// A queued event's kind first; else handles one native message within timeout
// milliseconds (-1: no limit) and returns its number; 0 when nothing came.
int32_t event_wait_timeout(int32_t timeout_ms);
// event_wait_timeout without a limit.
int32_t event_wait();
// The accelerator table to translate keys with while active is the active
// window, or null when keys must reach the focused control untranslated.
HACCEL accelerator_for_window(HWND active);

#endif
