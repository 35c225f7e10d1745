// The real glyphmend.exe under Wine, started with a prepared clipboard and
// driven by keyboard input, as its user meets it.
#include <gtest/gtest.h>

#include "tests/e2e/driver.h"

namespace {

constexpr uint32_t START_TIMEOUT_MS = 20000;
constexpr uint32_t REACT_TIMEOUT_MS = 10000;
constexpr uint32_t EXIT_TIMEOUT_MS = 10000;
constexpr uint32_t ESCAPE_HOLD_MS = 300;

const std::wstring PLAIN_TITLE = L"Glyphmend 0.9d";
const std::wstring MARKED_TITLE = L"***Glyphmend 0.9d***";

// Reports where two long texts first differ instead of printing them whole.
::testing::AssertionResult same_text(const std::wstring& expected, const std::wstring& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure()
           << "expected " << expected.size() << " units, actual " << actual.size()
           << "; first difference at unit " << at;
}

class GlyphmendProgram : public ::testing::Test {
protected:
    // Puts `clipboard` on the clipboard (nullptr: no data at all) and starts
    // the program.
    void start_with_clipboard(const wchar_t* clipboard) {
        ASSERT_TRUE(clipboard ? clipboard_put_text(clipboard) : clipboard_clear());
        ASSERT_TRUE(program.start(glyphmend_path(), START_TIMEOUT_MS))
            << "no window with two panes appeared";
    }

    // Waits until the right pane shows `expected`.
    ::testing::AssertionResult result_becomes(const std::wstring& expected) {
        if (program.wait_for([&] { return control_text(program.result_pane()) == expected; },
                             REACT_TIMEOUT_MS)) {
            return ::testing::AssertionSuccess();
        }
        return same_text(expected, control_text(program.result_pane()));
    }

    // Waits until the focus is in `control` (inside the program's thread).
    bool focus_reaches(HWND control) {
        return program.wait_for([&] { return focused_control(program.thread_id()) == control; },
                                REACT_TIMEOUT_MS);
    }

    void expect_result_focused_and_selected(size_t length) {
        EXPECT_EQ(program.result_pane(), focused_control(program.thread_id()));
        Selection selection = control_selection(program.result_pane());
        EXPECT_EQ(0u, selection.start);
        EXPECT_EQ(length, selection.end);
    }

    void type_into_front(const std::wstring& text) {
        ASSERT_TRUE(program.bring_to_front(REACT_TIMEOUT_MS));
        type_text(text);
    }

