// Drives the real glyphmend.exe from outside, as a person at the keyboard
// would: puts text on the clipboard, starts the program, types into it, and
// reads what it shows through the window manager's own calls. Shared by the
// end-to-end tests, the latency benchmark and the demo probe of ./run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The program's path: the environment's GLYPHMEND_EXE (a Windows path) when
// set, else the build's; a Unix path from the cross build is turned into the
// drive Wine maps the root to.
std::wstring glyphmend_path();

// Replaces the clipboard's content by `text` as CF_UNICODETEXT. False when
// the clipboard stayed busy for a second.
bool clipboard_put_text(const std::wstring& text);
// Leaves the clipboard without any data.
bool clipboard_clear();

// Monotonic milliseconds with sub-millisecond resolution.
double now_ms();

// One running glyphmend.exe; the destructor ends it if it is still running,
// so no test leaves a process behind.
class ProgramUnderTest {
public:
    ProgramUnderTest() = default;
    ~ProgramUnderTest();
    ProgramUnderTest(const ProgramUnderTest&) = delete;
    ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;

    // Starts `path` and waits up to `timeout_ms` for its main window and both
    // panes. False (and the process ended) when they did not appear.
    bool start(const std::wstring& path, uint32_t timeout_ms);
    // Takes over an instance started by someone else, found by its window.
    bool attach(HWND window);

    HWND window() const { return window_; }
    HWND source_pane() const { return source_; }
    HWND result_pane() const { return result_; }
    DWORD thread_id() const { return thread_id_; }
    HANDLE process() const { return process_; }

    // True while the process runs.
    bool running() const;
    // Waits up to `timeout_ms` for the process to end; its exit code, or -1
    // when it still runs.
    int64_t wait_exit(uint32_t timeout_ms);
    // Polls `condition` until it holds or `timeout_ms` passed; returns its last
    // value. Each pause ends early when the process exits.
    template <class Condition>
    bool wait_for(Condition condition, uint32_t timeout_ms) {
        double deadline = now_ms() + timeout_ms;
        for (;;) {
            if (condition()) return true;
            if (now_ms() >= deadline) return false;
            WaitForSingleObject(process_, 1);
        }
    }
    // Waits until the program waits for input with nothing pending.
    bool wait_idle(uint32_t timeout_ms);
    // Brings the window to the front so that SendInput reaches it.
    bool bring_to_front(uint32_t timeout_ms);
    // Ends the process at once (exit code 1) and waits for it.
    void terminate();
    // Lets the process run on beyond this object.
    void release();

private:
    bool find_panes();

    HANDLE process_ = nullptr;
    DWORD process_id_ = 0;
    DWORD thread_id_ = 0;
    HWND window_ = nullptr;
    HWND source_ = nullptr;
    HWND result_ = nullptr;
};

// Texts read from another process; an unresponsive window reads as empty.
std::wstring window_title(HWND window);
std::wstring control_text(HWND control);
// The control holding the keyboard focus in thread `thread_id`, or null.
HWND focused_control(DWORD thread_id);

struct Selection {
    DWORD start;
    DWORD end;
};
// EM_GETSEL with both positions written through pointers, so texts longer
// than 65 535 units report correctly.
Selection control_selection(HWND control);

// Keyboard input through SendInput to whatever window has the focus.
void type_text(const std::wstring& text);
void press_key(WORD virtual_key);
void press_shifted_key(WORD virtual_key);
// Holds Esc down for `hold_ms`, repeating like a held key, as a person does:
// the program's test only sees a key that is down at the moment it asks.
// Returns early when `wait_handle` (the program's process) is signalled.
void hold_escape(HANDLE wait_handle, uint32_t hold_ms);

// A pasted text and what the right pane must show for it, built side by side
// from clean words, line breaks and look-alikes in a fixed pseudo-random order.
struct Paste {
    std::wstring typed;
    std::wstring mended;
};

Paste build_paste(size_t length, uint32_t seed);

// Writes `text` as UTF-8 to standard output (the console's code page is
// not ours to rely on under Wine).
void print_utf8(const std::wstring& text);
std::string to_utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);
