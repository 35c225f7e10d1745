// Window creation and teardown: one class per window, client-area sizing,
// centring, the Tab accelerators and the "Zeph_WindowID" tag.
#include "toolkit/window/window.h"

#include "toolkit/event/event.h"
#include "toolkit/gadget/gadget.h"

#include <ole2.h>

ObjectList* window_list = nullptr;
WindowThreadState* window_state = nullptr;

static_assert(sizeof(WindowRecord) == by_width(48, 80), "WindowRecord keeps its layout");
static_assert(sizeof(WindowThreadState) == by_width(20, 40), "WindowThreadState keeps its layout");

static HICON default_icon = nullptr;
static HCURSOR arrow_cursor = nullptr;

namespace {

constexpr uint32_t CENTER_BITS = WINDOW_CENTER_SCREEN | WINDOW_CENTER_PARENT;
// Bits that only the toolkit reads; CreateWindowExW never sees them.
constexpr uint32_t TOOLKIT_STYLE_BITS = WINDOW_CENTER_SCREEN | WINDOW_CENTER_PARENT | WINDOW_TOOL |
                                        WINDOW_NO_ACTIVATE;
// WS_MINIMIZE, WS_MAXIMIZE, WS_MINIMIZEBOX and WS_MAXIMIZEBOX cleared.
constexpr uint32_t TOOL_WINDOW_MASK = 0xDEFCFFFF;


struct WindowStyles {
    DWORD style;
    DWORD ex_style;
    bool invisible;
    bool no_activate;
    bool no_gadget_list;
};

HINSTANCE module_instance() { return static_cast<HINSTANCE>(instance_handle); }

// "WindowClass_" and the number: a dynamic window's class is named after its address.
void format_class_name(intptr_t number, wchar_t (&name)[NUMBERED_NAME_SIZE]) {
    numbered_name(name, "WindowClass_", number);
}

void register_window_class(const wchar_t* class_name) {
    WNDCLASSW window_class{};
    window_class.style = CS_DBLCLKS;
    window_class.lpfnWndProc = window_class_proc;
    window_class.hInstance = module_instance();
    window_class.hIcon = default_icon;
    window_class.hCursor = arrow_cursor;
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = class_name;
    RegisterClassW(&window_class);
}

WindowStyles decode_flags(uint32_t flags) {
    WindowStyles decoded{};
    decoded.no_gadget_list = (flags & WINDOW_NO_GADGET_LIST) != 0;
    flags &= ~WINDOW_NO_GADGET_LIST;
    if ((flags & ~(CENTER_BITS | WINDOW_INVISIBLE)) == 0) flags |= WS_CAPTION;
    decoded.invisible = (flags & WINDOW_INVISIBLE) != 0;
    flags &= ~WINDOW_INVISIBLE;
    decoded.no_activate = (flags & WINDOW_NO_ACTIVATE) != 0;
    if (flags & WINDOW_TOOL) {
        flags = (flags & TOOL_WINDOW_MASK) | WS_CAPTION;
        decoded.ex_style = WS_EX_TOOLWINDOW;
    }
    decoded.style = flags;
    return decoded;
}

// Width and height name the client area; the outer size follows from the styles.
SIZE outer_size(const WindowStyles& styles, int32_t width, int32_t height) {
    RECT rect{0, 0, width, height};
    AdjustWindowRectEx(&rect, styles.style & ~0x7u, FALSE, styles.ex_style);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

int show_command(const WindowStyles& styles) {
    if (styles.style & WS_MAXIMIZE) return styles.no_activate ? SW_SHOWNA : SW_SHOWMAXIMIZED;
    if (styles.style & WS_MINIMIZE) return styles.no_activate ? SW_SHOWMINNOACTIVE : SW_SHOWMINIMIZED;
    return styles.no_activate ? SW_SHOWNOACTIVATE : SW_SHOWNORMAL;
}

// Tab and Shift+Tab become the two navigation commands.
void build_accelerators(WindowRecord* record) {
    record->accelerator_count = 2;
    auto* entries = static_cast<ACCEL*>(heap_alloc(main_heap, 2 * sizeof(ACCEL), 1));
    if (!entries) return;
    entries[0] = ACCEL{FVIRTKEY | FNOINVERT, VK_TAB, static_cast<WORD>(NAV_NEXT_COMMAND)};
    entries[1] = ACCEL{FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, static_cast<WORD>(NAV_PREV_COMMAND)};
    record->accelerator_entries = entries;
    record->accelerator_table = CreateAcceleratorTableW(entries, 2);
}

void fill_record(WindowRecord* record, const WindowStyles& styles) {
    record->minimized_or_maximized = (styles.style & (WS_MINIMIZE | WS_MAXIMIZE)) ? 1 : 0;
    build_accelerators(record);
    record->background_color = -1;
    record->mdi_client = nullptr;
}

// Activation goes back to the owner before the owned window disappears.
void activate_owner(HWND window, HWND mdi_client) {
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner && !mdi_client) SetActiveWindow(owner);
}

void remove_window_properties(HWND window) {
    RemovePropW(window, WINDOW_ID_PROPERTY);
    if (RemovePropW(window, DROP_ACCEPT_PROPERTY)) RevokeDragDrop(window);
}

// An MDI child belongs to its client, which destroys it; its class stays.
void destroy_native_window(intptr_t number, HWND window, HWND mdi_client) {
    if (mdi_client) {
        SendMessageW(mdi_client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(window), 0);
        return;
    }
    DestroyWindow(window);
    wchar_t class_name[NUMBERED_NAME_SIZE];
    format_class_name(number, class_name);
    UnregisterClassW(class_name, module_instance());
}

// The record of window `number` while it still holds `window`; null once the
// window was freed, or its number reopened, by procedures or bindings that ran.
WindowRecord* record_holding(intptr_t number, HWND window) {
    auto* record = static_cast<WindowRecord*>(object_get(window_list, number));
    return record && record->handle == window ? record : nullptr;
}

void release_window_resources(const WindowRecord& record) {
    if (record.accelerator_entries) {
        heap_free(main_heap, record.accelerator_entries);
        DestroyAcceleratorTable(record.accelerator_table);
    }
    if (record.background_brush) DeleteObject(record.background_brush);
}

// Where a window stays when it is to be centred on nothing: its created
// position, pulled back onto the screen.
POINT keep_on_screen(const RECT& rect) {
    int32_t w = rect.right - rect.left;
    int32_t h = rect.bottom - rect.top;
    int32_t x = rect.left;
    int32_t y = rect.top;
    int32_t right_limit = GetSystemMetrics(SM_CXSCREEN) - w;
    int32_t bottom_limit = GetSystemMetrics(SM_CYSCREEN) - h;
    if (x > right_limit) x = right_limit;
    if (y > bottom_limit) y = bottom_limit;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    return POINT{x, y};
}

POINT centre_on_screen(const RECT& rect) {
    int32_t w = rect.right - rect.left;
    int32_t h = rect.bottom - rect.top;
    int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
    int32_t screen_height = GetSystemMetrics(SM_CYSCREEN);
    if (w > screen_width) w = screen_width;
    if (h > screen_height) h = screen_height;
    return POINT{(screen_width - w) / 2, (screen_height - h) / 2};
}

POINT centre_on_window(const RECT& rect, HWND reference) {
    RECT outer;
    GetWindowRect(reference, &outer);
    int32_t x = outer.left + ((outer.right - outer.left) - (rect.right - rect.left)) / 2;
    int32_t y = outer.top + ((outer.bottom - outer.top) - (rect.bottom - rect.top)) / 2;
    return POINT{x < 0 ? 0 : x, y < 0 ? 0 : y};
}

}  // namespace

