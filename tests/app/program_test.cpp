// The window program's own decisions: when Esc ends it, what a repair that
// memory ran short for shows, and a start-up whose gadget library could not
// get its context.
#include "tests/app/program_driver.h"
#include "tests/toolkit/toolkit_testing.h"

namespace {

TEST(EscapeDecision, OnlyANewPressWhileOurWindowIsInFrontEndsTheProgram)
{
    constexpr uint32_t OURS = 1200, OTHER = 1300;
    struct Case {
        uint32_t key_state;
        uint32_t foreground_thread;
        int32_t ends;
    };
    const Case cases[] = {
        {ESCAPE_NEW_PRESS, OURS, 1},
        {ESCAPE_NEW_PRESS, OTHER, 0},  // pressed in another program
        {ESCAPE_NEW_PRESS, 0, 0},      // no foreground window at all
        {0xFFFF8000, OURS, 0},         // held, no new press
        {0x00000001, OURS, 0},         // pressed and released again
        {0x00008001, OURS, 0},         // the 16-bit value not sign-extended
        {0, OURS, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(escape_ends_program(c.key_state, c.foreground_thread, OURS), c.ends)
            << std::hex << "key state 0x" << c.key_state << ", foreground thread " << std::dec
            << c.foreground_thread;
    }
}

// A repair that memory runs short for, after a repair of a clean text: the
// right pane must not keep that earlier repair, nor show a partial one.
TEST(ShortMemoryRepair, EmptiesTheRightPaneAndLeavesTheTitlePlain)
{
    const std::u16string clean = u"\u0434\u043E\u043C";
    ASSERT_TRUE(put_on_clipboard(clean));
    struct Case {
        const char* name;
        uint32_t first;
        uint32_t count;
    };
    // A short text never grows the area, so a repair's allocations are the
    // two assignments of the text and its copy, then one per row: the sixth
    // is the assignment after row 4, which mends the Greek Alpha.
    const Case cases[] = {
        {"every allocation refused", 1, HEAP_FAIL_REST},
        {"the assignment after the Alpha's row refused", 6, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDriver driver;
        ProgramLife life = driver.run({
            [&](HWND source, HWND) {
                heap_fail_range(c.first, c.count);
                ProgramDriver::type(source, u"\u0391");
            },
            [](HWND, HWND) { heap_fail_next(0); },
        });
        ASSERT_TRUE(life.window_opened);
        EXPECT_TRUE(life.last.left == clean + u"\u0391");
        EXPECT_TRUE(life.last.right.empty()) << "the right pane shows an earlier or partial repair";
        EXPECT_TRUE(life.last.title == PLAIN_TITLE);
        EXPECT_EQ(heap_usage().heaps, 0);
    }
}

// gadgets_init makes the gadget list (two blocks), then its context: the
// third allocation. Without the context no gadget list can be used, so the
// library says it is not ready and nothing reads the missing context.
TEST(GadgetStartUp, WithoutItsContextReportsNotReadyAndNoGadgetOperationReadsIt)
{
    start_main_heap();
    string_area_init();
    container_ops_register_map();
    events_init();
    windows_init();
    heap_fail_range(3, 1);
    EXPECT_EQ(gadgets_init(), 0);
    heap_fail_next(0);
    EXPECT_EQ(gadget_context, nullptr);
    EXPECT_NE(window_open(0, 0, 0, 200, 100, u"no gadgets", 0xCA0001).handle, nullptr);
    EXPECT_EQ(gadget_list_use(nullptr), nullptr);
    EXPECT_EQ(gadget_create_text(1, 0, 0, 50, 20, u"", 0).handle, nullptr);
    end_toolkit_runtime();
}

}  // namespace
