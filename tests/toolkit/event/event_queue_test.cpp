#include "tests/toolkit/toolkit_testing.h"

#include <algorithm>
#include <climits>

using Queue = EventFixture;

namespace {

const QueuedEvent change_1{EV_GADGET, 1, 0, GADGET_EVENT_CHANGE};
const QueuedEvent change_2{EV_GADGET, 2, 0, GADGET_EVENT_CHANGE};
const QueuedEvent close_0{EV_CLOSE_WINDOW, 0, 0, 0};

void post(const QueuedEvent& e)
{
    event_post_simple(e.kind, e.gadget, e.window, e.type);
}

std::vector<intptr_t> released;

void record_release(intptr_t data)
{
    released.push_back(data);
}

// Recorded by bound callbacks: what the current-event fields said.
std::vector<QueuedEvent> dispatched;

void record_dispatch()
{
    dispatched.push_back({event_state->current_kind, event_gadget(), event_state->current_window,
                          event_type()});
}

}  // namespace

TEST_F(Queue, ExactRepeatOfTheTailIsQueuedOnce)
{
    post(change_1);
    post(change_1);
    EXPECT_EQ(drain_queue(), std::vector<QueuedEvent>{change_1});
}

TEST_F(Queue, OnlyTheTailIsComparedForMerging)
{
    post(change_1);
    post(change_2);
    post(change_1);
    EXPECT_EQ(drain_queue(), (std::vector<QueuedEvent>{change_1, change_2, change_1}));
}

TEST_F(Queue, RepeatAfterTheQueueEmptiedIsQueuedAgain)
{
    post(change_1);
    ASSERT_EQ(event_next(), EV_GADGET);
    post(change_1);
    EXPECT_EQ(drain_queue(), std::vector<QueuedEvent>{change_1});
}

TEST_F(Queue, MergingStopsAtKind65536)
{
    struct Case {
        int32_t kind;
        size_t queued_of_two;
    };
    const Case cases[] = {{65535, 1}, {65536, 2}, {INT_MAX, 2}, {-5, 1}, {INT_MIN, 1}};
    for (const Case& c : cases) {
        event_post_simple(c.kind, 7, 3, 1);
        event_post_simple(c.kind, 7, 3, 1);
        EXPECT_EQ(drain_queue().size(), c.queued_of_two) << "kind " << c.kind;
    }
}

TEST_F(Queue, EveryFieldTakesPartInTheMergeTest)
{
    const QueuedEvent variants[] = {{EV_MENU, 1, 0, 768}, {EV_GADGET, 9, 0, 768},
                                  {EV_GADGET, 1, 9, 768}, {EV_GADGET, 1, 0, 9}};
    for (const QueuedEvent& other : variants) {
        post(change_1);
        post(other);
        EXPECT_EQ(drain_queue(), (std::vector<QueuedEvent>{change_1, other})) << other;
    }
}

TEST_F(Queue, MergedPostKeepsTheFirstDataAndReleasesOnlyIt)
{
    released.clear();
    event_post_data(EV_GADGET, 1, 0, 768, 111, record_release);
    event_post_data(EV_GADGET, 1, 0, 768, 222, record_release);
    ASSERT_EQ(event_next(), EV_GADGET);
    EXPECT_EQ(event_state->current_data, 111);
    EXPECT_EQ(event_next(), 0);
    EXPECT_EQ(released, std::vector<intptr_t>{111});
}

TEST_F(Queue, DataIsReleasedOnceAtTheNextCallAfterItWasTaken)
{
    released.clear();
    event_post_data(EV_TIMER, 4, 0, 0, 55, record_release);
    post(close_0);
    ASSERT_EQ(event_next(), EV_TIMER);
    EXPECT_TRUE(released.empty()) << "released while still current";
    ASSERT_EQ(event_next(), EV_CLOSE_WINDOW);
    EXPECT_EQ(released, std::vector<intptr_t>{55});
    event_next();
    event_next();
    EXPECT_EQ(released, std::vector<intptr_t>{55}) << "released a second time";
}

