#include "tests/toolkit/toolkit_testing.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

using Bindings = EventFixture;

namespace {

// Which callback ran, and what it saw as the current event.
struct Call {
    int tag;
    intptr_t gadget;
    int32_t type;
    bool operator==(const Call& o) const
    {
        return tag == o.tag && gadget == o.gadget && type == o.type;
    }
};

std::ostream& operator<<(std::ostream& out, const Call& c)
{
    return out << "{callback " << c.tag << ", gadget " << c.gadget << ", type " << c.type << "}";
}

std::vector<Call> calls;

template <int Tag>
void record()
{
    calls.push_back({Tag, event_gadget(), event_type()});
}

std::vector<int> tags()
{
    std::vector<int> t;
    for (const Call& c : calls)
        t.push_back(c.tag);
    return t;
}

// Window and gadget are object numbers, as wide as a pointer.
std::string snprintf_key(int32_t kind, intptr_t window, intptr_t gadget, int32_t type)
{
    char key[BINDING_KEY_SIZE];
    std::snprintf(key, sizeof key, "%d:%lld:%lld:%d", static_cast<int>(kind),
                  static_cast<long long>(window), static_cast<long long>(gadget),
                  static_cast<int>(type));
    return key;
}

std::string formatted_key(int32_t kind, intptr_t window, intptr_t gadget, int32_t type)
{
    char key[BINDING_KEY_SIZE];
    const int32_t length = binding_key_format(key, kind, window, gadget, type);
    EXPECT_EQ(length, static_cast<int32_t>(std::strlen(key)));
    return key;
}

// One pattern bound alone, one event posted, and how often the callback ran.
struct LoneBindingCase {
    const char* name;
    QueuedEvent pattern;  // kind, gadget, window, type
    QueuedEvent posted;
    size_t runs;
};

size_t runs_of_lone_binding(const QueuedEvent& pattern, const QueuedEvent& posted)
{
    calls.clear();
    map_clear(bindings);
    EXPECT_EQ(binding_add(pattern.kind, pattern.window, pattern.gadget, pattern.type, record<1>, 0),
              1);
    event_post_simple(posted.kind, posted.gadget, posted.window, posted.type);
    drain_queue();
    return calls.size();
}

// Full-range numbers mixed with short ones, where the digit counts change.
template <typename Number>
Number draw(std::mt19937_64& random)
{
    const auto shift = static_cast<int>(random() % (8 * sizeof(Number)));
    return static_cast<Number>(static_cast<Number>(random()) >> shift);
}

}  // namespace

TEST(BindingKey, MatchesSnprintfOnEdgeValues)
{
    const intptr_t edges[] = {0,          -1,          1,       9,           10,      -9,
                              -10,        99,          100,     13100,       65536,   999999999,
                              1000000000, -1000000000, INT_MAX, INT_MAX - 1, INT_MIN, INT_MIN + 1,
                              INTPTR_MAX, INTPTR_MIN,  INTPTR_MIN + 1};
    for (intptr_t a : edges)
        for (intptr_t b : edges) {
            const auto kind = static_cast<int32_t>(a);
            const auto gadget = static_cast<intptr_t>(0u - static_cast<uintptr_t>(b));
            EXPECT_EQ(formatted_key(kind, b, gadget, kind), snprintf_key(kind, b, gadget, kind));
        }
    EXPECT_EQ(formatted_key(INT_MIN, INTPTR_MIN, INTPTR_MIN, INT_MIN).size(), by_width(47, 65))
        << "the longest key";
}

TEST(BindingKey, MatchesSnprintfOnRandomValues)
{
    std::mt19937_64 random(20261207);
    for (int i = 0; i < 20000; ++i) {
        const auto k = draw<int32_t>(random), t = draw<int32_t>(random);
        const auto w = draw<intptr_t>(random), g = draw<intptr_t>(random);
        ASSERT_EQ(formatted_key(k, w, g, t), snprintf_key(k, w, g, t));
    }
}