    ProgramUnderTest program;
};

TEST_F(GlyphmendProgram, GreekCapitalsOnClipboardAreRepairedFocusedAndSelectedAtStart) {
    const wchar_t* typed = L"\u0391\u0392\u0393 \u0442\u0435\u043A\u0441\u0442 \u039C\u0399\u03A1";
    const std::wstring mended = L"\u0410\u0412\u0413 \u0442\u0435\u043A\u0441\u0442 \u041C\u0399\u0420";
    start_with_clipboard(typed);
    ASSERT_TRUE(result_becomes(mended));
    ASSERT_TRUE(focus_reaches(program.result_pane()));
    expect_result_focused_and_selected(mended.size());
    EXPECT_EQ(std::wstring(typed), control_text(program.source_pane()));
    EXPECT_EQ(MARKED_TITLE, window_title(program.window()));
}

TEST_F(GlyphmendProgram, CleanTextIsShownUnchangedAndLeavesTitlePlain) {
    const wchar_t* clean = L"\u041F\u0440\u0438\u0432\u0435\u0442,\r\n\u043C\u0438\u0440 \u03B1\u03BF";
    start_with_clipboard(clean);
    ASSERT_TRUE(result_becomes(clean));
    ASSERT_TRUE(focus_reaches(program.result_pane()));
    EXPECT_EQ(PLAIN_TITLE, window_title(program.window()));
}

TEST_F(GlyphmendProgram, EmptyClipboardLeavesBothPanesEmptyAndFocusLeft) {
    start_with_clipboard(nullptr);
    ASSERT_TRUE(program.wait_idle(REACT_TIMEOUT_MS));
    EXPECT_EQ(L"", control_text(program.source_pane()));
    EXPECT_EQ(L"", control_text(program.result_pane()));
    EXPECT_EQ(program.source_pane(), focused_control(program.thread_id()));
    EXPECT_EQ(PLAIN_TITLE, window_title(program.window()));
}

TEST_F(GlyphmendProgram, TypingIntoSourcePaneRepairsAndMovesFocusToResult) {
    start_with_clipboard(nullptr);
    ASSERT_TRUE(focus_reaches(program.source_pane()));
    type_into_front(L"\u039A");
    ASSERT_TRUE(result_becomes(L"\u041A"));
    ASSERT_TRUE(focus_reaches(program.result_pane()));
    expect_result_focused_and_selected(1);
    EXPECT_EQ(L"\u039A", control_text(program.source_pane()));
    EXPECT_EQ(MARKED_TITLE, window_title(program.window()));
}

TEST_F(GlyphmendProgram, TitleStaysMarkedAfterInputNoLongerNeedsRepair) {
    start_with_clipboard(L"\u0391");
    ASSERT_TRUE(result_becomes(L"\u0410"));
    ASSERT_EQ(MARKED_TITLE, window_title(program.window()));

    ASSERT_TRUE(program.bring_to_front(REACT_TIMEOUT_MS));
    press_shifted_key(VK_TAB);
    ASSERT_TRUE(focus_reaches(program.source_pane()));
    SendMessageW(program.source_pane(), EM_SETSEL, 0, -1);
    type_text(L"z");
    ASSERT_TRUE(result_becomes(L"z"));
    EXPECT_EQ(MARKED_TITLE, window_title(program.window()));
}

TEST_F(GlyphmendProgram, TabAndShiftTabMoveFocusBetweenPanes) {
    start_with_clipboard(nullptr);
    ASSERT_TRUE(focus_reaches(program.source_pane()));
    ASSERT_TRUE(program.bring_to_front(REACT_TIMEOUT_MS));
    press_key(VK_TAB);
    EXPECT_TRUE(focus_reaches(program.result_pane())) << "Tab left the focus in the left pane";
    press_shifted_key(VK_TAB);
    EXPECT_TRUE(focus_reaches(program.source_pane())) << "Shift+Tab left the focus on the right";
    EXPECT_EQ(L"", control_text(program.source_pane())) << "Tab was typed into the pane";
}

TEST_F(GlyphmendProgram, EditingResultPaneByHandChangesNothingElse) {
    const wchar_t* clean = L"\u0434\u043E\u043C";
    start_with_clipboard(clean);
    ASSERT_TRUE(result_becomes(clean));
    ASSERT_TRUE(focus_reaches(program.result_pane()));
    type_into_front(L"\u0391");
    ASSERT_TRUE(result_becomes(L"\u0391")) << "typing replaced the selection on the right";
    ASSERT_TRUE(program.wait_idle(REACT_TIMEOUT_MS));
    EXPECT_EQ(std::wstring(clean), control_text(program.source_pane()));
    EXPECT_EQ(L"\u0391", control_text(program.result_pane())) << "the right pane was repaired";
    EXPECT_EQ(program.result_pane(), focused_control(program.thread_id()));
    EXPECT_EQ(PLAIN_TITLE, window_title(program.window()));
}

// Longer than an Edit control's default limit (30 000 under Wine, 32 767 on
// Windows), which a paste obeys.
TEST_F(GlyphmendProgram, LongPasteComesBackWholeAndRepaired) {
    Paste paste = build_paste(200000, 7);
    start_with_clipboard(paste.typed.c_str());
    ASSERT_TRUE(result_becomes(paste.mended));
    EXPECT_TRUE(same_text(paste.typed, control_text(program.source_pane())));
    ASSERT_TRUE(focus_reaches(program.result_pane()));
    expect_result_focused_and_selected(paste.mended.size());
    EXPECT_EQ(MARKED_TITLE, window_title(program.window()));
}

TEST_F(GlyphmendProgram, SupplementaryPlaneCharactersSurviveBesideRepairs) {
    start_with_clipboard(L"\U0001F600\u0391\U0001D538\u0438\u0306\U00020000");
    EXPECT_TRUE(result_becomes(L"\U0001F600\u0410\U0001D538\u0439\U00020000"));
}

struct EndingCase {
    const char* name;
    void (*end)(ProgramUnderTest& program);
};

void press_escape(ProgramUnderTest& program) {
    ASSERT_TRUE(program.bring_to_front(REACT_TIMEOUT_MS));
    hold_escape(program.process(), ESCAPE_HOLD_MS);
}

void click_close_button(ProgramUnderTest& program) {
    PostMessageW(program.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

void post_close(ProgramUnderTest& program) {
    PostMessageW(program.window(), WM_CLOSE, 0, 0);
}

class GlyphmendEnding : public GlyphmendProgram,
                        public ::testing::WithParamInterface<EndingCase> {};

TEST_P(GlyphmendEnding, EndsWithExitCodeZero) {
    start_with_clipboard(L"\u0391");
    ASSERT_TRUE(result_becomes(L"\u0410"));
    GetParam().end(program);
    EXPECT_EQ(0, program.wait_exit(EXIT_TIMEOUT_MS)) << "-1: still running";
}

INSTANTIATE_TEST_SUITE_P(Ways, GlyphmendEnding,
                         ::testing::Values(EndingCase{"Escape", press_escape},
                                           EndingCase{"CloseButton", click_close_button},
                                           EndingCase{"CloseMessage", post_close}),
                         [](const ::testing::TestParamInfo<EndingCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
