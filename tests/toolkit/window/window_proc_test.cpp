// What a user does to a toolkit window, and the events our queue returns for it.
#include "window_fixture.h"

namespace {

HWND open_main_window(uint32_t flags = WS_OVERLAPPEDWINDOW) {
    return window_open(0, 100, 100, 400, 300, u"events", flags).handle;
}

HWND make_text(int32_t number, int32_t x) {
    return gadget_create_text(number, x, 10, 60, 24, nullptr, 0).handle;
}

void bring_to_front(HWND window) {
    SetForegroundWindow(window);
    pump_messages();
}

std::vector<QueuedEvent> size_events(HWND window, int command) {
    ShowWindow(window, command);
    return events_of_kinds(take_events(), {EV_MINIMIZE, EV_MAXIMIZE, EV_RESTORE, EV_SIZE_WINDOW});
}

using WindowEvents = ToolkitFixture;

TEST_F(WindowEvents, ClickingCloseQueuesCloseEventAndTheWindowStaysOpen) {
    HWND window = open_main_window();
    take_events();
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    std::vector<QueuedEvent> events = events_of_kinds(take_events(), {EV_CLOSE_WINDOW});
    EXPECT_EQ(events, (std::vector<QueuedEvent>{{EV_CLOSE_WINDOW, 0, 0, 0}}));
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(WindowEvents, MinimizeRestoreMaximizeAndResizeQueueTheirSequences) {
    HWND window = open_main_window();
    take_events();
    using V = std::vector<QueuedEvent>;
    EXPECT_EQ(size_events(window, SW_MINIMIZE), (V{{EV_MINIMIZE, 0, 0, 0}}));
    EXPECT_EQ(size_events(window, SW_RESTORE), (V{{EV_RESTORE, 0, 0, 0}, {EV_SIZE_WINDOW, 0, 0, 0}}));
    EXPECT_EQ(size_events(window, SW_MAXIMIZE), (V{{EV_MAXIMIZE, 0, 0, 0}, {EV_SIZE_WINDOW, 0, 0, 0}}));
    EXPECT_EQ(size_events(window, SW_RESTORE), (V{{EV_RESTORE, 0, 0, 0}, {EV_SIZE_WINDOW, 0, 0, 0}}));
    SetWindowPos(window, nullptr, 0, 0, 500, 350, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_MINIMIZE, EV_MAXIMIZE, EV_RESTORE, EV_SIZE_WINDOW}),
              (V{{EV_SIZE_WINDOW, 0, 0, 0}}));
    SetWindowPos(window, nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_MOVE_WINDOW}), (V{{EV_MOVE_WINDOW, 0, 0, 0}}));
}

TEST_F(WindowEvents, SwitchingBackToTheWindowReturnsTheFocusToTheFieldThatHadIt) {
    HWND window = open_main_window();
    make_text(1, 10);
    HWND second_field = make_text(2, 100);
    bring_to_front(window);
    SetFocus(second_field);
    take_events();

    HWND other = window_open(1, 50, 50, 200, 100, u"other", WS_CAPTION).handle;
    bring_to_front(other);
    ASSERT_NE(GetFocus(), second_field);
    bring_to_front(window);
    EXPECT_EQ(GetFocus(), second_field);
    std::vector<QueuedEvent> events = events_of_kinds(take_events(), {EV_ACTIVATE, EV_DEACTIVATE});
    std::vector<QueuedEvent> own;
    for (const QueuedEvent& e : events)
        if (e.window == 0) own.push_back(e);
    EXPECT_EQ(own, (std::vector<QueuedEvent>{{EV_DEACTIVATE, 0, 0, 0}, {EV_ACTIVATE, 0, 0, 0}}));
}

TEST_F(WindowEvents, TabAndShiftTabCycleThroughUsableFieldsOnly) {
    HWND window = open_main_window();
    HWND first = make_text(1, 10);
    EnableWindow(make_text(2, 80), FALSE);
    ShowWindow(make_text(3, 150), SW_HIDE);
    HWND no_tab_stop = make_text(4, 220);
    SetWindowLongW(no_tab_stop, GWL_STYLE, GetWindowLongW(no_tab_stop, GWL_STYLE) & ~WS_TABSTOP);
    HWND last = make_text(5, 290);
    bring_to_front(window);
    SetFocus(first);

    struct Step {
        bool shift;
        HWND expected;
        const char* what;
    };
    const Step steps[] = {
        {false, last, "Tab skips the disabled, hidden and non-tab-stop fields"},
        {false, first, "Tab from the last field wraps to the first"},
        {true, last, "Shift+Tab from the first field wraps to the last"},
        {true, first, "Shift+Tab goes back"},
    };
    for (const Step& step : steps) {
        press_key(VK_TAB, step.shift ? VK_SHIFT : 0);
        pump_messages(window, accelerators_of(window));
        EXPECT_EQ(GetFocus(), step.expected) << step.what;
    }

    SetFocus(no_tab_stop);
    press_key(VK_TAB);
    pump_messages(window, accelerators_of(window));
    EXPECT_EQ(GetFocus(), no_tab_stop) << "Tab on a field that is no tab stop moves nothing";
}