TEST_F(Bindings, WithoutBindingsPostingRunsNothingAndAddsNothing)
{
    event_post_simple(EV_GADGET, 1, 0, 768);
    binding_dispatch(EV_GADGET, 0, 1, 768);
    EXPECT_EQ(bindings->element_count, 0);
}

TEST_F(Bindings, FivePatternsRunInOrderWithThePostedEventCurrent)
{
    calls.clear();
    ASSERT_EQ(binding_add(EV_GADGET, -1, 1, 768, record<5>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record<4>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, -1, -1, record<3>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, -1, record<2>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, 768, record<1>, 0), 1);
    ASSERT_EQ(binding_add(EV_MENU, -1, -1, -1, record<9>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 2, -1, record<9>, 0), 1);

    event_post_simple(EV_GADGET, 1, 0, 768);

    const std::vector<Call> expected{{1, 1, 768}, {2, 1, 768}, {3, 1, 768}, {4, 1, 768}, {5, 1, 768}};
    EXPECT_EQ(calls, expected);
}

TEST_F(Bindings, PatternsMatchTheEventsTheyName)
{
    const LoneBindingCase cases[] = {
        {"gadget of a window, any type: change", {EV_GADGET, 1, 0, -1}, {EV_GADGET, 1, 0, 768}, 1},
        {"gadget of a window, any type: focus", {EV_GADGET, 1, 0, -1}, {EV_GADGET, 1, 0, 14000}, 1},
        {"gadget of a window, any type: other gadget", {EV_GADGET, 1, 0, -1}, {EV_GADGET, 2, 0, 768}, 0},
        {"close of any window: window 0", {EV_CLOSE_WINDOW, -1, -1, -1}, {EV_CLOSE_WINDOW, 0, 0, 0}, 1},
        {"close of any window: window 7", {EV_CLOSE_WINDOW, -1, -1, -1}, {EV_CLOSE_WINDOW, 7, 7, 0}, 1},
        {"gadget and type anywhere: window 3", {EV_GADGET, 1, -1, 768}, {EV_GADGET, 1, 3, 768}, 1},
        {"gadget and type anywhere: other type", {EV_GADGET, 1, -1, 768}, {EV_GADGET, 1, 3, 14000}, 0},
        {"gadget and type in window 2: window 2", {EV_GADGET, 1, 2, 768}, {EV_GADGET, 1, 2, 768}, 1},
        {"gadget and type in window 2: window 0", {EV_GADGET, 1, 2, 768}, {EV_GADGET, 1, 0, 768}, 0},
        {"any gadget, one type, is no pattern", {EV_GADGET, -1, 0, 768}, {EV_GADGET, 1, 0, 768}, 0},
        {"other kind", {EV_MENU, -1, -1, -1}, {EV_GADGET, 1, 0, 768}, 0},
    };
    for (const LoneBindingCase& c : cases)
        EXPECT_EQ(runs_of_lone_binding(c.pattern, c.posted), c.runs) << c.name;
}

TEST_F(Bindings, CoincidingPatternsRunTheCallbackOncePerKey)
{
    const LoneBindingCase cases[] = {
        {"window -1: patterns 3 and 4", {EV_GADGET, -1, -1, -1}, {EV_GADGET, 1, -1, 768}, 2},
        {"window -1: patterns 1 and 5", {EV_GADGET, 1, -1, 768}, {EV_GADGET, 1, -1, 768}, 2},
        {"type -1: patterns 1 and 2", {EV_GADGET, 1, 0, -1}, {EV_GADGET, 1, 0, -1}, 2},
        {"all -1: patterns 1 to 5", {EV_GADGET, -1, -1, -1}, {EV_GADGET, -1, -1, -1}, 5},
    };
    for (const LoneBindingCase& c : cases)
        EXPECT_EQ(runs_of_lone_binding(c.pattern, c.posted), c.runs) << c.name;
}

