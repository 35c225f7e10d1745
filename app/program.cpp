// Glyphmend's main routine: brings the runtime and the toolkit up, opens the
// two-pane window, pastes the clipboard into the left pane and repairs the
// text on every change of it until Esc or the close button ends the program.
#include "app/program.h"

#include <windows.h>

#include "app/letters.h"
#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "toolkit/event/event.h"
#include "toolkit/gadget/gadget.h"
#include "toolkit/image/image.h"
#include "toolkit/window/window.h"

namespace {

constexpr intptr_t MAIN_WINDOW = 0;
constexpr intptr_t SOURCE_PANE = 1;
constexpr intptr_t RESULT_PANE = 2;
constexpr int32_t CLIENT_WIDTH = 640;
constexpr int32_t CLIENT_HEIGHT = 200;
constexpr int32_t PANE_WIDTH = 320;
constexpr uint32_t MAIN_WINDOW_FLAGS = 0xCA0001;
constexpr uint32_t PANE_FLAGS = 0x320047;

const unit16 TITLE[] = u"Glyphmend 0.9d";
const unit16 MARKED_TITLE[] = u"***Glyphmend 0.9d***";

// The kind of the event that event_wait returned last.
int32_t last_event;

// The program's globals, all null or zero before anything starts; both string
// variables thus read as empty until the first repair.
void clear_program_globals() {
    main_heap = nullptr;
    instance_handle = nullptr;
    work_text = nullptr;
    saved_text = nullptr;
    last_event = 0;
}

// Every library starts, also after one has failed, so that each end routine
// finds its own library's state of this start; 1 when all are ready.
int32_t start_libraries() {
    int32_t ready = string_area_init();
    container_ops_register_map();
    events_init();
    ready &= events_ready();
    ready &= images_init();
    environment_init();
    ready &= windows_init();
    ready &= gadgets_init();
    return ready;
}

// Not the mirror of start_libraries: the container table has no end step,
// and the lists and records go with the main heap.
void end_libraries() {
    gadgets_end();
    windows_end();
    environment_end();
    images_end();
    events_end();
    string_area_end();
}

// An Edit control's default limit (30 000 characters under Wine, 32 767 on
// Windows) makes WM_PASTE cut a longer clipboard text; 0 lifts the limit.
// 0 when the pane could not be made.
int32_t create_pane(intptr_t number, int32_t x) {
    if (!gadget_create_text(number, x, 0, PANE_WIDTH, CLIENT_HEIGHT, u"", PANE_FLAGS).handle) {
        return 0;
    }
    SendMessageW(gadget_handle(number), EM_SETLIMITTEXT, 0, 0);
    return 1;
}

// Opens window 0 with both panes and pastes the clipboard into the left one;
// that paste is the first change the loop repairs. 0 when the window or a
// pane could not be made: a window without both panes is of no use, and the
// shut-down destroys what was made.
int32_t open_main_window() {
    if (!window_open(MAIN_WINDOW, 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT, TITLE, MAIN_WINDOW_FLAGS).handle) {
        return 0;
    }
    if (!create_pane(SOURCE_PANE, 0) || !create_pane(RESULT_PANE, PANE_WIDTH)) {
        return 0;
    }
    gadget_focus(SOURCE_PANE);
    SendMessageW(gadget_handle(SOURCE_PANE), WM_PASTE, 0, 0);
    return 1;
}

// work_text takes the left pane's text and saved_text a copy of it; 0 when
// memory ran short for any step (the area is given back either way).
int32_t read_source_text() {
    uint32_t saved_offset = string_offset();
    int32_t read = gadget_get_text(SOURCE_PANE, saved_offset);
    read &= string_assign(&work_text, saved_offset);
    saved_offset = string_offset();
    read &= string_push_copy(work_text);
    read &= string_assign(&saved_text, saved_offset);
    return read;
}

// Shows the repaired text focused and selected whole, ready to be copied;
// the title stays marked once any repair changed something.
//
// When memory runs short for the repair, the right pane is emptied and the
// title and the focus stay as they are: the right pane must never show text
// that is not the repair of the left pane (the last repair, or a partial
// one), an empty pane is plainly no repair, and with the focus left alone
// the next change of the left pane tries again.
void repair_source_text() {
    if (!read_source_text() || !normalize_letters()) {
        gadget_set_text(RESULT_PANE, nullptr);
        return;
    }
    gadget_set_text(RESULT_PANE, work_text);
    gadget_focus(RESULT_PANE);
    SendMessageW(gadget_handle(RESULT_PANE), EM_SETSEL, 0, -1);
    if (text_changed()) {
        window_set_title(MAIN_WINDOW, MARKED_TITLE);
    }
}

bool escape_newly_pressed() {
    auto state = static_cast<uint32_t>(static_cast<int32_t>(GetAsyncKeyState(VK_ESCAPE)));
    DWORD foreground = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    return escape_ends_program(state, foreground, GetCurrentThreadId()) != 0;
}

bool is_source_change() {
    return last_event == EV_GADGET && event_gadget() == SOURCE_PANE &&
           event_type() == GADGET_EVENT_CHANGE;
}

void run_event_loop() {
    for (;;) {
        last_event = event_wait();
        if (escape_newly_pressed()) {
            return;
        }
        if (is_source_change()) {
            repair_source_text();
        }
        if (last_event == EV_CLOSE_WINDOW) {
            return;
        }
    }
}

}  // namespace

int32_t escape_ends_program(uint32_t escape_state, uint32_t foreground_thread,
                            uint32_t own_thread) {
    return escape_state == ESCAPE_NEW_PRESS && foreground_thread == own_thread;
}

void glyphmend_run() {
    clear_program_globals();
    instance_handle = GetModuleHandleW(nullptr);
    main_heap = heap_create();
    if (start_libraries() && open_main_window()) {
        run_event_loop();
    }
    end_libraries();
    heap_destroy(main_heap);
}
