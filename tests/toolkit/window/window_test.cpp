// Window creation, placement, numbering and teardown on real windows.
#include "window_fixture.h"

#include <string>

namespace {

constexpr uint32_t MAIN_WINDOW_FLAGS = 0xCA0001;

SIZE client_size(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT outer_rect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return r;
}

using WindowCreation = ToolkitFixture;

int closes_seen;
void count_close() { ++closes_seen; }

TEST_F(WindowCreation, MainWindowShowsExactClientAreaCentredOnScreenAndActive) {
    HWND window = window_open(0, 10, 20, 640, 200, u"Glyphmend 0.9d", MAIN_WINDOW_FLAGS).handle;
    ASSERT_NE(window, nullptr);

    SIZE client = client_size(window);
    EXPECT_EQ(client.cx, 640);
    EXPECT_EQ(client.cy, 200);
    RECT outer = outer_rect(window);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetActiveWindow(), window);

    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | 0x1), 0);
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropW(window, L"Zeph_WindowID")), 1);
    EXPECT_EQ(class_name_of(window), L"WindowClass_0");
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Glyphmend 0.9d");
}

struct FlagCase {
    const char* what;
    uint32_t flags;
    DWORD style_present;
    DWORD style_absent;
    DWORD ex_style_present;
    bool visible, zoomed, iconic;
};

TEST_F(WindowCreation, FlagsBecomeTheNativeStylesAndShowState) {
    const FlagCase cases[] = {
        {"no flags get a caption", 0, WS_CAPTION, 0, 0, true, false, false},
        {"centring alone gets a caption", WINDOW_CENTER_SCREEN, WS_CAPTION, 0, 0, true, false, false},
        {"invisible is created hidden", WINDOW_INVISIBLE | WINDOW_NO_GADGET_LIST, WS_CAPTION, WS_VISIBLE, 0,
         false, false, false},
        {"a popup gets no caption", WS_POPUP, WS_POPUP, WS_CAPTION, 0, true, false, false},
        {"no-activate never reaches the style", WS_CAPTION | WINDOW_NO_ACTIVATE, WS_CAPTION,
         WS_CLIPCHILDREN, 0, true, false, false},
        {"tool window drops maximize", WINDOW_TOOL | WS_MAXIMIZE | WS_MAXIMIZEBOX | WS_SYSMENU,
         WS_CAPTION, WS_MAXIMIZE | WS_MAXIMIZEBOX, WS_EX_TOOLWINDOW, true, false, false},
        {"maximized window", WS_OVERLAPPEDWINDOW | WS_MAXIMIZE, WS_THICKFRAME, 0, 0, true, true, false},
        {"minimized window", WS_OVERLAPPEDWINDOW | WS_MINIMIZE, WS_CAPTION, 0, 0, true, false, true},
    };
    for (const FlagCase& c : cases) {
        SCOPED_TRACE(c.what);
        HWND window = window_open(3, 50, 60, 200, 100, u"flags", c.flags).handle;
        ASSERT_NE(window, nullptr);
        auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
        EXPECT_EQ(style & c.style_present, c.style_present) << std::hex << "style " << style;
        EXPECT_EQ(style & c.style_absent, 0u) << std::hex << "style " << style;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)) & c.ex_style_present,
                  c.ex_style_present);
        EXPECT_EQ(bool(IsWindowVisible(window)), c.visible);
        EXPECT_EQ(bool(IsZoomed(window)), c.zoomed);
        EXPECT_EQ(bool(IsIconic(window)), c.iconic);
        EXPECT_EQ(window_record(3)->minimized_or_maximized, c.zoomed || c.iconic ? 1 : 0);
        if (c.flags & WINDOW_NO_ACTIVATE) {
            EXPECT_NE(GetActiveWindow(), window) << "shown without activation";
        }
        window_free(3);
    }
}

TEST_F(WindowCreation, WindowWiderThanScreenCentredOnScreenStartsAtLeftEdge) {
    int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
    HWND window = window_open(0, 300, 300, screen_width + 200, 100, nullptr,
                                        WS_POPUP | WINDOW_CENTER_SCREEN).handle;
    ASSERT_NE(window, nullptr);
    RECT outer = outer_rect(window);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.right - outer.left, screen_width + 200) << "centring never resizes";
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 100) / 2);
}