TEST_F(Queue, ReleaseNeedsBothDataAndFunction)
{
    released.clear();
    event_post_data(EV_TIMER, 1, 0, 0, 0, record_release);
    event_post_data(EV_TIMER, 2, 0, 0, 77, nullptr);
    ASSERT_EQ(event_next(), EV_TIMER);
    ASSERT_EQ(event_next(), EV_TIMER);
    EXPECT_EQ(event_next(), 0);
    EXPECT_TRUE(released.empty());
    EXPECT_EQ(event_state->current_data, 77) << "a lone data value is neither released nor cleared";
}

namespace {
int reentered_releases;
void release_then_take_next(intptr_t)
{
    ++reentered_releases;
    event_next();
}
}  // namespace

TEST_F(Queue, ReleaseThatTakesTheNextEventItselfRunsOnce)
{
    reentered_releases = 0;
    event_post_data(EV_TIMER, 1, 0, 0, 5, release_then_take_next);
    ASSERT_EQ(event_next(), EV_TIMER);
    event_next();
    EXPECT_EQ(reentered_releases, 1);
}

TEST_F(Queue, EmptyQueueGivesKindZeroTypeMinusOneAndKeepsTheGadget)
{
    post(change_2);
    ASSERT_EQ(event_next(), EV_GADGET);
    EXPECT_EQ(event_next(), 0);
    EXPECT_EQ(event_type(), -1);
    EXPECT_EQ(event_gadget(), 2);
    EXPECT_EQ(event_state->current_window, 0);
}

TEST_F(Queue, SuppressionDropsUnforcedPostsAndTheirBindings)
{
    dispatched.clear();
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record_dispatch, 0), 1);
    event_suppress_begin();
    post(change_1);
    EXPECT_TRUE(drain_queue().empty());
    EXPECT_TRUE(dispatched.empty());

    event_post(EV_GADGET, 1, 0, 768, 0, nullptr, 1);
    EXPECT_EQ(drain_queue(), std::vector<QueuedEvent>{change_1});
    EXPECT_EQ(dispatched, std::vector<QueuedEvent>{change_1});
    event_suppress_end();

    dispatched.clear();
    post(change_1);
    EXPECT_EQ(drain_queue(), std::vector<QueuedEvent>{change_1});
    EXPECT_EQ(dispatched, std::vector<QueuedEvent>{change_1});
}

TEST_F(Queue, SuppressionNestsAndAnUnmatchedEndStillSuppresses)
{
    event_suppress_begin();
    event_suppress_begin();
    event_suppress_end();
    post(change_1);
    EXPECT_TRUE(drain_queue().empty()) << "one level still open";
    event_suppress_end();
    event_suppress_end();
    ASSERT_EQ(event_state->suppress, -1);
    post(change_1);
    EXPECT_TRUE(drain_queue().empty()) << "a negative count suppresses";
}

TEST_F(Queue, CallbacksSeeThePostedEventAndTheCurrentEventIsRestored)
{
    dispatched.clear();
    ASSERT_EQ(binding_add(EV_GADGET, 0, -1, -1, record_dispatch, 0), 1);
    event_post_data(EV_CLOSE_WINDOW, 0, 0, 0, 31, record_release);
    ASSERT_EQ(event_next(), EV_CLOSE_WINDOW);
    const EventState before = *event_state;

    post(change_2);

    EXPECT_EQ(dispatched, std::vector<QueuedEvent>{change_2});
    EXPECT_EQ(event_state->current_kind, before.current_kind);
    EXPECT_EQ(event_state->current_window, before.current_window);
    EXPECT_EQ(event_gadget(), before.current_gadget);
    EXPECT_EQ(event_type(), before.current_type);
    EXPECT_EQ(event_state->current_data, before.current_data);
    EXPECT_EQ(event_state->current_release, before.current_release);
}

