// Window teardown when the window's own messages call back into the toolkit:
// a message callback that reopens the window under the same number while the
// old one is being destroyed.
#include <gtest/gtest.h>

#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "toolkit/event/event.h"
#include "toolkit/gadget/gadget.h"
#include "toolkit/window/window.h"

namespace {

// The program's start-up and shut-down around each test.
class WindowReentry : public ::testing::Test {
protected:
    void SetUp() override
    {
        instance_handle = GetModuleHandleW(nullptr);
        main_heap = heap_create();
        string_area_init();
        container_ops_register_map();
        events_init();
        windows_init();
        gadgets_init();
    }
    void TearDown() override
    {
        state()->default_message_callback = nullptr;
        gadgets_end();
        windows_end();
        MSG message;
        for (int i = 0; i < 100000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i)
            DispatchMessageW(&message);
        events_end();
        // The shared pool registry outlives the heap, so these go by hand.
        map_free(bindings);
        pool_destroy(event_state->pool);
        event_state = nullptr;
        string_area_end();
        heap_destroy(main_heap);
    }
    static WindowThreadState* state()
    {
        return static_cast<WindowThreadState*>(thread_data_get(window_state));
    }
};

HWND window_being_destroyed;
HWND reopened_window;

// Reopens window 0 once, from inside the old window 0's WM_DESTROY.
LRESULT reopen_on_destroy(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message == WM_DESTROY && window == window_being_destroyed && !reopened_window) {
        reopened_window = reinterpret_cast<HWND>(
            window_open(0, 0, 0, 200, 100, u"second", WINDOW_INVISIBLE));
    }
    return RESULT_CALLBACK_PASS;
}

}  // namespace

TEST_F(WindowReentry, WindowReopenedDuringItsOwnDestructionKeepsTheNewRecord)
{
    auto first = reinterpret_cast<HWND>(window_open(0, 0, 0, 200, 100, u"first", WINDOW_INVISIBLE));
    ASSERT_NE(first, nullptr);
    window_being_destroyed = first;
    reopened_window = nullptr;
    state()->default_message_callback = reopen_on_destroy;

    EXPECT_EQ(window_free(0), 1);
    state()->default_message_callback = nullptr;

    ASSERT_NE(reopened_window, nullptr) << "the callback did not run";
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindow(reopened_window));
    auto* record = static_cast<WindowRecord*>(object_get(window_list, 0));
    ASSERT_NE(record, nullptr) << "the reopened window lost its record";
    EXPECT_EQ(record->handle, reopened_window);
    EXPECT_NE(record->accelerator_entries, nullptr);
    EXPECT_NE(record->accelerator_table, nullptr);
    EXPECT_EQ(GetPropW(reopened_window, L"Zeph_WindowID"), reinterpret_cast<HANDLE>(1));
    EXPECT_TRUE(HeapValidate(main_heap, 0, nullptr));
}