TEST_F(Bindings, CallbackBoundUnderExactAndAnyWindowKeysRunsTwiceExactFirst)
{
    calls.clear();
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record<4>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, 768, record<1>, 0), 1);
    event_post_simple(EV_GADGET, 1, 0, 768);
    EXPECT_EQ(tags(), (std::vector<int>{1, 4}));
}

TEST_F(Bindings, CallbacksOfOneKeyRunInTheOrderAdded)
{
    calls.clear();
    ASSERT_EQ(binding_add(EV_TIMER, 0, 3, 0, record<1>, 0), 1);
    ASSERT_EQ(binding_add(EV_TIMER, 0, 3, 0, record<2>, 0), 1);
    ASSERT_EQ(binding_add(EV_TIMER, 0, 3, 0, record<3>, 0), 1);
    EXPECT_EQ(bindings->element_count, 1) << "one binding, a list of three";
    binding_dispatch(EV_TIMER, 0, 3, 0);
    EXPECT_EQ(tags(), (std::vector<int>{1, 2, 3}));
}

TEST_F(Bindings, AreStoredUnderTheirEightBitKeys)
{
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record<1>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, -1, record<1>, 0), 1);
    ASSERT_EQ(binding_add(INT_MIN, INT_MAX, INT_MIN, -1, record<1>, 0), 1);
    EXPECT_NE(map_find_ascii(bindings, "13100:-1:-1:-1"), nullptr);
    EXPECT_NE(map_find_ascii(bindings, "13100:0:1:-1"), nullptr);
    EXPECT_NE(map_find_ascii(bindings, "-2147483648:2147483647:-2147483648:-1"), nullptr);

    calls.clear();
    event_post_simple(INT_MIN, INT_MIN, INT_MAX, 5);
    EXPECT_EQ(calls.size(), 1u) << "extreme numbers are dispatched through their keys";
}

TEST_F(Bindings, RemovingAWindowDropsExactlyItsBindings)
{
    calls.clear();
    ASSERT_EQ(binding_add(EV_GADGET, 3, -1, -1, record<1>, 3), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 3, -1, -1, record<2>, 3), 1);
    ASSERT_EQ(binding_add(EV_CLOSE_WINDOW, -1, -1, -1, record<3>, 3), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 4, -1, -1, record<4>, 4), 1);
    ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record<5>, 0), 1);

    bindings_remove_window(3);

    EXPECT_EQ(bindings->element_count, 2);
    event_post_simple(EV_GADGET, 1, 3, 768);
    event_post_simple(EV_GADGET, 1, 4, 768);
    event_post_simple(EV_CLOSE_WINDOW, 3, 3, 0);
    EXPECT_EQ(tags(), (std::vector<int>{5, 4, 5}));

    bindings_remove_window(3);
    EXPECT_EQ(bindings->element_count, 2) << "a second removal changes nothing";
}

TEST_F(Bindings, CallbacksOfTwoWindowsUnderOneKeyEachGoWithTheirOwnWindow)
{
    for (const bool older_freed_first : {true, false}) {
        SCOPED_TRACE(older_freed_first ? "older window freed first" : "newer window freed first");
        ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record<1>, 1), 1);
        ASSERT_EQ(binding_add(EV_GADGET, -1, -1, -1, record<2>, 2), 1);
        const int first = older_freed_first ? 1 : 2, second = older_freed_first ? 2 : 1;

        bindings_remove_window(first);
        calls.clear();
        binding_dispatch(EV_GADGET, -1, -1, -1);
        EXPECT_EQ(tags(), std::vector<int>{second});

        bindings_remove_window(second);
        calls.clear();
        binding_dispatch(EV_GADGET, -1, -1, -1);
        EXPECT_EQ(tags(), std::vector<int>{});
        EXPECT_EQ(bindings->element_count, 0);
    }
}

