// The way into the queue for other threads: a hidden window owned by the GUI
// thread receives "Zeph_PostEventMessage" with a PostedEvent block and posts
// the event there. Any program can post a registered message with any long
// parameter, so the window takes only blocks our own sender handed out and
// that are still outstanding, and never reads or frees anything else.
#include "toolkit/event/event.h"

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

HWND post_window;
UINT post_message;

static_assert(sizeof(PostedEvent) == by_width(24, 48), "PostedEvent keeps its layout");

// Blocks posted and not yet taken, oldest first, linked through word 0. The
// GUI thread usually takes the oldest, so the search usually ends at once.
// The lock is made once, by whichever comes first of events_init and a
// sender, and never deleted: a sender may post before events_init or after
// events_end, and must find it whole to learn that there is no window.
static PlatformLock outstanding_lock;
static volatile OnceWord outstanding_lock_once;
static PostedEvent* outstanding_head;
static PostedEvent* outstanding_tail;

static const char post_class_name[] = "PostEventClass";

static HINSTANCE instance()
{
    return static_cast<HINSTANCE>(instance_handle);
}

// A message-only window: it needs no place on the desktop, and broadcasts and
// window enumeration do not reach it.
static HWND create_post_window()
{
    WNDCLASSA window_class = {};
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = post_window_proc;
    window_class.hInstance = instance();
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = post_class_name;
    RegisterClassA(&window_class);
    return CreateWindowExA(0, post_class_name, nullptr, WS_CAPTION, 0, 0, 1, 1, HWND_MESSAGE,
                           nullptr, instance(), nullptr);
}

static void init_outstanding_lock() { lock_init(&outstanding_lock); }

void events_init()
{
    run_once(&outstanding_lock_once, init_outstanding_lock);
    post_window = create_post_window();
    post_message = RegisterWindowMessageA("Zeph_PostEventMessage");
    event_state_init();
}

// Blocks still outstanding were never going to be taken: their messages went
// with the window.
static void free_outstanding()
{
    lock_enter(&outstanding_lock);
    while (PostedEvent* block = outstanding_head) {
        outstanding_head = block->next_outstanding;
        heap_free(main_heap, block);
    }
    outstanding_tail = nullptr;
    lock_leave(&outstanding_lock);
}

// Senders read post_window under the lock; from here on they find none.
void events_end()
{
    lock_enter(&outstanding_lock);
    HWND window = post_window;
    post_window = nullptr;
    lock_leave(&outstanding_lock);
    DestroyWindow(window);
    free_outstanding();
}

// Expects the outstanding lock.
static void append_outstanding(PostedEvent* block)
{
    block->next_outstanding = nullptr;
    if (outstanding_tail)
        outstanding_tail->next_outstanding = block;
    else
        outstanding_head = block;
    outstanding_tail = block;
}

// Unlinks block when it is outstanding; compares addresses only, so a forged
// or stale address is never read. 1 when it was outstanding.
static int32_t take_outstanding(const PostedEvent* block)
{
    lock_enter(&outstanding_lock);
    PostedEvent* previous = nullptr;
    PostedEvent** link = &outstanding_head;
    while (*link && *link != block) {
        previous = *link;
        link = &previous->next_outstanding;
    }
    const int32_t found = *link != nullptr;
    if (found) {
        *link = block->next_outstanding;
        if (outstanding_tail == block)
            outstanding_tail = previous;
    }
    lock_leave(&outstanding_lock);
    return found;
}

int32_t event_post_from_thread(int32_t kind, intptr_t gadget, intptr_t window, int32_t type,
                               intptr_t data)
{
    auto* block = static_cast<PostedEvent*>(heap_alloc(main_heap, sizeof(PostedEvent), 0));
    if (!block)
        return 0;
    *block = PostedEvent{nullptr, kind, gadget, window, type, data};
    run_once(&outstanding_lock_once, init_outstanding_lock);
    // Listed before the receiver can look: it needs this lock to find the block.
    lock_enter(&outstanding_lock);
    const int32_t posted =
        post_window && PostMessageA(post_window, post_message, 0, reinterpret_cast<LPARAM>(block));
    if (posted)
        append_outstanding(block);
    lock_leave(&outstanding_lock);
    if (!posted)
        heap_free(main_heap, block);
    return posted;
}

static void post_block(LPARAM lparam)
{
    auto* block = reinterpret_cast<PostedEvent*>(lparam);
    if (!take_outstanding(block))
        return;
    event_post_data(block->kind, block->gadget, block->window, block->type, block->data, nullptr);
    heap_free(main_heap, block);
}

LRESULT CALLBACK post_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == post_message)
        post_block(lparam);
    return DefWindowProcA(window, message, wparam, lparam);
}