TEST_F(WindowCreation, DefaultYIsAnOrdinaryCoordinateWhenCentring) {
    HWND window = window_open(0, 0, POSITION_DEFAULT, 300, 100, nullptr,
                                        WS_POPUP | WINDOW_CENTER_SCREEN).handle;
    RECT outer = outer_rect(window);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 300) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 100) / 2);
}

TEST_F(WindowCreation, ChildCentredOnParentNeverLandsOffTheTopLeft) {
    HWND parent = window_open(0, 400, 300, 400, 300, nullptr, WS_POPUP).handle;
    HWND child = window_create(1, 0, 0, 200, 100, nullptr, WS_POPUP | WINDOW_CENTER_PARENT, parent).handle;
    RECT outer = outer_rect(child);
    EXPECT_EQ(outer.left, 400 + (400 - 200) / 2);
    EXPECT_EQ(outer.top, 300 + (300 - 100) / 2);

    SetWindowPos(parent, nullptr, -350, -280, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    child = window_create(1, 0, 0, 200, 100, nullptr, WS_POPUP | WINDOW_CENTER_PARENT, parent).handle;
    outer = outer_rect(child);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
}

TEST_F(WindowCreation, ChildWindowIsCentredWhereItsFlagsSayOnTheScreen) {
    HWND parent = window_open(0, 100, 80, 400, 300, nullptr, WS_POPUP).handle;
    ASSERT_NE(parent, nullptr);
    const int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
    const int32_t screen_height = GetSystemMetrics(SM_CYSCREEN);
    const struct {
        const char* what;
        uint32_t centring;
        POINT expected;  // screen coordinates of the child's top-left corner
    } cases[] = {
        {"on its parent", WINDOW_CENTER_PARENT, {100 + (400 - 200) / 2, 80 + (300 - 100) / 2}},
        {"on the screen", WINDOW_CENTER_SCREEN, {(screen_width - 200) / 2, (screen_height - 100) / 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HWND child = window_create(1, 0, 0, 200, 100, nullptr,
                                             WS_CHILD | WINDOW_NO_GADGET_LIST | c.centring, parent).handle;
        ASSERT_NE(child, nullptr);
        RECT outer = outer_rect(child);
        EXPECT_EQ(outer.left, c.expected.x);
        EXPECT_EQ(outer.top, c.expected.y);
    }
}

TEST_F(WindowCreation, CentringOnNothingKeepsTheCreatedPlaceOnScreen) {
    ASSERT_EQ(GetActiveWindow(), nullptr);
    const int32_t flags = WS_POPUP | WINDOW_CENTER_PARENT | WINDOW_NO_ACTIVATE;
    HWND window = window_open(0, 120, 80, 200, 100, nullptr, flags).handle;
    RECT outer = outer_rect(window);
    EXPECT_EQ(outer.left, 120);
    EXPECT_EQ(outer.top, 80);

    window = window_open(0, 30000, 30000, 200, 100, nullptr, flags).handle;
    outer = outer_rect(window);
    EXPECT_EQ(outer.left, GetSystemMetrics(SM_CXSCREEN) - 200);
    EXPECT_EQ(outer.top, GetSystemMetrics(SM_CYSCREEN) - 100);
}

// The whole address, in the property, the class name and every event and
// binding of the window; the number is told apart from the handle.
TEST_F(WindowCreation, AnyNumberNamesTheWindowByItsRecordAddress) {
    const CreatedWindow created = window_open(ANY_NUMBER, 0, 0, 100, 50, u"dynamic", WS_CAPTION);
    const intptr_t number = created.number;
    WindowRecord* record = window_record(number);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(reinterpret_cast<intptr_t>(record), number);
    HWND window = record->handle;
    EXPECT_EQ(window, created.handle);
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropW(window, L"Zeph_WindowID")), number + 1);
    EXPECT_EQ(class_name_of(window), L"WindowClass_" + std::to_wstring(number));

    window_set_title(number, u"renamed");
    wchar_t title[32] = {};
    GetWindowTextW(window, title, 32);
    EXPECT_STREQ(title, L"renamed");
    take_events();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_CLOSE_WINDOW}),
              (std::vector<QueuedEvent>{{EV_CLOSE_WINDOW, number, number, 0}}));
    ASSERT_EQ(binding_add(EV_CLOSE_WINDOW, number, -1, -1, count_close, number), 1);
    closes_seen = 0;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(closes_seen, 1) << "the window's binding ran";
    EXPECT_EQ(window_free(number), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(bindings->element_count, 0) << "the window's binding went with it";
}