void numbered_name(wchar_t (&name)[NUMBERED_NAME_SIZE], const char* prefix, intptr_t number) {
    char narrow[NUMBERED_NAME_SIZE];
    int32_t length = 0;
    while (prefix[length] && length < NUMBERED_NAME_SIZE - NUMBER_TEXT_SIZE) {
        narrow[length] = prefix[length];
        ++length;
    }
    length += number_text(narrow + length, number);
    for (int32_t i = 0; i <= length; ++i) name[i] = static_cast<wchar_t>(narrow[i]);
}

int32_t windows_init() {
    window_list = object_list_new(sizeof(WindowRecord), 16, window_free);
    window_state = static_cast<WindowThreadState*>(
        thread_data_new(sizeof(WindowThreadState), nullptr, nullptr));
    default_icon = LoadIconW(module_instance(), MAKEINTRESOURCEW(1));
    arrow_cursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    return window_list && window_state;
}

void windows_end() {
    object_list_free_all(window_list);
}

CreatedWindow window_create(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                            const unit16* title, uint32_t flags, HWND parent) {
    auto* record = static_cast<WindowRecord*>(object_alloc(window_list, number));
    if (!record) return CreatedWindow{};
    if (number == ANY_NUMBER) number = reinterpret_cast<intptr_t>(record);

    wchar_t class_name[NUMBERED_NAME_SIZE];
    format_class_name(number, class_name);
    const wchar_t* caption = title ? reinterpret_cast<const wchar_t*>(title) : L"";
    register_window_class(class_name);

    WindowStyles styles = decode_flags(flags);
    SIZE outer = outer_size(styles, width, height);
    if (x == POSITION_DEFAULT || (y == POSITION_DEFAULT && !(flags & CENTER_BITS))) {
        x = CW_USEDEFAULT;
        y = CW_USEDEFAULT;
    }
    HWND handle = CreateWindowExW(styles.ex_style, class_name, caption,
                                  styles.style & ~TOOLKIT_STYLE_BITS, x, y, outer.cx, outer.cy,
                                  parent, nullptr, module_instance(), nullptr);
    if (!handle) {
        UnregisterClassW(class_name, module_instance());
        object_release(window_list, number);
        return CreatedWindow{};
    }
    record->handle = handle;

    if (flags & CENTER_BITS) window_center(handle, flags, parent);
    if (!styles.invisible) ShowWindow(handle, show_command(styles));
    // Centring and showing run window procedures and bindings, which may have
    // freed the window: then there is no window to report.
    record = record_holding(number, handle);
    if (!record) return CreatedWindow{};
    fill_record(record, styles);
    if (!styles.no_gadget_list) gadget_list_use(handle);
    // Set last: until now the window procedure treats the window as no toolkit window.
    SetPropW(handle, WINDOW_ID_PROPERTY, reinterpret_cast<HANDLE>(number + 1));

    return CreatedWindow{number, handle};
}

