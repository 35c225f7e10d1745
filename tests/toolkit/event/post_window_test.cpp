// The post window under real Win32 messages: genuine posts from another
// thread, and forged or stale ones that must be left alone.
#include "tests/toolkit/toolkit_testing.h"

#include <windows.h>

#include <algorithm>

using PostWindow = EventFixture;

namespace {

// Blocks of the heap in use, counted with the system's own heap walk.
int busy_blocks(HeapHandle heap)
{
    int count = 0;
    PROCESS_HEAP_ENTRY entry = {};
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            ++count;
    HeapUnlock(heap);
    return count;
}

// What a bound callback saw, and on which thread it ran.
struct Dispatch {
    QueuedEvent event;
    intptr_t data;
    EventRelease release;
    DWORD thread;
    bool operator==(const Dispatch& o) const
    {
        return event == o.event && data == o.data && release == o.release && thread == o.thread;
    }
};

std::ostream& operator<<(std::ostream& out, const Dispatch& d)
{
    return out << d.event << " data " << d.data << " thread " << d.thread;
}

std::vector<Dispatch> dispatches;

void record_dispatch()
{
    const EventState* s = event_state;
    dispatches.push_back({{s->current_kind, s->current_gadget, s->current_window, s->current_type},
                          s->current_data, s->current_release, GetCurrentThreadId()});
}

struct ThreadPost {
    QueuedEvent event;
    intptr_t data;
    int32_t count;  // posts of the event, gadget counting up from event.gadget
    int32_t posted;
};

DWORD WINAPI post_from_thread(void* parameter)
{
    auto* job = static_cast<ThreadPost*>(parameter);
    for (int32_t i = 0; i < job->count; ++i)
        job->posted += event_post_from_thread(job->event.kind, job->event.gadget + i,
                                              job->event.window, job->event.type, job->data);
    return 0;
}

// Runs the posts on a second thread and waits for it, bounded.
void post_on_second_thread(ThreadPost& job)
{
    HANDLE thread = CreateThread(nullptr, 0, post_from_thread, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

// The platform's lock calls, wrapped at link time for this test (see its
// CMakeLists.txt): entering a lock that was never made, or was deleted and
// not made again, is counted, since the system's critical sections do not
// tell. A lock never made is not entered for real: that would wait forever.
PlatformLock* deleted_locks[16];  // written by the GUI thread only
volatile LONG entries_of_unusable_locks;

bool is_deleted(const PlatformLock* lock)
{
    for (const PlatformLock* deleted : deleted_locks)
        if (deleted == lock)
            return true;
    return false;
}

// A made critical section is never all zero bytes (a free one counts -1).
bool never_made(const PlatformLock* lock)
{
    const auto* byte = reinterpret_cast<const unsigned char*>(lock);
    return std::all_of(byte, byte + sizeof(PlatformLock), [](unsigned char b) { return b == 0; });
}

}  // namespace

extern "C" {
void __real__Z9lock_initP12PlatformLock(PlatformLock* lock);
void __real__Z11lock_deleteP12PlatformLock(PlatformLock* lock);
void __real__Z10lock_enterP12PlatformLock(PlatformLock* lock);

void __wrap__Z9lock_initP12PlatformLock(PlatformLock* lock)
{
    for (PlatformLock*& deleted : deleted_locks)
        if (deleted == lock)
            deleted = nullptr;
    __real__Z9lock_initP12PlatformLock(lock);
}

void __wrap__Z11lock_deleteP12PlatformLock(PlatformLock* lock)
{
    __real__Z11lock_deleteP12PlatformLock(lock);
    for (PlatformLock*& deleted : deleted_locks)
        if (!deleted) {
            deleted = lock;
            break;
        }
}

void __wrap__Z10lock_enterP12PlatformLock(PlatformLock* lock)
{
    const bool unmade = never_made(lock);
    if (unmade || is_deleted(lock))
        InterlockedIncrement(&entries_of_unusable_locks);
    if (!unmade)
        __real__Z10lock_enterP12PlatformLock(lock);
}
}

namespace {

// Posts one genuine block and returns the long parameter it travels with,
// read from the message still waiting in the queue.
LPARAM post_and_peek_block()
{
    EXPECT_EQ(event_post_from_thread(EV_GADGET, 1, 0, 768, 0), 1);
    MSG message = {};
    EXPECT_TRUE(PeekMessageW(&message, post_window, post_message, post_message, PM_NOREMOVE));
    return message.lParam;
}

}  // namespace

// First in this file, so that no test has started the event library yet.
TEST(PostBeforeStart, IsRefusedWithoutEnteringALockNeverMade)
{
    start_main_heap();
    const int busy_before = busy_blocks(main_heap);
    entries_of_unusable_locks = 0;
    EXPECT_EQ(event_post_from_thread(EV_GADGET, 1, 0, 768, 0), 0) << "no post window";
    EXPECT_EQ(entries_of_unusable_locks, 0) << "a post entered a lock that was never made";
    EXPECT_EQ(busy_blocks(main_heap), busy_before);
    end_main_heap();
}

TEST_F(PostWindow, GenuinePostFromAnotherThreadArrivesAsTheSameEventAsADirectPost)
{
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record_dispatch, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, 768, record_dispatch, 0), 1);

