// The window procedure of every toolkit window: native messages become
// events, control notifications go back to their gadgets, and the Tab
// accelerators move the focus.
#include "toolkit/window/window.h"

#include "toolkit/event/event.h"
#include "toolkit/gadget/gadget.h"

#include <cwchar>

namespace {

const wchar_t* const FOCUS_PROPERTY = L"Zeph_Focus";
const wchar_t* const MDI_GADGET_PROPERTY = L"Zeph_MDI_Gadget";

// The identifier by which a control's WM_COMMAND is read as a menu command.
constexpr intptr_t MENU_CONTROL_ID = -10000;

// One message on its way through window_proc, with the toolkit window found for it.
struct Message {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    HWND toolkit_window;   // the first window upwards carrying "Zeph_WindowID"; null if none
    intptr_t number;       // its window number; -1 when none was found
    WindowRecord* record;  // null when none
};

using MessageHandler = LRESULT (*)(const Message& m);

void post(const Message& m, int32_t kind, intptr_t gadget, int32_t type) {
    event_post_simple(kind, gadget, m.number, type);
}

bool is_own_window(const Message& m) { return m.record && m.record->handle == m.window; }

Message find_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Message m{window, message, wparam, lparam, nullptr, -1, nullptr};
    for (HWND w = window; w; w = GetParent(w)) {
        intptr_t tag = reinterpret_cast<intptr_t>(GetPropW(w, WINDOW_ID_PROPERTY));
        if (!tag) continue;
        m.toolkit_window = w;
        m.number = tag - 1;
        m.record = static_cast<WindowRecord*>(object_get(window_list, m.number));
        break;
    }
    return m;
}

WindowMessageCallback message_callback_for(const WindowRecord* record) {
    if (record && record->message_callback) return record->message_callback;
    auto* state = static_cast<WindowThreadState*>(thread_data_get(window_state));
    return state ? state->default_message_callback : nullptr;
}

LRESULT on_move(const Message& m) {
    if (is_own_window(m)) post(m, EV_MOVE_WINDOW, m.number, 0);
    return 0;
}

LRESULT on_size(const Message& m) {
    if (!m.toolkit_window || m.toolkit_window != m.window) return 1;
    int32_t* flag = m.record ? &m.record->minimized_or_maximized : nullptr;
    switch (m.wparam) {
    case SIZE_RESTORED:
        if (flag && *flag) {
            *flag = 0;
            post(m, EV_RESTORE, 0, 0);
        }
        post(m, EV_SIZE_WINDOW, 0, 0);
        break;
    case SIZE_MINIMIZED:
        if (flag) *flag = 1;
        post(m, EV_MINIMIZE, 0, 0);
        break;
    case SIZE_MAXIMIZED:
        if (flag) *flag = 1;
        post(m, EV_MAXIMIZE, 0, 0);
        post(m, EV_SIZE_WINDOW, 0, 0);
        break;
    default:
        post(m, EV_SIZE_WINDOW, 0, 0);
        break;
    }
    return 0;
}

// Activation gives the focus back to the control that had it at deactivation.
LRESULT on_activate(const Message& m) {
    if (LOWORD(m.wparam) != WA_INACTIVE) {
        auto focus = static_cast<HWND>(GetPropW(m.window, FOCUS_PROPERTY));
        if (focus) SetFocus(focus);
        post(m, EV_ACTIVATE, 0, 0);
    } else {
        SetPropW(m.window, FOCUS_PROPERTY, GetFocus());
        keyboard_cues(m.window, 0);
        post(m, EV_DEACTIVATE, 0, 0);
    }
    return 1;
}

// Closing only asks: the program decides whether the window goes.
LRESULT on_close(const Message& m) {
    if (is_own_window(m)) post(m, EV_CLOSE_WINDOW, m.number, 0);
    return 0;
}