TEST_F(WindowEvents, TypingALetterInAFieldQueuesOneChangeEventForThatGadget) {
    HWND window = open_main_window();
    HWND field = make_text(1, 10);
    bring_to_front(window);
    SetFocus(field);
    take_events();
    press_key('X');
    std::vector<QueuedEvent> changes;
    for (const QueuedEvent& e : events_of_kinds(take_events(window), {EV_GADGET}))
        if (e.type == GADGET_EVENT_CHANGE) changes.push_back(e);
    EXPECT_EQ(changes, (std::vector<QueuedEvent>{{EV_GADGET, 1, 0, GADGET_EVENT_CHANGE}}));
    EXPECT_EQ(GetWindowTextLengthW(field), 1);
}

TEST_F(WindowEvents, ShortcutsMenusAndMenuControlsQueueMenuEvents) {
    HWND window = open_main_window();
    bring_to_front(window);
    take_events();
    using V = std::vector<QueuedEvent>;

    ACCEL shortcut{FVIRTKEY | FCONTROL, 'M', 700};
    HACCEL table = CreateAcceleratorTableW(&shortcut, 1);
    press_key('M', VK_CONTROL);
    pump_messages(window, table);
    DestroyAcceleratorTable(table);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_MENU, EV_GADGET}), (V{{EV_MENU, 700, 0, 0}}));

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(501, 0), 0);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_MENU, EV_GADGET}), (V{{EV_MENU, 501, 0, 0}}));

    HWND menu_control = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 10, 10, window,
                                        reinterpret_cast<HMENU>(static_cast<intptr_t>(-10000)),
                                        nullptr, nullptr);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(42, BN_CLICKED), reinterpret_cast<LPARAM>(menu_control));
    EXPECT_EQ(events_of_kinds(take_events(), {EV_MENU, EV_GADGET}), (V{{EV_MENU, 42, 0, 0}}));
}

LRESULT swallow_close(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_CLOSE ? 0 : RESULT_CALLBACK_PASS;
}

TEST_F(WindowEvents, MessageCallbackThatAnswersSuppressesTheEvents) {
    HWND window = open_main_window();
    take_events();
    window_record(0)->message_callback = swallow_close;
    SendMessageW(window, WM_CLOSE, 0, 0);
    SendMessageW(window, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_CLOSE_WINDOW, EV_LEFT_CLICK}),
              (std::vector<QueuedEvent>{{EV_LEFT_CLICK, 0, 0, 0}}));

    window_record(0)->message_callback = nullptr;
    window_state->default_message_callback = swallow_close;
    SendMessageW(window, WM_CLOSE, 0, 0);
    window_state->default_message_callback = nullptr;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_CLOSE_WINDOW}),
              (std::vector<QueuedEvent>{{EV_CLOSE_WINDOW, 0, 0, 0}}));
}