TEST_F(WindowCreation, ReopeningWindowZeroReplacesTheOldWindowAndForgetsItsEvents) {
    HWND first = window_open(0, 0, 0, 100, 50, u"first", 0).handle;
    gadget_create_text(1, 0, 0, 50, 20, u"text", 0);
    take_events();
    event_post_simple(EV_MENU, 7, 0, 0);

    HWND second = window_open(0, 0, 0, 120, 60, u"second", 0).handle;
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(gadget_handle(1), nullptr) << "the old window's gadget went with it";
    EXPECT_EQ(class_name_of(second), L"WindowClass_0");
    EXPECT_EQ(window_record(0)->handle, second);
    for (const QueuedEvent& e : take_events()) EXPECT_NE(e.kind, EV_MENU) << e;
    EXPECT_EQ(gadget_list_use(nullptr), second) << "the new window takes the gadgets";
}

TEST_F(WindowCreation, FreedWindowLeavesNoClassEventsOrRecord) {
    HWND window = window_open(2, 0, 0, 100, 50, nullptr, 0).handle;
    event_post_simple(EV_CLOSE_WINDOW, 2, 2, 0);
    event_post_simple(EV_MENU, 9, 5, 0);

    EXPECT_EQ(window_free(2), 1);
    EXPECT_FALSE(IsWindow(window));
    WNDCLASSW info;
    EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), L"WindowClass_2", &info));
    EXPECT_EQ(window_record(2), nullptr);
    std::vector<QueuedEvent> left = events_of_kinds(take_events(), {EV_CLOSE_WINDOW, EV_MENU});
    EXPECT_EQ(left, (std::vector<QueuedEvent>{{EV_MENU, 9, 5, 0}}));

    EXPECT_EQ(window_free(2), 0) << "an unknown number is a no-op";
    window_set_title(2, u"ignored");
}

void ignore_event() {}

TEST_F(WindowCreation, ChildWindowDestroyedWithItsParentLeavesNoRecordEventsOrBindings) {
    HWND parent = window_open(0, 0, 0, 300, 200, nullptr, WS_POPUP).handle;
    HWND child = window_create(1, 10, 10, 100, 50, nullptr,
                                         WS_CHILD | WINDOW_NO_GADGET_LIST, parent).handle;
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(binding_add(EV_MENU, 1, -1, -1, ignore_event, 1), 1);
    take_events();
    event_post_simple(EV_MENU, 5, 1, 0);

    EXPECT_EQ(window_free(0), 1);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(window_record(1), nullptr) << "the child's record outlived its window";
    EXPECT_EQ(map_find_ascii(bindings, "13101:1:-1:-1"), nullptr);
    for (const QueuedEvent& e : take_events()) EXPECT_NE(e.window, 1) << e;
    EXPECT_EQ(window_free(1), 0) << "a later free must not reach the dead handle";
}

TEST_F(WindowCreation, NullTitleLeavesTheCaptionAlone) {
    HWND window = window_open(0, 0, 0, 100, 50, nullptr, 0).handle;
    wchar_t title[16] = L"x";
    GetWindowTextW(window, title, 16);
    EXPECT_STREQ(title, L"");
    window_set_title(0, u"kept");
    window_set_title(0, nullptr);
    GetWindowTextW(window, title, 16);
    EXPECT_STREQ(title, L"kept");
}

TEST_F(WindowCreation, ClosingAnOwnedWindowGivesActivationBackToTheOwner) {
    HWND owner = window_open(0, 0, 0, 200, 100, nullptr, 0).handle;
    HWND owned = window_create(1, 50, 50, 100, 50, nullptr, WS_CAPTION, owner).handle;
    pump_messages();
    ASSERT_EQ(GetActiveWindow(), owned);
    window_free(1);
    EXPECT_EQ(GetActiveWindow(), owner);
}

TEST_F(WindowCreation, ShutDownDestroysEveryWindowAndItsGadgets) {
    HWND first = window_open(0, 0, 0, 200, 100, nullptr, 0).handle;
    gadget_create_text(1, 0, 0, 50, 20, nullptr, 0);
    HWND second = window_open(ANY_NUMBER, 0, 0, 200, 100, nullptr, 0).handle;
    HWND control = gadget_handle(1);
    windows_end();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(second));
    EXPECT_FALSE(IsWindow(control));
    EXPECT_EQ(gadget_handle(1), nullptr);
}

}  // namespace
