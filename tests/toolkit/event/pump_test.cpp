// The pump with real windows, Edit controls and keyboard input: what it
// returns call by call, and where Tab goes.
#include "tests/toolkit/toolkit_testing.h"

namespace {

constexpr int32_t UNDER_TEST = 0;

// One return of the pump, with the current event's details when it was one.
struct PumpResult {
    int32_t value;
    int32_t gadget;
    int32_t type;
    bool operator==(const PumpResult& o) const
    {
        return value == o.value && gadget == o.gadget && type == o.type;
    }
};

std::ostream& operator<<(std::ostream& out, const PumpResult& r)
{
    return out << "{" << r.value << ", gadget " << r.gadget << ", type " << r.type << "}";
}

// Calls the pump until the key release of `key` has come through and
// nothing is left; keeps only the values that name keys, characters and
// events. Bounded by calls and by time.
std::vector<PumpResult> pump_through_key_release(WPARAM key)
{
    std::vector<PumpResult> results;
    bool released = false;
    const DWORD start = GetTickCount();
    for (int calls = 0; calls < 10000 && GetTickCount() - start < 5000; ++calls) {
        const int32_t value = event_wait_timeout(released ? 0 : 100);
        if (value == 0 && released)
            break;
        const bool key_message = (value >= WM_KEYDOWN && value <= WM_SYSKEYUP);
        if (key_message || value >= EV_GADGET)
            results.push_back({value, value >= EV_GADGET ? event_gadget() : 0, event_type()});
        released |= value == WM_KEYUP && window_state->last_wparam == key;
    }
    return results;
}

// Every queued event and native message taken, bounded.
void pump_until_quiet()
{
    for (int calls = 0; calls < 10000 && event_wait_timeout(0) != 0; ++calls) {
    }
}

}  // namespace

// The program's start-up with window 0 open and in front; shut-down through
// the end routines.
class Pump : public ToolkitFixture {
protected:
    HWND window = nullptr;

    void SetUp() override
    {
        window = open_front_window(UNDER_TEST, 500, 200, u"Pump");
        ASSERT_NE(window, nullptr);
        pump_until_quiet();
    }

    HWND create_text(int32_t number, int32_t x)
    {
        return gadget_create_text(number, x, 10, 200, 60, u"", 0).handle;
    }

    static int32_t text_length(HWND control)
    {
        return GetWindowTextLengthW(control);
    }
};

TEST_F(Pump, QueuedEventComesFirstAndLeavesNativeMessagesWaiting)
{
    constexpr UINT waiting = WM_APP + 7;
    ASSERT_TRUE(PostMessageW(window, waiting, 1, 2));
    event_post_simple(EV_MENU, 12, UNDER_TEST, 0);
    window_state->last_wparam = window_state->last_wparam_copy = 5;
    window_state->last_lparam = window_state->last_lparam_copy = 6;

    EXPECT_EQ(event_wait_timeout(0), EV_MENU);
    EXPECT_EQ(event_gadget(), 12);
    EXPECT_EQ(window_state->last_wparam, 0u);
    EXPECT_EQ(window_state->last_lparam, 0);
    EXPECT_EQ(window_state->last_wparam_copy, 0u);
    EXPECT_EQ(window_state->last_lparam_copy, 0);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, window, waiting, waiting, PM_NOREMOVE)) << "message taken";
}

TEST_F(Pump, NativeMessageIsReturnedWithItsParametersAndNoCurrentEvent)
{
    constexpr UINT native = WM_APP + 9;
    event_post_simple(EV_GADGET, 3, UNDER_TEST, GADGET_EVENT_CHANGE);
    ASSERT_EQ(event_wait_timeout(0), EV_GADGET);
    ASSERT_EQ(event_type(), GADGET_EVENT_CHANGE);
    ASSERT_TRUE(PostMessageW(window, native, 0x1234, 0x5678));

    EXPECT_EQ(event_wait(), static_cast<int32_t>(native));
    EXPECT_EQ(event_type(), -1);
    EXPECT_EQ(event_state->current_kind, 0);
    EXPECT_EQ(window_state->last_wparam, 0x1234u);
    EXPECT_EQ(window_state->last_lparam, 0x5678);
    EXPECT_EQ(window_state->last_wparam_copy, 0x1234u);
    EXPECT_EQ(window_state->last_lparam_copy, 0x5678);
}

