// Glyphmend's main routine: brings the runtime and the toolkit up, opens the
// two-pane window, pastes the clipboard into the left pane and repairs the
// text on every change of it until Esc or the close button ends the program.
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

constexpr int32_t MAIN_WINDOW = 0;
constexpr int32_t SOURCE_PANE = 1;
constexpr int32_t RESULT_PANE = 2;
constexpr int32_t CLIENT_WIDTH = 640;
constexpr int32_t CLIENT_HEIGHT = 200;
constexpr int32_t PANE_WIDTH = 320;
constexpr uint32_t MAIN_WINDOW_FLAGS = 0xCA0001;
constexpr uint32_t PANE_FLAGS = 0x320047;
// GetAsyncKeyState's 0x8001 sign-extended: down now and pressed since the
// previous query.
constexpr uint32_t ESCAPE_NEW_PRESS = 0xFFFF8001;

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

void start_libraries() {
    string_area_init();
    container_ops_register_map();
    events_init();
    images_init();
    environment_init();
    windows_init();
    gadgets_init();
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
void create_pane(int32_t number, int32_t x) {
    gadget_create_text(number, x, 0, PANE_WIDTH, CLIENT_HEIGHT, u"", PANE_FLAGS);
    SendMessageW(gadget_handle(number), EM_SETLIMITTEXT, 0, 0);
}

// Opens window 0 with both panes and pastes the clipboard into the left one;
// that paste is the first change the loop repairs. 0 when no window opened.
int32_t open_main_window() {
    if (window_open(MAIN_WINDOW, 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT, TITLE, MAIN_WINDOW_FLAGS) == 0) {
        return 0;
    }
    create_pane(SOURCE_PANE, 0);
    create_pane(RESULT_PANE, PANE_WIDTH);
    gadget_focus(SOURCE_PANE);
    SendMessageW(gadget_handle(SOURCE_PANE), WM_PASTE, 0, 0);
    return 1;
}

void read_source_text() {
    uint32_t saved_offset = string_offset();
    gadget_get_text(SOURCE_PANE, saved_offset);
    string_assign(&work_text, saved_offset);
    saved_offset = string_offset();
    string_push_copy(work_text);
    string_assign(&saved_text, saved_offset);
}

// Shows the repaired text focused and selected whole, ready to be copied;
// the title stays marked once any repair changed something.
void repair_source_text() {
    read_source_text();
    normalize_letters();
    gadget_set_text(RESULT_PANE, work_text);
    gadget_focus(RESULT_PANE);
    SendMessageW(gadget_handle(RESULT_PANE), EM_SETSEL, 0, -1);
    if (text_changed()) {
        window_set_title(MAIN_WINDOW, MARKED_TITLE);
    }
}

bool escape_newly_pressed() {
    return static_cast<uint32_t>(static_cast<int32_t>(GetAsyncKeyState(VK_ESCAPE))) == ESCAPE_NEW_PRESS;
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

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    clear_program_globals();
    instance_handle = GetModuleHandleW(nullptr);
    main_heap = heap_create();
    start_libraries();
    if (open_main_window()) {
        run_event_loop();
    }
    end_libraries();
    heap_destroy(main_heap);
    ExitProcess(0);
}
