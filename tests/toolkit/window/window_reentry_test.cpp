// Window creation and teardown when the window's own messages call back into
// the toolkit: a message callback that frees every window while a new one is
// being shown, frees a window while it hands activation back to its owner, or
// reopens a window's number while the old one is destroyed.
#include "tests/toolkit/toolkit_testing.h"

namespace {

// The program's start-up and shut-down around each test; the callback goes
// before the windows do.
class WindowReentry : public ToolkitFixture {
protected:
    void TearDown() override { state()->default_message_callback = nullptr; }

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
        reopened_window = window_open(0, 0, 0, 200, 100, u"second", WINDOW_INVISIBLE).handle;
    }
    return RESULT_CALLBACK_PASS;
}

// Frees every window once, from inside the WM_SHOWWINDOW of a window being opened.
bool freed_while_showing;

LRESULT free_all_on_show(HWND, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_SHOWWINDOW && wparam && !freed_while_showing) {
        freed_while_showing = true;
        window_free(-1);
    }
    return RESULT_CALLBACK_PASS;
}

// Frees the owned window once, from inside its own deactivation, then takes a
// block of the size of its freed record, likely the same one, and writes a
// record naming the owner into it: whoever still reads the old record reads that.
intptr_t owned_number;
HWND owned_window;
HWND owner_window;
bool freed_while_deactivating;
void* refill;

LRESULT free_on_deactivate(HWND window, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_ACTIVATE && LOWORD(wparam) == WA_INACTIVE && window == owned_window &&
        !freed_while_deactivating) {
        freed_while_deactivating = true;
        window_free(owned_number);
        refill = heap_alloc(main_heap, sizeof(DynamicNode) + sizeof(WindowRecord), 1);
        if (refill)
            reinterpret_cast<WindowRecord*>(static_cast<DynamicNode*>(refill) + 1)->handle = owner_window;
    }
    return RESULT_CALLBACK_PASS;
}

}  // namespace

TEST_F(WindowReentry, OwnedWindowFreedByItsOwnDeactivationIsFreedOnce)
{
    auto owner = window_open(0, 0, 0, 300, 200, u"owner", 0).handle;
    ASSERT_NE(owner, nullptr);
    const CreatedWindow owned = window_create(ANY_NUMBER, 0, 0, 100, 80, u"owned", 0, owner);
    ASSERT_NE(owned.handle, nullptr);
    owned_number = owned.number;
    owned_window = owned.handle;
    SetActiveWindow(owned_window);
    ASSERT_EQ(GetActiveWindow(), owned_window);
    owner_window = owner;

    freed_while_deactivating = false;
    state()->default_message_callback = free_on_deactivate;
    EXPECT_EQ(window_free(owned_number), 1);
    state()->default_message_callback = nullptr;

    ASSERT_TRUE(freed_while_deactivating) << "the callback did not run";
    EXPECT_FALSE(IsWindow(owned_window));
    EXPECT_EQ(object_get(window_list, owned_number), nullptr);
    EXPECT_EQ(GetActiveWindow(), owner);
    EXPECT_TRUE(IsWindow(owner)) << "the freed record was read after the callback";
    EXPECT_NE(object_get(window_list, 0), nullptr) << "the owner lost its record";
    EXPECT_TRUE(HeapValidate(main_heap, 0, nullptr));
    heap_free(main_heap, refill);
}

TEST_F(WindowReentry, WindowFreedWhileBeingShownIsReportedAsNotCreated)
{
    for (intptr_t number : {intptr_t{0}, ANY_NUMBER}) {
        SCOPED_TRACE(number);
        freed_while_showing = false;
        state()->default_message_callback = free_all_on_show;
        const CreatedWindow created = window_open(number, 0, 0, 200, 100, u"shown", 0);
        state()->default_message_callback = nullptr;

        ASSERT_TRUE(freed_while_showing) << "the callback did not run";
        EXPECT_EQ(created.handle, nullptr) << "a window that no longer exists was reported as created";
        EXPECT_EQ(created.number, 0);
        EXPECT_EQ(object_get(window_list, 0), nullptr);
        EXPECT_EQ(gadget_list_use(nullptr), nullptr) << "a destroyed window became the gadget list";
        EXPECT_TRUE(HeapValidate(main_heap, 0, nullptr));
    }
}

TEST_F(WindowReentry, WindowReopenedDuringItsOwnDestructionKeepsTheNewRecord)
{
    auto first = window_open(0, 0, 0, 200, 100, u"first", WINDOW_INVISIBLE).handle;
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
