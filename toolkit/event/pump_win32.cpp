// The event pump: a queued event first; otherwise exactly one native message,
// translated by the active window's accelerator table (Tab and Shift+Tab) or
// translated and dispatched. Events the message causes come out on later calls.
#include "toolkit/event/event.h"

#include "toolkit/window/window.h"

#include <richedit.h>

#include <cwchar>

namespace {

constexpr UINT PEEK_FLAGS = PM_REMOVE | PM_NOYIELD;
// QS_ALLINPUT | QS_ALLPOSTMESSAGE as every Windows version knows them. The
// headers' QS_ALLINPUT now adds touch and pointer bits, which systems before
// Windows 8 reject, failing the wait at once.
constexpr DWORD WAKE_MASK = QS_KEY | QS_MOUSE | QS_RAWINPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                            QS_SENDMESSAGE | QS_HOTKEY | QS_ALLPOSTMESSAGE;
static_assert(WAKE_MASK == 0x5FF, "the wake mask of a bounded wait");
constexpr int32_t NO_LIMIT = -1;

void store_message_fields(WPARAM wparam, LPARAM lparam)
{
    auto* state = static_cast<WindowThreadState*>(thread_data_get(window_state));
    if (!state)
        return;
    state->last_wparam = wparam;
    state->last_lparam = lparam;
    state->last_wparam_copy = wparam;
    state->last_lparam_copy = lparam;
}

// One message for any window of the thread; false when none came in time.
bool take_message(MSG* message, int32_t timeout_ms)
{
    if (timeout_ms == NO_LIMIT) {
        GetMessageW(message, nullptr, 0, 0);
        return true;
    }
    if (PeekMessageW(message, nullptr, 0, 0, PEEK_FLAGS))
        return true;
    if (timeout_ms == 0)
        return false;
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout_ms), WAKE_MASK) ==
        WAIT_TIMEOUT)
        return false;
    return PeekMessageW(message, nullptr, 0, 0, PEEK_FLAGS) != 0;
}

// The accelerator is translated for the active window, whichever window the
// message was addressed to, so its WM_COMMAND reaches the active window.
void handle_message(MSG* message)
{
    HWND active = GetActiveWindow();
    HACCEL table = accelerator_for_window(active);
    if (table && TranslateAcceleratorW(active, table, message)) {
        if (active)
            keyboard_cues(active, 1);
        return;
    }
    TranslateMessage(message);
    DispatchMessageW(message);
}

// GetKeyState is negative while the key is down.
bool key_down(int virtual_key)
{
    return GetKeyState(virtual_key) < 0;
}

bool modifier_down()
{
    return key_down(VK_CONTROL) || key_down(VK_SHIFT) || key_down(VK_MENU);
}

// A plain Tab reaches an editable rich-edit control as a character.
bool is_editable_rich_edit(HWND control)
{
    wchar_t class_name[5] = {};
    GetClassNameW(control, class_name, 5);
    if (std::wcsncmp(class_name, L"Rich", 4) != 0)
        return false;
    const LRESULT options = SendMessageW(control, EM_GETOPTIONS, 0, 0);
    return (options & ECO_READONLY) == 0;
}

// The table of a toolkit window of this process, found through its
// "Zeph_WindowID" (number + 1); null for any other window.
HACCEL table_of_own_window(HWND active)
{
    const auto tag = reinterpret_cast<intptr_t>(GetPropW(active, WINDOW_ID_PROPERTY));
    if (tag == 0)
        return nullptr;
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(active, &process);
    if (thread == 0 || process != GetCurrentProcessId() || !window_list)
        return nullptr;
    auto* record = static_cast<WindowRecord*>(object_get(window_list, tag - 1));
    return record ? record->accelerator_table : nullptr;
}

}  // namespace

HACCEL accelerator_for_window(HWND active)
{
    HWND focus = GetFocus();
    if (focus && key_down(VK_TAB) && !modifier_down() && is_editable_rich_edit(focus))
        return nullptr;
    if (active && modifier_down())
        keyboard_cues(active, 1);
    // A control that records key combinations receives every key untranslated.
    if (focus && GetPropW(focus, L"Zeph_Hotkey"))
        return nullptr;
    return table_of_own_window(active);
}

int32_t event_wait_timeout(int32_t timeout_ms)
{
    const int32_t kind = event_next();
    if (kind != 0) {
        store_message_fields(0, 0);
        return kind;
    }
    MSG message = {};
    if (!take_message(&message, timeout_ms))
        return 0;
    handle_message(&message);
    store_message_fields(message.wParam, message.lParam);
    return static_cast<int32_t>(message.message);
}

int32_t event_wait()
{
    return event_wait_timeout(NO_LIMIT);
}