LRESULT on_erase_background(const Message& m) {
    LRESULT result = RESULT_DEFAULT;
    auto device = reinterpret_cast<HDC>(m.wparam);
    if (m.record && m.record->background_brush) {
        RECT client;
        GetClientRect(m.window, &client);
        FillRect(device, &client, m.record->background_brush);
        result = 1;
    } else if (is_own_window(m) && m.record->erase_handler) {
        result = m.record->erase_handler(device, m.window);
    }
    post(m, EV_REPAINT, 0, 0);
    return result;
}

BOOL CALLBACK send_color_change(HWND child, LPARAM) {
    SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

LRESULT on_sys_color_change(const Message& m) {
    if (m.record && !m.record->mdi_client) EnumChildWindows(m.window, send_color_change, 0);
    return RESULT_DEFAULT;
}

LRESULT on_get_min_max_info(const Message& m) {
    if (!m.record) return RESULT_DEFAULT;
    auto* info = reinterpret_cast<MINMAXINFO*>(m.lparam);
    const WindowRecord& r = *m.record;
    if (r.min_width) {
        info->ptMinTrackSize.x = r.min_width;
    } else if (GetWindowLongW(m.window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) {
        info->ptMinTrackSize.x = 1;
    }
    if (r.min_height) info->ptMinTrackSize.y = r.min_height;
    if (r.max_width) info->ptMaxTrackSize.x = r.max_width;
    if (r.max_height) info->ptMaxTrackSize.y = r.max_height;
    return 0;
}

// WM_NOTIFY's pointer reaches us unchanged from any thread or process, and the
// NMHDR behind it is read. Our controls notify from our own thread, so one
// that another thread sent (InSendMessage) gets the default handling unread.
LRESULT on_notify(const Message& m) {
    if (InSendMessage()) return RESULT_DEFAULT;
    auto* header = reinterpret_cast<const NMHDR*>(m.lparam);
    if (!header) return RESULT_DEFAULT;
    return gadget_forward(header->hwndFrom, m.window, m.message, m.wparam, m.lparam);
}

// window_free takes the window's tag off before destroying it, so a window
// still tagged here goes natively (with its parent, say): the toolkit lets go
// of it now, before its handle can name another window.
LRESULT on_nc_destroy(const Message& m) {
    RemovePropW(m.window, FOCUS_PROPERTY);
    if (is_own_window(m)) window_forget(m.number, m.window);
    return 1;
}

// A command from a control, a menu, or an accelerator (Tab navigation included).
LRESULT on_command(const Message& m) {
    auto control = reinterpret_cast<HWND>(m.lparam);
    if (gadget_forward(control, m.window, WM_COMMAND, m.wparam, m.lparam) != RESULT_DEFAULT) return 0;
    int32_t command = LOWORD(m.wparam);
    int32_t code = HIWORD(m.wparam);
    if (control) {
        // A gadget's identifier is its whole number, written as a pointer-sized value.
        intptr_t id = GetWindowLongPtrW(control, GWLP_ID);
        if (id == MENU_CONTROL_ID) {
            post(m, EV_MENU, command, 0);
        } else {
            post(m, EV_GADGET, id, code);
        }
    } else if (code == 0) {
        post(m, EV_MENU, static_cast<intptr_t>(m.wparam), 0);
    } else if (command == NAV_NEXT_COMMAND) {
        focus_navigate(0);
    } else if (command == NAV_PREV_COMMAND) {
        focus_navigate(1);
    } else {
        post(m, EV_MENU, command, 0);
    }
    return 0;
}

LRESULT on_timer(const Message& m) {
    if (!m.record) return RESULT_DEFAULT;
    post(m, EV_TIMER, static_cast<intptr_t>(m.wparam), 0);
    return 0;
}

// Scroll bars, colour requests and reflected messages name their control in lParam.
LRESULT forward_to_sender(const Message& m) {
    return gadget_forward(reinterpret_cast<HWND>(m.lparam), m.window, m.message, m.wparam, m.lparam);
}

LRESULT on_left_button_up(const Message& m) {
    post(m, EV_LEFT_CLICK, 0, 0);
    return 0;
}

LRESULT on_left_double_click(const Message& m) {
    post(m, EV_LEFT_DOUBLE_CLICK, 0, 0);
    return 0;
}

LRESULT on_right_button_up(const Message& m) {
    post(m, EV_RIGHT_CLICK, 0, 0);
    return 0;
}

// -1: a mouse message on the icon that the program is not told about.
int32_t notify_icon_type(LPARAM mouse_message) {
    switch (mouse_message) {
    case WM_LBUTTONDOWN: return 0;
    case WM_RBUTTONDOWN: return 1;
    case WM_LBUTTONDBLCLK: return 2;
    case WM_RBUTTONDBLCLK: return 3;
    default: return -1;
    }
}

// The WM_NULL wakes a loop waiting for input once the icon's menu or tip is gone.
LRESULT on_notify_icon(const Message& m) {
    int32_t type = notify_icon_type(m.lparam);
    if (type >= 0) post(m, EV_NOTIFY_ICON, static_cast<intptr_t>(m.wparam), type);
    PostMessageW(m.window, WM_NULL, 0, 0);
    return 0;
}

struct MessageEntry {
    UINT message;
    MessageHandler handler;
};

constexpr MessageEntry message_table[] = {
    {WM_MOVE, on_move},
    {WM_SIZE, on_size},
    {WM_ACTIVATE, on_activate},
    {WM_CLOSE, on_close},
    {WM_ERASEBKGND, on_erase_background},
    {WM_SYSCOLORCHANGE, on_sys_color_change},
    {WM_GETMINMAXINFO, on_get_min_max_info},
    {WM_NOTIFY, on_notify},
    {WM_NCDESTROY, on_nc_destroy},
    {WM_COMMAND, on_command},
    {WM_TIMER, on_timer},
    {WM_HSCROLL, forward_to_sender},
    {WM_VSCROLL, forward_to_sender},
    {WM_CTLCOLOREDIT, forward_to_sender},
    {WM_CTLCOLORLISTBOX, forward_to_sender},
    {WM_CTLCOLORBTN, forward_to_sender},
    {WM_CTLCOLORSTATIC, forward_to_sender},
    {MSG_GADGET_REFLECT, forward_to_sender},
    {WM_LBUTTONUP, on_left_button_up},
    {WM_LBUTTONDBLCLK, on_left_double_click},
    {WM_RBUTTONUP, on_right_button_up},
    {MSG_NOTIFY_ICON, on_notify_icon},
};

MessageHandler handler_for(UINT message) {
    for (const MessageEntry& entry : message_table) {
        if (entry.message == message) return entry.handler;
    }
    return nullptr;
}

// ---- Focus navigation ----------------------------------------------------------

struct TabWalk {
    HWND current;   // the tab stop the focus is on; null when none
    HWND previous;  // the tab stop visited last
    bool found;     // current was passed: the next tab stop gets the focus
    bool done;
};

bool is_tab_stop(HWND window) {
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongW(window, GWL_STYLE) & WS_TABSTOP);
}

BOOL CALLBACK visit_forward(HWND window, LPARAM parameter) {
    auto* walk = reinterpret_cast<TabWalk*>(parameter);
    if (!is_tab_stop(window)) return TRUE;
    if (walk->found || !walk->current) {
        SetFocus(window);
        walk->found = false;
        return FALSE;
    }
    if (window == walk->current) walk->found = true;
    return TRUE;
}

BOOL CALLBACK visit_backward(HWND window, LPARAM parameter) {
    auto* walk = reinterpret_cast<TabWalk*>(parameter);
    if (!is_tab_stop(window)) return TRUE;
    if (window == walk->current && walk->previous) {
        SetFocus(walk->previous);
        walk->done = true;
        return FALSE;
    }
    walk->previous = window;
    return TRUE;
}

bool class_is(HWND window, const wchar_t* name) {
    wchar_t class_name[50];
    if (!GetClassNameW(window, class_name, 50)) return false;
    return std::wcscmp(class_name, name) == 0;
}

// Composite controls take the focus as a whole, and an MDI child is its own root.
void resolve_composite_focus(HWND focus, HWND* root, HWND* current) {
    *current = focus;
    for (HWND w = focus; w; w = GetParent(w)) {
        if (class_is(w, L"MDI_ChildClass")) {
            *root = w;
            if (w == focus) *current = nullptr;
        } else if (class_is(w, L"ComboBoxEx32")) {
            if (GetWindowLongW(w, GWL_STYLE) & 0x1) *current = w;
        } else if (class_is(w, L"SysIPAddress32")) {
            *current = w;
        }
    }
}

}  // namespace

