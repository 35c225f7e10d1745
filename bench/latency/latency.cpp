// Latency of the real program: from a paste into the left pane to the
// repaired text shown in the right pane, focused and selected whole. The
// normalization pass alone, run in this process on the same text, is the
// baseline measured in the same run; so are the two Edit-control steps the
// program makes (a paste into one pane, setting and selecting the other),
// timed on controls of this process with the panes' style, so the figures
// show where the time goes.
//   latency_bench [RUNS]      (default 7 runs per size)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/letters.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "tests/e2e/driver.h"

namespace {

constexpr uint32_t START_TIMEOUT_MS = 30000;
constexpr uint32_t REACT_TIMEOUT_MS = 60000;
constexpr size_t SIZES[] = {1000, 30000, 200000};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The repaired text is on show once the right pane holds all of it, has the
// focus and is selected whole; a length poll is cheap, the text itself is
// compared after the clock stops.
bool result_shown(ProgramUnderTest& program, size_t length) {
    DWORD_PTR shown = 0;
    if (!SendMessageTimeoutW(program.result_pane(), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                             REACT_TIMEOUT_MS, &shown) ||
        shown != length) {
        return false;
    }
    Selection selection = control_selection(program.result_pane());
    return focused_control(program.thread_id()) == program.result_pane() &&
           selection.start == 0 && selection.end == length;
}

// Puts the focus back into the left pane and selects its text, so the next
// paste replaces it as a user's Shift+Tab, Ctrl+A would.
bool prepare_source(ProgramUnderTest& program) {
    SendMessageW(program.result_pane(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    if (!program.bring_to_front(REACT_TIMEOUT_MS)) return false;
    if (focused_control(program.thread_id()) != program.source_pane()) {
        press_shifted_key(VK_TAB);
    }
    bool focused = program.wait_for(
        [&] { return focused_control(program.thread_id()) == program.source_pane(); },
        REACT_TIMEOUT_MS);
    SendMessageW(program.source_pane(), EM_SETSEL, 0, -1);
    return focused && program.wait_idle(REACT_TIMEOUT_MS);
}

// Milliseconds from posting WM_PASTE (it passes the program's loop like a
// keystroke) to the result on show; negative when it never showed correctly.
double paste_latency(ProgramUnderTest& program, const Paste& paste) {
    if (!clipboard_put_text(paste.typed) || !prepare_source(program)) return -1;
    double start = now_ms();
    PostMessageW(program.source_pane(), WM_PASTE, 0, 0);
    if (!program.wait_for([&] { return result_shown(program, paste.mended.size()); },
                          REACT_TIMEOUT_MS)) {
        return -1;
    }
    double elapsed = now_ms() - start;
    return control_text(program.result_pane()) == paste.mended ? elapsed : -1;
}

// The pass alone, in this process, on the same text.
double normalize_time(const Paste& paste) {
    uint32_t saved_offset = string_offset();
    string_push_copy(reinterpret_cast<const unit16*>(paste.typed.c_str()));
    string_assign(&work_text, saved_offset);
    double start = now_ms();
    normalize_letters();
    double elapsed = now_ms() - start;
    bool right = std::wstring(reinterpret_cast<const wchar_t*>(work_text)) == paste.mended;
    return right ? elapsed : -1;
}

// Two Edit controls as the program's panes are made: the same style, the
// limit lifted, in a shown window, so their work includes painting.
struct EditPair {
    HWND window = CreateWindowExW(0, L"Static", L"baseline", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  0, 0, 660, 240, nullptr, nullptr, nullptr, nullptr);
    HWND source = make_pane(0);
    HWND result = make_pane(320);
    ~EditPair() { DestroyWindow(window); }

    HWND make_pane(int x) {
        HWND pane = CreateWindowExW(0, L"Edit", L"", 0x503300C7, x, 0, 320, 200, window,
                                    nullptr, nullptr, nullptr);
        SendMessageW(pane, EM_SETLIMITTEXT, 0, 0);
        return pane;
    }
};

void drain_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Milliseconds of a paste of the clipboard into an emptied, painted pane.
double edit_paste_time(EditPair& edits) {
    SendMessageW(edits.source, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    UpdateWindow(edits.window);
    double start = now_ms();
    SendMessageW(edits.source, WM_PASTE, 0, 0);
    UpdateWindow(edits.window);
    drain_messages();
    return now_ms() - start;
}

// Milliseconds of writing the repaired text into a pane, selecting it whole
// and painting it.
double edit_show_time(EditPair& edits, const std::wstring& text) {
    SendMessageW(edits.result, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    UpdateWindow(edits.window);
    double start = now_ms();
    SendMessageW(edits.result, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SetFocus(edits.result);
    SendMessageW(edits.result, EM_SETSEL, 0, -1);
    UpdateWindow(edits.window);
    drain_messages();
    return now_ms() - start;
}

struct Medians {
    double latency, pass, paste, show;
};

void print_row(size_t size, const Medians& m) {
    char line[160];
    snprintf(line, sizeof line, "%8u %14.2f %14.3f %12.2f %12.2f %10.1f\n",
             static_cast<unsigned>(size), m.latency, m.pass, m.paste, m.show,
             m.pass > 0 ? m.latency / m.pass : 0.0);
    print_utf8(from_utf8(line));
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    main_heap = heap_create();
    string_area_init();
    clipboard_clear();
    ProgramUnderTest program;
    if (!program.start(glyphmend_path(), START_TIMEOUT_MS)) {
        print_utf8(L"glyphmend.exe showed no window\n");
        return 1;
    }
    print_utf8(L"paste latency of glyphmend.exe (median of " + std::to_wstring(runs) +
               L" runs per size); baselines in this process: the pass alone, an Edit\n"
               L"pane's paste, and an Edit pane shown with the result (set, select, paint)\n"
               L"    size   latency (ms)      pass (ms) paste (ms)   show (ms)      ratio\n");
    EditPair edits;
    int status = 0;
    for (size_t size : SIZES) {
        std::vector<double> latencies, passes, pastes, shows;
        for (int run = 0; run < runs; ++run) {
            Paste paste = build_paste(size, 1000 + run);
            double latency = paste_latency(program, paste);
            double pass = normalize_time(paste);
            if (latency < 0 || pass < 0) {
                print_utf8(L"size " + std::to_wstring(size) + L": wrong or no result\n");
                status = 1;
                break;
            }
            latencies.push_back(latency);
            passes.push_back(pass);
            pastes.push_back(edit_paste_time(edits));
            shows.push_back(edit_show_time(edits, paste.mended));
        }
        if (!latencies.empty())
            print_row(size, {median(latencies), median(passes), median(pastes), median(shows)});
    }
    program.terminate();
    return status;
}