TEST_F(WindowEvents, SizeLimitsHoldWhenTheUserResizes) {
    HWND window = open_main_window();
    WindowRecord* record = window_record(0);
    record->min_width = 250;
    record->min_height = 150;
    record->max_width = 600;
    record->max_height = 450;
    SetWindowPos(window, nullptr, 0, 0, 50, 40, SWP_NOMOVE | SWP_NOZORDER);
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(r.right - r.left, 250);
    EXPECT_EQ(r.bottom - r.top, 150);
    SetWindowPos(window, nullptr, 0, 0, 900, 800, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(window, &r);
    EXPECT_EQ(r.right - r.left, 600);
    EXPECT_EQ(r.bottom - r.top, 450);
}

TEST_F(WindowEvents, ToolWindowWithoutLimitsReportsMinimumTrackingWidthOne) {
    HWND window = window_open(0, 0, 0, 100, 50, nullptr, WINDOW_TOOL | WS_THICKFRAME).handle;
    MINMAXINFO info{};
    info.ptMinTrackSize = POINT{77, 66};
    info.ptMaxTrackSize = POINT{999, 888};
    EXPECT_EQ(SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 1);
    EXPECT_EQ(info.ptMinTrackSize.y, 66);
    EXPECT_EQ(info.ptMaxTrackSize.x, 999);
    EXPECT_EQ(info.ptMaxTrackSize.y, 888);
}

TEST_F(WindowEvents, NotifyIconClicksQueueTheirTypeAndEveryMessageWakesTheLoop) {
    HWND window = open_main_window();
    take_events();
    struct Case {
        LPARAM mouse;
        int32_t type;
    };
    const Case cases[] = {{WM_LBUTTONDOWN, 0}, {WM_RBUTTONDOWN, 1}, {WM_LBUTTONDBLCLK, 2},
                          {WM_RBUTTONDBLCLK, 3}, {WM_MOUSEMOVE, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mouse);
        EXPECT_EQ(SendMessageW(window, MSG_NOTIFY_ICON, 7, c.mouse), 0);
        MSG msg;
        EXPECT_TRUE(PeekMessageW(&msg, window, WM_NULL, WM_NULL, PM_NOREMOVE));
        std::vector<QueuedEvent> expected;
        if (c.type >= 0) expected.push_back({EV_NOTIFY_ICON, 7, 0, c.type});
        EXPECT_EQ(take_events(), expected);
    }
}

TEST_F(WindowEvents, MouseClicksAndTimersQueueTheirEvents) {
    HWND window = open_main_window();
    take_events();
    SendMessageW(window, WM_LBUTTONUP, 0, 0);
    SendMessageW(window, WM_LBUTTONDBLCLK, 0, 0);
    SendMessageW(window, WM_RBUTTONUP, 0, 0);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_LEFT_CLICK, EV_LEFT_DOUBLE_CLICK, EV_RIGHT_CLICK}),
              (std::vector<QueuedEvent>{
                  {EV_LEFT_CLICK, 0, 0, 0}, {EV_LEFT_DOUBLE_CLICK, 0, 0, 0}, {EV_RIGHT_CLICK, 0, 0, 0}}));

    SetTimer(window, 9, 10, nullptr);
    std::vector<QueuedEvent> timers;
    for (int rounds = 0; rounds < 100 && timers.empty(); ++rounds) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        timers = events_of_kinds(take_events(), {EV_TIMER});
    }
    KillTimer(window, 9);
    ASSERT_FALSE(timers.empty()) << "no timer event within 5 s";
    EXPECT_EQ(timers[0], (QueuedEvent{EV_TIMER, 9, 0, 0}));
}

TEST_F(WindowEvents, BackgroundBrushOrEraseHandlerPaintsAndRepaintIsQueued) {
    HWND window = open_main_window();
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 400, 300);
    HGDIOBJ old = SelectObject(memory, bitmap);
    take_events();

    window_record(0)->background_brush = CreateSolidBrush(RGB(10, 200, 30));
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0), 1);
    EXPECT_EQ(GetPixel(memory, 5, 5), RGB(10, 200, 30));
    DeleteObject(window_record(0)->background_brush);
    window_record(0)->background_brush = nullptr;

    window_record(0)->erase_handler = [](HDC, HWND) -> LRESULT { return 55; };
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0), 55);
    EXPECT_EQ(events_of_kinds(take_events(), {EV_REPAINT}),
              (std::vector<QueuedEvent>{{EV_REPAINT, 0, 0, 0}})) << "two repaints merge into one";

    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
}

int colour_changes_seen;
LRESULT count_colour_changes(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_SYSCOLORCHANGE) ++colour_changes_seen;
    return RESULT_CALLBACK_PASS;
}

TEST_F(WindowEvents, SystemColourChangeReachesEveryChildWindow) {
    HWND window = open_main_window();
    window_create(1, 0, 0, 50, 50, nullptr, WS_CHILD | WINDOW_NO_GADGET_LIST, window);
    window_record(1)->message_callback = count_colour_changes;
    colour_changes_seen = 0;
    SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(colour_changes_seen, 1);

    window_record(0)->mdi_client = window;
    SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
    window_record(0)->mdi_client = nullptr;
    EXPECT_EQ(colour_changes_seen, 1) << "an MDI frame leaves its children to the client";
}

// Records what a gadget kind is asked on its parent's behalf.
std::vector<UINT> parent_messages;
LRESULT answer_parent(Gadget*, HWND, UINT message, WPARAM, LPARAM) {
    parent_messages.push_back(message);
    return 5;
}
GadgetClass recording_class() {
    GadgetClass table{};
    table.kind_code = TEXT_GADGET_KIND;
    table.size = sizeof(GadgetClass);
    table.on_parent_message = answer_parent;
    return table;
}

// The main window with text gadget 0 of the recording kind, nothing queued
// and nothing recorded yet.
struct RecordingGadget {
    HWND window;
    HWND field;
};
RecordingGadget open_recording_gadget() {
    HWND window = open_main_window();
    HWND field = make_text(0, 10);
    static const GadgetClass recording = recording_class();
    static_cast<Gadget*>(object_get(gadget_list, 0))->gadget_class = &recording;
    take_events();
    parent_messages.clear();
    return {window, field};
}

