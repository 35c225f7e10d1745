#include "tests/e2e/driver.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const wchar_t MAIN_WINDOW_CLASS[] = L"WindowClass_0";
constexpr UINT READ_TIMEOUT_MS = 5000;
// A held key repeats, as a keyboard's typematic does. Each repeat wakes the
// program's loop again, which matters under Wine: GetAsyncKeyState answers
// "not down" from a cache for 50 ms after a query that found the key up, so
// the first key-down message alone can be read as no press at all.
constexpr double TYPEMATIC_REPEAT_MS = 60;

bool open_clipboard_bounded() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (OpenClipboard(nullptr)) return true;
        Sleep(10);
    }
    return false;
}

// Wine's CreateProcessW now and then refuses, at once, a start that succeeds
// when asked again. Each refusal is reported with its error, so that one
// that lasts still fails the test and says why.
bool create_process(const std::wstring& path, PROCESS_INFORMATION& info) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        std::vector<wchar_t> command(path.begin(), path.end());
        command.push_back(0);
        if (CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &info)) {
            return true;
        }
        std::fprintf(stderr, "CreateProcessW refused the start: error %lu\n", GetLastError());
        Sleep(250);
    }
    return false;
}

struct WindowSearch {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK match_main_window(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t class_name[64] = {};
    GetClassNameW(window, class_name, 64);
    if (owner == search->process_id && IsWindowVisible(window) &&
        lstrcmpW(class_name, MAIN_WINDOW_CLASS) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct PaneSearch {
    HWND panes[2];
    LONG lefts[2];
    int count;
};

BOOL CALLBACK collect_edit(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<PaneSearch*>(param);
    wchar_t class_name[16] = {};
    GetClassNameW(child, class_name, 16);
    if (lstrcmpiW(class_name, L"Edit") != 0 || search->count == 2) return TRUE;
    RECT rect;
    GetWindowRect(child, &rect);
    search->panes[search->count] = child;
    search->lefts[search->count] = rect.left;
    ++search->count;
    return TRUE;
}

INPUT key_input(WORD virtual_key, WORD scan, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtual_key;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    return input;
}

// A look-alike sequence and the letter it is mended into.
struct LookAlike {
    const wchar_t* typed;
    const wchar_t* mended;
};

const LookAlike LOOK_ALIKES[] = {
    {L"\u0438\u0306", L"\u0439"}, {L"\u0435\u0308", L"\u0451"}, {L"\u0418\u0306", L"\u0419"},
    {L"\u0391", L"\u0410"},       {L"\u0392", L"\u0412"},       {L"\u0393", L"\u0413"},
    {L"\u0395", L"\u0415"},       {L"\u0397", L"\u041D"},       {L"\u039A", L"\u041A"},
    {L"\u039B", L"\u041B"},       {L"\u039F", L"\u041E"},       {L"\u03A0", L"\u041F"},
    {L"\u03A1", L"\u0420"},       {L"\u03A4", L"\u0422"},       {L"\u03A7", L"\u0425"},
    {L"\u039C", L"\u041C"},       {L"\u0138", L"\u043A"},       {L"\u1D0F", L"\u043E"},
    {L"\u0299", L"\u0432"},
};

}  // namespace

std::wstring glyphmend_path() {
    // The release test runs the program from the zip instead.
    if (const wchar_t* chosen = _wgetenv(L"GLYPHMEND_EXE")) return chosen;
    std::wstring path = L"" GLYPHMEND_EXE;
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    return path;
}

bool clipboard_put_text(const std::wstring& text) {
    SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block) return false;
    memcpy(GlobalLock(block), text.c_str(), bytes);
    GlobalUnlock(block);
    if (!open_clipboard_bounded()) {
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    bool stored = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    if (!stored) GlobalFree(block);
    CloseClipboard();
    return stored;
}

bool clipboard_clear() {
    if (!open_clipboard_bounded()) return false;
    EmptyClipboard();
    CloseClipboard();
    return true;
}

double now_ms() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

ProgramUnderTest::~ProgramUnderTest() {
    terminate();
}

bool ProgramUnderTest::start(const std::wstring& path, uint32_t timeout_ms) {
    PROCESS_INFORMATION info = {};
    if (!create_process(path, info)) return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    process_id_ = info.dwProcessId;
    bool ready = wait_for(
        [this] {
            WindowSearch search = {process_id_, nullptr};
            EnumWindows(match_main_window, reinterpret_cast<LPARAM>(&search));
            window_ = search.found;
            return window_ != nullptr && find_panes();
        },
        timeout_ms);
    if (!ready) {
        terminate();
        return false;
    }
    thread_id_ = GetWindowThreadProcessId(window_, nullptr);
    return true;
}

bool ProgramUnderTest::attach(HWND window) {
    window_ = window;
    thread_id_ = GetWindowThreadProcessId(window, &process_id_);
    process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE,
                           process_id_);
    return process_ != nullptr && find_panes();
}

bool ProgramUnderTest::find_panes() {
    PaneSearch search = {};
    EnumChildWindows(window_, collect_edit, reinterpret_cast<LPARAM>(&search));
    if (search.count != 2) return false;
    bool first_is_left = search.lefts[0] <= search.lefts[1];
    source_ = search.panes[first_is_left ? 0 : 1];
    result_ = search.panes[first_is_left ? 1 : 0];
    return true;
}

bool ProgramUnderTest::running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

int64_t ProgramUnderTest::wait_exit(uint32_t timeout_ms) {
    if (!process_ || WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

bool ProgramUnderTest::wait_idle(uint32_t timeout_ms) {
    return process_ != nullptr && WaitForInputIdle(process_, timeout_ms) == 0;
}

bool ProgramUnderTest::bring_to_front(uint32_t timeout_ms) {
    return wait_for(
        [this] {
            if (GetForegroundWindow() == window_) return true;
            SetForegroundWindow(window_);
            return false;
        },
        timeout_ms);
}

void ProgramUnderTest::terminate() {
    if (!process_) return;
    if (running()) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, READ_TIMEOUT_MS);
    }
    CloseHandle(process_);
    process_ = nullptr;
}

void ProgramUnderTest::release() {
    if (process_) CloseHandle(process_);
    process_ = nullptr;
}

std::wstring window_title(HWND window) {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return title;
}

std::wstring control_text(HWND control) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, READ_TIMEOUT_MS,
                             &length)) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                             READ_TIMEOUT_MS, &copied)) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), copied);
}