namespace {
std::vector<QueuedEvent> taken_in_callback;

// A callback that pumps: it takes the next queued event itself.
void take_next_event()
{
    const int32_t kind = event_next();
    taken_in_callback.push_back(
        {kind, event_gadget(), event_state->current_window, event_type()});
}
}  // namespace

TEST_F(Queue, CallbackThatTakesTheNextEventLeavesEveryDataReleasedOnce)
{
    released.clear();
    taken_in_callback.clear();
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, take_next_event, 0), 1);
    event_post_data(EV_MENU, 3, 0, 0, 7, record_release);
    event_post_data(EV_GADGET, 1, 0, 768, 42, record_release);
    EXPECT_EQ(taken_in_callback, (std::vector<QueuedEvent>{{EV_MENU, 3, 0, 0}}));
    EXPECT_EQ(released, std::vector<intptr_t>{7}) << "taken in the callback, done when it returns";
    ASSERT_EQ(event_next(), EV_GADGET) << "the posted event stays queued";
    EXPECT_EQ(event_state->current_data, 42);
    EXPECT_EQ(event_next(), 0);
    EXPECT_EQ(released, (std::vector<intptr_t>{7, 42}));
}

namespace {
// Posts a second event from inside the first one's callback.
void post_inner_then_record()
{
    if (event_state->current_kind == EV_MENU)
        event_post_simple(EV_REPAINT, 0, 5, 0);
    record_dispatch();
}
}  // namespace

TEST_F(Queue, CallbackThatPostsSeesItsOwnEventAfterwards)
{
    dispatched.clear();
    ASSERT_EQ(binding_add(EV_MENU, -1, -1, -1, post_inner_then_record, 0), 1);
    ASSERT_EQ(binding_add(EV_REPAINT, -1, -1, -1, record_dispatch, 0), 1);
    event_post_simple(EV_MENU, 40, 5, 0);
    const std::vector<QueuedEvent> expected{{EV_REPAINT, 0, 5, 0}, {EV_MENU, 40, 5, 0}};
    EXPECT_EQ(dispatched, expected);
    EXPECT_EQ(drain_queue(), (std::vector<QueuedEvent>{{EV_MENU, 40, 5, 0}, {EV_REPAINT, 0, 5, 0}}));
}

namespace {
struct PurgeCase {
    const char* name;
    std::vector<int32_t> windows;  // queued in this order, one EV_REPAINT each
    int32_t purged;
    std::vector<int32_t> kept;
};
}  // namespace

TEST_F(Queue, PurgeWindowKeepsHeadAndTailRight)
{
    const PurgeCase cases[] = {
        {"last record", {1, 2, 3}, 3, {1, 2}},
        {"first record", {3, 1, 2}, 3, {1, 2}},
        {"middle records", {1, 3, 3, 2}, 3, {1, 2}},
        {"every record", {3, 3}, 3, {}},
        {"no record", {1, 2}, 3, {1, 2}},
    };
    for (const PurgeCase& c : cases) {
        for (int32_t w : c.windows)
            event_post_simple(EV_REPAINT, w, w, 0);
        event_purge_window(c.purged);
        EXPECT_EQ(event_state->head == nullptr, event_state->tail == nullptr) << c.name;
        if (event_state->tail) {
            EXPECT_EQ(event_state->tail->next, nullptr) << c.name;
        }
        // The next post must land behind the last kept record.
        event_post_simple(EV_MENU, 0, 99, 0);
        std::vector<int32_t> windows;
        for (const QueuedEvent& e : drain_queue())
            windows.push_back(e.window);
        std::vector<int32_t> expected = c.kept;
        expected.push_back(99);
        EXPECT_EQ(windows, expected) << c.name;
    }
}

TEST_F(Queue, PurgeReleasesTheDataOfEveryRemovedEventOnce)
{
    released.clear();
    event_post_data(EV_TIMER, 1, 3, 0, 11, record_release);
    event_post_data(EV_TIMER, 2, 4, 0, 22, record_release);
    event_post_data(EV_TIMER, 3, 3, 0, 33, record_release);
    event_purge_window(3);
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<intptr_t>{11, 33}));
    ASSERT_EQ(event_next(), EV_TIMER);
    EXPECT_EQ(event_state->current_data, 22);
    EXPECT_EQ(event_next(), 0);
    EXPECT_EQ(released, (std::vector<intptr_t>{11, 33, 22}));
}