    dispatches.clear();
    event_post_data(EV_GADGET, 1, 0, 768, 0, nullptr);
    const std::vector<Dispatch> direct_dispatches = dispatches;
    const std::vector<QueuedEvent> direct_queue = drain_queue();

    const int busy_before = busy_blocks(main_heap);
    dispatches.clear();
    ThreadPost job = {{EV_GADGET, 1, 0, 768}, 0, 1, 0};
    post_on_second_thread(job);
    EXPECT_EQ(job.posted, 1);
    EXPECT_TRUE(dispatches.empty()) << "nothing enters the queue before the GUI thread pumps";
    pump_messages();

    EXPECT_EQ(dispatches, direct_dispatches);
    EXPECT_EQ(direct_dispatches.size(), 2u);
    EXPECT_EQ(drain_queue(), direct_queue);
    EXPECT_EQ(busy_blocks(main_heap), busy_before) << "the block was not freed";
}

TEST_F(PostWindow, DataWordTravelsWithoutAReleaseFunction)
{
    ThreadPost job = {{EV_TIMER, 9, 2, 0}, 0x5A5A1234, 1, 0};
    post_on_second_thread(job);
    pump_messages();
    ASSERT_EQ(event_next(), EV_TIMER);
    EXPECT_EQ(event_state->current_data, 0x5A5A1234);
    EXPECT_EQ(event_state->current_release, nullptr);
}

TEST_F(PostWindow, ManyPostsWhileTheGuiThreadPumpsArriveInOrderAndFreeEveryBlock)
{
    const int busy_before = busy_blocks(main_heap);
    constexpr int32_t count = 2000;
    ThreadPost job = {{EV_GADGET, 0, 1, 768}, 0, count, 0};
    HANDLE thread = CreateThread(nullptr, 0, post_from_thread, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);

    std::vector<QueuedEvent> taken;
    const DWORD start = GetTickCount();
    while (taken.size() < count && GetTickCount() - start < 20000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLPOSTMESSAGE);
        pump_messages();
        for (const QueuedEvent& e : drain_queue())
            taken.push_back(e);
    }
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);

    EXPECT_EQ(job.posted, count);
    ASSERT_EQ(taken.size(), static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        ASSERT_EQ(taken[i].gadget, i) << "event " << i;
    EXPECT_EQ(busy_blocks(main_heap), busy_before);
}