CreatedWindow window_open(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const unit16* title, uint32_t flags) {
    return window_create(number, x, y, width, height, title, flags, nullptr);
}

void window_set_title(intptr_t number, const unit16* title) {
    auto* record = static_cast<WindowRecord*>(object_get(window_list, number));
    if (!record || !title) return;
    SetWindowTextW(record->handle, reinterpret_cast<const wchar_t*>(title));
}

int32_t window_free(intptr_t number) {
    if (number == -1) {
        object_list_free_all(window_list);
        return 1;
    }
    auto* record = static_cast<WindowRecord*>(object_get(window_list, number));
    if (!record) return 0;
    const HWND handle = record->handle;
    const HWND mdi_client = record->mdi_client;

    // Activation and destruction run window procedures and bindings, which may
    // free this window themselves or reopen its number: then the rest is done.
    activate_owner(handle, mdi_client);
    if (!record_holding(number, handle)) return 1;
    remove_window_properties(handle);
    destroy_native_window(number, handle, mdi_client);
    record = record_holding(number, handle);
    if (!record) return 1;
    release_window_resources(*record);
    event_purge_window(number);
    bindings_remove_window(number);
    object_release(window_list, number);
    return 1;
}

// The class stays registered: it cannot go while its window still exists. A
// window opened later under this number finds it, and its window_free
// unregisters it.
void window_forget(intptr_t number, HWND window) {
    WindowRecord* record = record_holding(number, window);
    if (!record) return;
    remove_window_properties(window);
    release_window_resources(*record);
    event_purge_window(number);
    bindings_remove_window(number);
    object_release(window_list, number);
}

void window_center(HWND window, uint32_t flags, HWND parent) {
    RECT rect;
    GetWindowRect(window, &rect);
    POINT position;
    if (flags & WINDOW_CENTER_SCREEN) {
        position = centre_on_screen(rect);
    } else if (flags & WINDOW_CENTER_PARENT) {
        HWND reference = parent ? parent : GetActiveWindow();
        position = reference ? centre_on_window(rect, reference) : keep_on_screen(rect);
    } else {
        return;
    }
    // The place is worked out on the screen; SetWindowPos places a child in
    // its parent's client coordinates.
    if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD)
        MapWindowPoints(HWND_DESKTOP, GetParent(window), &position, 1);
    SetWindowPos(window, nullptr, position.x, position.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