LRESULT window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Message m = find_window(window, message, wparam, lparam);
    if (WindowMessageCallback callback = message_callback_for(m.record)) {
        LRESULT answer = callback(window, message, wparam, lparam);
        if (answer != RESULT_CALLBACK_PASS) return answer;
        // The callback may have freed the window: look the number up again.
        m = find_window(window, message, wparam, lparam);
    }
    MessageHandler handler = handler_for(message);
    return handler ? handler(m) : RESULT_DEFAULT;
}

LRESULT CALLBACK window_class_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = window_proc(window, message, wparam, lparam);
    auto mdi_client = static_cast<HWND>(GetPropW(window, MDI_GADGET_PROPERTY));
    if (message != WM_SIZE && mdi_client) {
        if (result == RESULT_DEFAULT || message == WM_MENUCHAR || message == WM_SETFOCUS)
            return DefFrameProcW(window, mdi_client, message, wparam, lparam);
        // Menu commands reach the frame procedure too, after the event was posted.
        if (message == WM_COMMAND && lparam == 0)
            return DefFrameProcW(window, mdi_client, WM_COMMAND, wparam, 0);
        return result;
    }
    SetLastError(0);
    if (result == RESULT_DEFAULT) return DefWindowProcW(window, message, wparam, lparam);
    return result;
}