TEST_F(PostWindow, ForgedLongParametersAreIgnoredAndNeverFreed)
{
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record_dispatch, 0), 1);
    // A block that looks genuine but was not handed out by the sender.
    auto* lookalike = static_cast<PostedEvent*>(heap_alloc(main_heap, sizeof(PostedEvent), 1));
    ASSERT_NE(lookalike, nullptr);
    *lookalike = PostedEvent{nullptr, EV_GADGET, 1, 0, 768, 0};
    PostedEvent on_stack = *lookalike;
    const int busy_before = busy_blocks(main_heap);

    const LPARAM forged[] = {0, 1, static_cast<LPARAM>(0xDEADBEEF), 0x12345678,
                             reinterpret_cast<LPARAM>(lookalike),
                             reinterpret_cast<LPARAM>(&on_stack)};
    dispatches.clear();
    for (LPARAM lparam : forged)
        ASSERT_TRUE(PostMessageW(post_window, post_message, 0, lparam));
    pump_messages();

    EXPECT_TRUE(dispatches.empty());
    EXPECT_TRUE(drain_queue().empty());
    EXPECT_EQ(busy_blocks(main_heap), busy_before);
    EXPECT_EQ(HeapSize(main_heap, 0, lookalike), sizeof(PostedEvent)) << "still allocated";
    EXPECT_EQ(lookalike->kind, EV_GADGET);
    heap_free(main_heap, lookalike);
}

TEST_F(PostWindow, StaleOrRepeatedBlockIsTakenOnlyOnce)
{
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record_dispatch, 0), 1);
    const int busy_before = busy_blocks(main_heap);
    dispatches.clear();

    const LPARAM block = post_and_peek_block();
    ASSERT_NE(block, 0);
    ASSERT_TRUE(PostMessageW(post_window, post_message, 0, block)) << "a repeat before it is taken";
    pump_messages();
    EXPECT_EQ(dispatches.size(), 1u);
    EXPECT_EQ(busy_blocks(main_heap), busy_before);

    ASSERT_TRUE(PostMessageW(post_window, post_message, 0, block)) << "a repeat after it was freed";
    pump_messages();
    EXPECT_EQ(dispatches.size(), 1u);
    EXPECT_EQ(drain_queue().size(), 1u);
    EXPECT_TRUE(HeapValidate(main_heap, 0, nullptr));
}

TEST_F(PostWindow, SenderReportsFailureWhenNoBlockCanBeHad)
{
    const int busy_before = busy_blocks(main_heap);
    heap_fail_next(1);
    EXPECT_EQ(event_post_from_thread(EV_GADGET, 1, 0, 768, 0), 0);
    heap_fail_next(0);
    pump_messages();
    EXPECT_TRUE(drain_queue().empty());
    EXPECT_EQ(busy_blocks(main_heap), busy_before);
}

TEST_F(PostWindow, EndFreesOutstandingBlocksAndLaterPostsAreRefusedSafely)
{
    const int busy_before = busy_blocks(main_heap);
    ASSERT_EQ(event_post_from_thread(EV_GADGET, 1, 0, 768, 0), 1);
    ASSERT_EQ(event_post_from_thread(EV_GADGET, 2, 0, 768, 0), 1);
    events_end();
    EXPECT_EQ(busy_blocks(main_heap), busy_before);

    entries_of_unusable_locks = 0;
    EXPECT_EQ(event_post_from_thread(EV_GADGET, 3, 0, 768, 0), 0) << "no post window";
    ThreadPost job = {{EV_GADGET, 4, 0, 768}, 0, 2, 0};
    post_on_second_thread(job);
    EXPECT_EQ(job.posted, 0) << "no post window";
    EXPECT_EQ(entries_of_unusable_locks, 0) << "a post entered a lock the end had deleted";
    EXPECT_EQ(busy_blocks(main_heap), busy_before);
    free_event_state();
}

TEST_F(PostWindow, PostWindowIsMessageOnly)
{
    ASSERT_NE(post_window, nullptr);
    EXPECT_NE(GetAncestor(post_window, GA_PARENT), GetDesktopWindow()) << "a top-level window";
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, "PostEventClass", nullptr), post_window);
    EXPECT_NE(post_message, 0u);
    EXPECT_EQ(post_message, RegisterWindowMessageA("Zeph_PostEventMessage"));
}