TEST_F(Pump, NothingPendingReturnsZeroAndKeepsTheMessageFields)
{
    window_state->last_wparam = 77;
    EXPECT_EQ(event_wait_timeout(0), 0);
    EXPECT_EQ(event_wait_timeout(50), 0);
    EXPECT_EQ(window_state->last_wparam, 77u);
}

TEST_F(Pump, TypedCharacterGivesKeyDownThenCharThenTheChangeEvent)
{
    HWND first = create_text(1, 10);
    create_text(2, 250);
    gadget_focus(1);
    pump_until_quiet();

    press_key('A');
    // The Edit control notifies EN_UPDATE before EN_CHANGE; both come through
    // as gadget events, queued while WM_CHAR was dispatched.
    const std::vector<PumpResult> expected{{WM_KEYDOWN, 0, -1},
                                           {WM_CHAR, 0, -1},
                                           {EV_GADGET, 1, EN_UPDATE},
                                           {EV_GADGET, 1, GADGET_EVENT_CHANGE},
                                           {WM_KEYUP, 0, -1}};
    EXPECT_EQ(pump_through_key_release('A'), expected);
    EXPECT_EQ(text_length(first), 1);
}

TEST_F(Pump, TabMovesTheFocusAndItsCharacterNeverReachesTheControl)
{
    HWND first = create_text(1, 10);
    HWND second = create_text(2, 250);
    gadget_focus(1);
    pump_until_quiet();
    ASSERT_EQ(GetFocus(), first);

    press_key(VK_TAB);
    std::vector<PumpResult> results = pump_through_key_release(VK_TAB);
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.front(), (PumpResult{WM_KEYDOWN, 0, -1}));
    for (const PumpResult& r : results)
        EXPECT_NE(r.value, static_cast<int32_t>(WM_CHAR)) << "Tab was translated into a character";
    EXPECT_EQ(GetFocus(), second);

    press_key(VK_TAB, VK_SHIFT);
    pump_through_key_release(VK_TAB);
    EXPECT_EQ(GetFocus(), first);
    EXPECT_EQ(text_length(first), 0);
    EXPECT_EQ(text_length(second), 0);
}

TEST_F(Pump, FocusedHotkeyControlReceivesTab)
{
    HWND first = create_text(1, 10);
    create_text(2, 250);
    SetPropW(first, L"Zeph_Hotkey", reinterpret_cast<HANDLE>(1));
    gadget_focus(1);
    pump_until_quiet();

    EXPECT_EQ(accelerator_for_window(window), nullptr);
    press_key(VK_TAB);
    pump_through_key_release(VK_TAB);
    EXPECT_EQ(GetFocus(), first) << "Tab was taken by the accelerator";
    RemovePropW(first, L"Zeph_Hotkey");
}

TEST_F(Pump, AcceleratorBelongsOnlyToToolkitWindowsOfThisProcess)
{
    const auto* record = static_cast<WindowRecord*>(object_get(window_list, UNDER_TEST));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(accelerator_for_window(window), record->accelerator_table);
    EXPECT_NE(record->accelerator_table, nullptr);
    EXPECT_EQ(accelerator_for_window(nullptr), nullptr);
    EXPECT_EQ(accelerator_for_window(post_window), nullptr) << "a window without Zeph_WindowID";
}

TEST_F(Pump, TabIsACharacterInAnEditableRichEditAndMovesTheFocusFromAReadOnlyOne)
{
    ASSERT_NE(LoadLibraryW(L"riched20.dll"), nullptr);
    HWND rich = CreateWindowExW(0, L"RichEdit20W", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 80,
                                200, 60, window, nullptr, nullptr, nullptr);
    ASSERT_NE(rich, nullptr);
    HWND text = create_text(1, 250);
    SetFocus(rich);
    pump_until_quiet();

    press_key(VK_TAB);
    pump_through_key_release(VK_TAB);
    EXPECT_EQ(GetFocus(), rich) << "editable: Tab stays in the control";
    EXPECT_EQ(text_length(rich), 1) << "editable: Tab is typed";

    SendMessageW(rich, EM_SETREADONLY, TRUE, 0);
    press_key(VK_TAB);
    pump_through_key_release(VK_TAB);
    EXPECT_EQ(GetFocus(), text) << "read-only: Tab moves on";
    EXPECT_EQ(text_length(rich), 1);
}