LRESULT gadget_forward(HWND control, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!control || !gadget_list) return RESULT_DEFAULT;
    intptr_t id = GetWindowLongPtrW(control, GWLP_ID);
    if (reinterpret_cast<intptr_t>(GetPropW(control, GADGET_ID_PROPERTY)) != id) return RESULT_DEFAULT;
    auto* gadget = static_cast<Gadget*>(object_get(gadget_list, id));
    // The record must own this very control: a foreign control with identifier 0
    // and no "Zeph_ID" must not reach gadget 0.
    if (!gadget || gadget->handle != control) return RESULT_DEFAULT;
    if (!gadget->gadget_class || !gadget->gadget_class->on_parent_message) return RESULT_DEFAULT;
    return gadget->gadget_class->on_parent_message(gadget, window, message, wparam, lparam);
}

void focus_navigate(int32_t backward) {
    HWND root = GetActiveWindow();
    if (!root) return;
    HWND focus = GetFocus();
    TabWalk walk{nullptr, nullptr, false, false};
    if (focus && IsChild(root, focus)) resolve_composite_focus(focus, &root, &walk.current);
    auto parameter = reinterpret_cast<LPARAM>(&walk);
    if (!backward) {
        EnumChildWindows(root, visit_forward, parameter);
        // The focus was on the last tab stop: wrap round to the first.
        if (walk.found) EnumChildWindows(root, visit_forward, parameter);
        return;
    }
    EnumChildWindows(root, visit_backward, parameter);
    if (!walk.done && walk.previous) SetFocus(walk.previous);
}

void keyboard_cues(HWND window, int32_t show) {
    auto state = static_cast<DWORD>(SendMessageW(window, WM_QUERYUISTATE, 0, 0));
    const DWORD both = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    if (show) {
        if (state & both) SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, both), 0);
    } else if ((state & both) != both) {
        SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, both), 0);
    }
}