TEST_F(WindowEvents, ControlMessagesReachTheGadgetThatSentThemOnly) {
    auto [window, field] = open_recording_gadget();

    auto from = [](HWND control) { return reinterpret_cast<LPARAM>(control); };
    EXPECT_EQ(SendMessageW(window, MSG_GADGET_REFLECT, 0, from(field)), 5);
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, EN_CHANGE), from(field)), 0);
    EXPECT_EQ(parent_messages, (std::vector<UINT>{MSG_GADGET_REFLECT, WM_COMMAND}));
    EXPECT_TRUE(take_events().empty()) << "a command the gadget answered queues nothing";

    HWND stranger = CreateWindowExW(0, L"Edit", L"", WS_CHILD, 0, 0, 10, 10, window, nullptr, nullptr, nullptr);
    EXPECT_EQ(gadget_forward(stranger, window, WM_CTLCOLOREDIT, 0, from(stranger)), RESULT_DEFAULT)
        << "a control with identifier 0 that is no gadget";
    EXPECT_EQ(gadget_forward(nullptr, window, WM_COMMAND, 0, 0), RESULT_DEFAULT);
    EXPECT_EQ(parent_messages.size(), 2u) << "neither reached gadget 0";
}

struct SentNotify {
    HWND window;
    NMHDR* header;
    LRESULT result;
};

DWORD WINAPI send_notify(LPVOID parameter) {
    auto* sent = static_cast<SentNotify*>(parameter);
    sent->result = SendMessageW(sent->window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(sent->header));
    return 0;
}

// WM_NOTIFY's pointer is read; another program can send any address, and
// Wine delivers such a message only from a thread of our own process, so a
// second thread stands in for it.
TEST_F(WindowEvents, NotificationsFromAnotherThreadGetTheDefaultHandlingUnread) {
    auto [window, field] = open_recording_gadget();

    NMHDR header{field, 0, 0};
    EXPECT_EQ(SendMessageW(window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header)), 5)
        << "our own thread's notification reaches the gadget";
    SentNotify sent{window, &header, -1};
    HANDLE thread = CreateThread(nullptr, 0, send_notify, &sent, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The sent message is handled while this thread looks for messages.
    for (int rounds = 0; rounds < 100 && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++rounds) {
        MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_SENDMESSAGE);
        pump_messages();
    }
    ASSERT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the sender never returned";
    CloseHandle(thread);
    EXPECT_EQ(sent.result, 0) << "the default procedure's answer";
    EXPECT_EQ(parent_messages, (std::vector<UINT>{WM_NOTIFY})) << "the second one was read";
}

// Wine keeps no UI state, so the window answers WM_QUERYUISTATE itself and
// records the change requests that keyboard_cues sends.
LRESULT ui_state_answer;
std::vector<WPARAM> ui_state_changes;
LRESULT answer_ui_state(HWND, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_QUERYUISTATE) return ui_state_answer;
    if (message == WM_CHANGEUISTATE) ui_state_changes.push_back(wparam);
    return RESULT_CALLBACK_PASS;
}

TEST_F(WindowEvents, KeyboardCuesChangeTheUiStateOnlyWhenItDiffers) {
    open_main_window();
    window_record(0)->message_callback = answer_ui_state;
    struct Case {
        LRESULT state;
        int32_t show;
        std::vector<WPARAM> sent;
    };
    const Case cases[] = {
        {0, 1, {}},
        {UISF_HIDEFOCUS, 1, {0x30002}},
        {UISF_HIDEACCEL, 1, {0x30002}},
        {UISF_HIDEFOCUS | UISF_HIDEACCEL, 0, {}},
        {UISF_HIDEACCEL, 0, {0x30001}},
        {0, 0, {0x30001}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << ", show " << c.show);
        ui_state_answer = c.state;
        ui_state_changes.clear();
        keyboard_cues(window_record(0)->handle, c.show);
        EXPECT_EQ(ui_state_changes, c.sent);
    }
}

TEST_F(WindowEvents, FrameWithMdiClientLetsTheFrameProcedureWorkButNeverResize) {
    HWND frame = open_main_window();
    CLIENTCREATESTRUCT client_info{nullptr, 50000};
    HWND client = CreateWindowExW(0, L"MDICLIENT", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 100, 80, frame,
                                  nullptr, nullptr, &client_info);
    ASSERT_NE(client, nullptr);
    SetPropW(frame, L"Zeph_MDI_Gadget", client);

    SendMessageW(frame, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(GetFocus(), client) << "the frame procedure hands the focus to the client";
    SetWindowPos(frame, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    RECT r;
    GetClientRect(client, &r);
    EXPECT_EQ(r.right, 100);
    EXPECT_EQ(r.bottom, 80);
    RemovePropW(frame, L"Zeph_MDI_Gadget");
}

}  // namespace