HWND focused_control(DWORD thread_id) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread_id, &info)) return nullptr;
    return info.hwndFocus;
}

Selection control_selection(HWND control) {
    Selection selection = {0, 0};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(control, EM_GETSEL, reinterpret_cast<WPARAM>(&selection.start),
                        reinterpret_cast<LPARAM>(&selection.end), SMTO_ABORTIFHUNG,
                        READ_TIMEOUT_MS, &ignored);
    return selection;
}

void type_text(const std::wstring& text) {
    std::vector<INPUT> inputs;
    for (wchar_t unit : text) {
        inputs.push_back(key_input(0, unit, KEYEVENTF_UNICODE));
        inputs.push_back(key_input(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void press_key(WORD virtual_key) {
    INPUT inputs[] = {key_input(virtual_key, 0, 0), key_input(virtual_key, 0, KEYEVENTF_KEYUP)};
    SendInput(2, inputs, sizeof(INPUT));
}

void press_shifted_key(WORD virtual_key) {
    INPUT inputs[] = {key_input(VK_SHIFT, 0, 0), key_input(virtual_key, 0, 0),
                      key_input(virtual_key, 0, KEYEVENTF_KEYUP),
                      key_input(VK_SHIFT, 0, KEYEVENTF_KEYUP)};
    SendInput(4, inputs, sizeof(INPUT));
}

void hold_escape(HANDLE wait_handle, uint32_t hold_ms) {
    INPUT down = key_input(VK_ESCAPE, 0, 0);
    INPUT up = key_input(VK_ESCAPE, 0, KEYEVENTF_KEYUP);
    double release_at = now_ms() + hold_ms;
    for (;;) {
        SendInput(1, &down, sizeof(INPUT));
        double left = release_at - now_ms();
        if (left <= 0) break;
        DWORD pause = static_cast<DWORD>(left < TYPEMATIC_REPEAT_MS ? left : TYPEMATIC_REPEAT_MS);
        if (WaitForSingleObject(wait_handle, pause) == WAIT_OBJECT_0) break;
    }
    SendInput(1, &up, sizeof(INPUT));
}

std::string to_utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::wstring from_utf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

void print_utf8(const std::wstring& text) {
    std::string bytes = to_utf8(text);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

Paste build_paste(size_t length, uint32_t seed) {
    static const wchar_t* const CLEAN[] = {L"\u0442\u0435\u043A\u0441\u0442 ", L"\r\n",
                                           L"\u0401\u0436 ", L"abc ", L"\u03B1\u03BF "};
    Paste paste;
    uint32_t state = seed;
    while (paste.typed.size() < length) {
        state = state * 1103515245u + 12345u;
        uint32_t pick = (state >> 16) % 24;
        std::wstring typed, mended;
        if (pick < 19) {
            typed = LOOK_ALIKES[pick].typed;
            mended = LOOK_ALIKES[pick].mended;
        } else {
            typed = mended = CLEAN[pick - 19];
        }
        if (paste.typed.size() + typed.size() > length) {
            typed = mended = std::wstring(length - paste.typed.size(), L'x');
        }
        paste.typed += typed;
        paste.mended += mended;
    }
    return paste;
}