TEST_F(Bindings, RemovingEveryBindingOfAManyWindowMapLeavesNoneBehind)
{
    for (int32_t window = 0; window < 300; ++window)
        for (int32_t gadget = 0; gadget < 3; ++gadget)
            ASSERT_EQ(binding_add(EV_GADGET, window, gadget, -1, record<1>, window % 2), 1);
    bindings_remove_window(1);
    EXPECT_EQ(bindings->element_count, 450);
    bindings_remove_window(0);
    EXPECT_EQ(bindings->element_count, 0);
    calls.clear();
    event_post_simple(EV_GADGET, 1, 0, 768);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Bindings, AddWithoutMemoryFailsAndChangesNothing)
{
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, -1, record<1>, 0), 1);
    heap_fail_next(1);
    EXPECT_EQ(binding_add(EV_GADGET, 0, 1, -1, record<2>, 0), 0);
    heap_fail_next(0);
    EXPECT_EQ(binding_add(EV_GADGET, 0, 1, -1, nullptr, 0), 0) << "no callback, no binding";
    calls.clear();
    binding_dispatch(EV_GADGET, 0, 1, -1);
    EXPECT_EQ(tags(), std::vector<int>{1});
}

namespace {
void post_unrelated_then_record()
{
    event_post_simple(EV_TIMER, 77, 88, 99);
    record<1>();
}
}  // namespace

TEST_F(Bindings, CallbackThatPostsLeavesTheRemainingKeysOfItsEventIntact)
{
    calls.clear();
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, 768, post_unrelated_then_record, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, 0, 1, -1, record<2>, 0), 1);
    ASSERT_EQ(binding_add(EV_GADGET, -1, 1, 768, record<5>, 0), 1);
    ASSERT_EQ(binding_add(EV_TIMER, 88, 77, 99, record<9>, 0), 1);
    event_post_simple(EV_GADGET, 1, 0, 768);
    EXPECT_EQ(tags(), (std::vector<int>{9, 1, 2, 5}));
}

TEST_F(Bindings, EveryBindingIsFoundWhateverItsKeyAndBucket)
{
    std::mt19937_64 random(7);
    std::vector<QueuedEvent> bound;
    for (int i = 0; i < 3000; ++i) {
        const QueuedEvent e{draw<int32_t>(random), draw<intptr_t>(random), draw<intptr_t>(random),
                            draw<int32_t>(random)};
        ASSERT_EQ(binding_add(e.kind, e.window, e.gadget, e.type, record<1>, 0), 1);
        bound.push_back(e);
    }
    for (const QueuedEvent& e : bound) {
        calls.clear();
        binding_dispatch(e.kind, e.window, e.gadget, e.type);
        ASSERT_FALSE(calls.empty()) << "lookup missed " << e;
        calls.clear();
        event_post_simple(e.kind, e.gadget, e.window, e.type);
        ASSERT_FALSE(calls.empty()) << "post missed " << e;
    }
}

namespace {
void free_own_window()
{
    calls.push_back({10, event_gadget(), event_type()});
    bindings_remove_window(3);
}
}  // namespace

TEST_F(Bindings, CallbackThatRemovesItsOwnWindowsBindingsIsSafe)
{
    calls.clear();
    ASSERT_EQ(binding_add(EV_CLOSE_WINDOW, 3, -1, -1, free_own_window, 3), 1);
    ASSERT_EQ(binding_add(EV_CLOSE_WINDOW, 3, -1, -1, record<2>, 3), 1);
    ASSERT_EQ(binding_add(EV_CLOSE_WINDOW, -1, -1, -1, record<4>, 0), 1);
    event_post_simple(EV_CLOSE_WINDOW, 3, 3, 0);
    EXPECT_EQ(tags(), (std::vector<int>{10, 2, 4})) << "the running list is walked to its end";
    EXPECT_EQ(bindings->element_count, 1);

    calls.clear();
    event_post_simple(EV_CLOSE_WINDOW, 3, 3, 0);
    EXPECT_EQ(tags(), std::vector<int>{4});
}