TEST_F(Queue, PurgeMatchesEveryFieldWithMinusOneAsWildcard)
{
    const QueuedEvent queued[] = {{EV_GADGET, 2, 0, 768}, {EV_GADGET, 1, 0, 768},
                                {EV_GADGET, 2, 5, 14000}, {EV_MENU, 2, 0, 0},
                                {EV_GADGET, 2, 5, 14001}, {EV_GADGET, 1, 5, 14000}};
    for (const QueuedEvent& e : queued)
        post(e);
    event_purge(EV_GADGET, 2, -1, -1);
    const std::vector<QueuedEvent> kept{{EV_GADGET, 1, 0, 768}, {EV_MENU, 2, 0, 0},
                                      {EV_GADGET, 1, 5, 14000}};
    EXPECT_EQ(drain_queue(), kept);

    for (const QueuedEvent& e : queued)
        post(e);
    event_purge(-1, -1, 5, 14000);
    const std::vector<QueuedEvent> kept_by_window_and_type{
        {EV_GADGET, 2, 0, 768}, {EV_GADGET, 1, 0, 768}, {EV_MENU, 2, 0, 0}, {EV_GADGET, 2, 5, 14001}};
    EXPECT_EQ(drain_queue(), kept_by_window_and_type);
}

TEST_F(Queue, PurgeLeavesTheTailForMergingWithTheLastKeptRecord)
{
    post(change_1);
    post(change_2);
    event_purge(EV_GADGET, 2, -1, -1);
    post(change_1);
    EXPECT_EQ(drain_queue(), std::vector<QueuedEvent>{change_1}) << "merged with the new tail";
}

TEST_F(Queue, DrainedQueueRefillsWithoutGrowingThePool)
{
    for (int32_t round = 0; round < 3; ++round) {
        for (int32_t gadget = 0; gadget < 15; ++gadget)
            event_post_simple(EV_GADGET, gadget, 0, 768);
        EXPECT_EQ(drain_queue().size(), 15u);
        EXPECT_EQ(event_state->pool->total_blocks, 16) << "round " << round;
    }
}

TEST_F(Queue, ExhaustedPoolDropsTheEventButStillRunsBindings)
{
    dispatched.clear();
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record_dispatch, 0), 1);
    for (int32_t gadget = 0; gadget < 15; ++gadget)  // fills the first chunk
        event_post_simple(EV_GADGET, gadget, 0, 768);
    dispatched.clear();

    heap_fail_next(2);  // the full chunk and the one-block retry
    event_post_simple(EV_GADGET, 100, 0, 768);
    heap_fail_next(0);

    EXPECT_EQ(dispatched, (std::vector<QueuedEvent>{{EV_GADGET, 100, 0, 768}}));
    std::vector<QueuedEvent> taken = drain_queue();
    ASSERT_EQ(taken.size(), 15u);
    EXPECT_EQ(taken.back().gadget, 14);

    event_post_simple(EV_GADGET, 101, 0, 768);
    EXPECT_EQ(drain_queue(), (std::vector<QueuedEvent>{{EV_GADGET, 101, 0, 768}}));
}

// The state is the first block events_init takes; without it nothing can be
// queued, and the program must not go on as if the library had started.
TEST(EventStart, SaysWhetherItsStatePoolAndMapCouldBeHad)
{
    start_main_heap();
    heap_fail_next(1);
    events_init();
    heap_fail_next(0);
    EXPECT_EQ(event_state, nullptr);
    EXPECT_EQ(events_ready(), 0);
    events_end();
    map_free(bindings);

    events_init();
    EXPECT_EQ(events_ready(), 1);
    events_end();
    free_event_state();
    end_main_heap();
}
