// glyphmend_probe: shows the program to someone without a screen, in two
// steps around a screenshot taken by the caller (./run).
//   glyphmend_probe show SAMPLE.txt   puts the UTF-8 sample on the clipboard,
//       starts glyphmend.exe, waits for the repaired text and prints the
//       window's screen rectangle as "x y width height"; the program runs on.
//   glyphmend_probe finish            prints the title and the right pane's
//       text, ends the program with Esc and prints its exit code.
// Exit status 0 when each step did what it says.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/e2e/driver.h"

namespace {

constexpr uint32_t START_TIMEOUT_MS = 30000;
constexpr uint32_t REACT_TIMEOUT_MS = 10000;
constexpr uint32_t ESCAPE_HOLD_MS = 400;

bool read_sample(const wchar_t* path, std::wstring* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    *text = from_utf8(bytes.str());
    return true;
}

void print_line(const std::wstring& text) {
    print_utf8(text + L"\n");
}

int show(const wchar_t* sample_path) {
    std::wstring sample;
    if (!read_sample(sample_path, &sample)) {
        print_line(L"cannot read the sample text");
        return 1;
    }
    if (!clipboard_put_text(sample)) {
        print_line(L"the clipboard stayed busy");
        return 1;
    }
    ProgramUnderTest program;
    if (!program.start(glyphmend_path(), START_TIMEOUT_MS)) {
        print_line(L"glyphmend.exe showed no window");
        return 1;
    }
    bool repaired = program.wait_for(
        [&] {
            return focused_control(program.thread_id()) == program.result_pane() &&
                   !control_text(program.result_pane()).empty();
        },
        REACT_TIMEOUT_MS);
    program.wait_idle(REACT_TIMEOUT_MS);
    RECT rect;
    GetWindowRect(program.window(), &rect);
    wchar_t line[64];
    swprintf(line, 64, L"%ld %ld %ld %ld", rect.left, rect.top, rect.right - rect.left,
             rect.bottom - rect.top);
    print_line(line);
    // The program must outlive this probe: the next step ends it.
    program.release();
    return repaired ? 0 : 1;
}

int finish() {
    HWND window = FindWindowW(L"WindowClass_0", nullptr);
    ProgramUnderTest program;
    if (!window || !program.attach(window)) {
        print_line(L"no running glyphmend.exe found");
        return 1;
    }
    print_line(L"title: " + window_title(window));
    print_line(L"right pane: " + control_text(program.result_pane()));
    program.bring_to_front(REACT_TIMEOUT_MS);
    hold_escape(program.process(), ESCAPE_HOLD_MS);
    int64_t code = program.wait_exit(REACT_TIMEOUT_MS);
    if (code < 0) {
        print_line(L"glyphmend.exe still runs after Esc");
        return 1;
    }
    print_line(L"exit code: " + std::to_wstring(code));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && lstrcmpW(argv[1], L"show") == 0) return show(argv[2]);
    if (argc == 2 && lstrcmpW(argv[1], L"finish") == 0) return finish();
    print_line(L"usage: glyphmend_probe show SAMPLE.txt | glyphmend_probe finish");
    return 2;
}
