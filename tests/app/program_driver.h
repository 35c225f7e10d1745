// Drives whole lives of the window program inside the test's own process and
// thread. A WH_GETMESSAGE hook sees every message the program's loop takes,
// after the loop has handled everything before it (events included): there
// it checks what the window shows and takes the script's next step. Each step
// posts its input and then the marker of the next step, so every step starts
// once the one before has been handled.
#pragma once

#include <windows.h>

#include "app/program.h"
#include "runtime/containers/containers.h"
#include "tests/app/letters_model.h"
#include "toolkit/gadget/gadget.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

constexpr int32_t SOURCE_PANE = 1;
constexpr int32_t RESULT_PANE = 2;
const std::u16string PLAIN_TITLE = u"Glyphmend 0.9d";
const std::u16string MARKED_TITLE = u"***Glyphmend 0.9d***";

// A thread message that names the step to take; DispatchMessage ignores it.
constexpr UINT STEP_MESSAGE = WM_APP + 77;

inline std::u16string window_text(HWND window)
{
    std::u16string text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, u'\0');
    int length = GetWindowTextW(window, reinterpret_cast<wchar_t*>(&text[0]),
                                static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(length));
    return text;
}

// What the window showed when the driver looked last.
struct Shown {
    std::u16string left;
    std::u16string right;
    std::u16string title;
};

struct ProgramLife {
    bool window_opened = false;  // the loop ran with both panes
    HWND window = nullptr;       // the program's window, while it was open
    bool closed = false;         // the last step asked the window to close
    Shown last;                  // at the last step
};

class ProgramDriver {
public:
    using Step = std::function<void(HWND source, HWND window)>;

    // Runs glyphmend_run once with `steps`, then asks the window to close.
    // Checks at every message the loop takes that the right pane is empty or
    // the repair of the left one.
    ProgramLife run(std::vector<Step> steps)
    {
        steps_ = std::move(steps);
        life_ = ProgramLife{};
        driver_ = this;
        HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, message_taken, nullptr, GetCurrentThreadId());
        EXPECT_NE(hook, nullptr);
        PostThreadMessageW(GetCurrentThreadId(), STEP_MESSAGE, 0, 0);
        glyphmend_run();
        UnhookWindowsHookEx(hook);
        driver_ = nullptr;
        forget_what_the_process_end_would();
        return life_;
    }

    // Input as the user gives it, posted so that it passes the program's loop.
    static void type(HWND control, const std::u16string& text)
    {
        for (char16_t unit : text)
            PostMessageW(control, WM_CHAR, unit, 1);
    }
    static void paste(HWND control) { PostMessageW(control, WM_PASTE, 0, 0); }

private:
    static LRESULT CALLBACK message_taken(int code, WPARAM wparam, LPARAM lparam)
    {
        if (code == HC_ACTION && wparam == PM_REMOVE && driver_)
            driver_->look(*reinterpret_cast<const MSG*>(lparam));
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }

    void look(const MSG& message)
    {
        HWND source = gadget_handle(SOURCE_PANE);
        HWND result = gadget_handle(RESULT_PANE);
        if (!source || !result)
            return;
        life_.window_opened = true;
        life_.window = GetParent(source);
        check_shown(source, result);
        if (message.hwnd || message.message != STEP_MESSAGE)
            return;
        if (life_.closed) {
            // The close request was handled and the loop went on: nothing will end it.
            ADD_FAILURE() << "the program went on after its window was asked to close";
            std::fflush(stdout);
            ExitProcess(3);
        }
        const size_t index = message.wParam;
        if (index < steps_.size()) {
            steps_[index](source, GetParent(source));
        } else {
            PostMessageW(GetParent(source), WM_CLOSE, 0, 0);
            life_.closed = true;
        }
        // Behind the step's input, so the next step waits for all of it.
        PostThreadMessageW(GetCurrentThreadId(), STEP_MESSAGE, index + 1, 0);
    }

    // The texts only grow in these scripts, so a marked title means that
    // the left pane needs repair, and a shown repair that changed the text
    // means that the title is marked.
    void check_shown(HWND source, HWND result)
    {
        Shown& now = life_.last;
        now = Shown{window_text(source), window_text(result), window_text(GetParent(source))};
        const std::u16string repaired = model_pass(now.left);
        EXPECT_TRUE(now.right.empty() || now.right == repaired)
            << "the right pane shows no repair of the left pane";
        EXPECT_TRUE(now.title == PLAIN_TITLE || now.title == MARKED_TITLE);
        if (now.title == MARKED_TITLE) {
            EXPECT_NE(repaired, now.left) << "marked although nothing needed repair";
        }
        if (!now.right.empty() && now.right != now.left) {
            EXPECT_EQ(now.title, MARKED_TITLE) << "a repair shown without the mark";
        }
    }

    // A real run ends with its process; one in this process leaves what only
    // the process's end clears: the shared pools registered on the main heap
    // that has gone, and messages for windows that have gone.
    static void forget_what_the_process_end_would()
    {
        shared_pool_registry.head = nullptr;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    std::vector<Step> steps_;
    ProgramLife life_;
    static inline ProgramDriver* driver_ = nullptr;
};

// Puts text on the clipboard, where the program's start-up paste finds it.
inline bool put_on_clipboard(const std::u16string& text)
{
    const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block)
        return false;
    memcpy(GlobalLock(block), text.c_str(), bytes);
    GlobalUnlock(block);
    bool opened = false;
    for (int attempt = 0; attempt < 100 && !opened; ++attempt) {
        opened = OpenClipboard(nullptr);
        if (!opened)
            Sleep(10);
    }
    if (!opened) {
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    const bool stored = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    if (!stored)
        GlobalFree(block);
    CloseClipboard();
    return stored;
}
