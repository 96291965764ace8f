// The Win32 shell's parts in the test's own process: its windows, the core's pane operations
// over their real edit controls, the command line's path. What a user does is the driver's part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/pane_primitives.h"
#include "core/terminal_session.h"
#include "shell/win32/main_window.h"

// After windows.h, which main_window.h brings.
#include <commctrl.h>

namespace {

// The windows are made once, as the program makes them.
class Win32WindowTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(RegisterMainClass(GetModuleHandleA(nullptr)));
        CreateMainWindows(GetModuleHandleA(nullptr));
    }
};

TEST_F(Win32WindowTest, TheClassHasItsIconAndThePanesFollowTheSize) {
    // The test program carries the program's resource script, so the class finds its icon.
    WNDCLASSA registered{};
    GetClassInfoA(GetModuleHandleA(nullptr), MainWindowClassName, &registered);
    EXPECT_NE(registered.hIcon, nullptr);
    const HWND main = MainWindowHandle();
    // What a user meets of the styles: the pane takes no typing.
    EXPECT_NE(GetWindowLongPtrA(OutputPaneHandle(), GWL_STYLE) & ES_READONLY, 0);
    // 640 by 512 with the frame at start; at every size the panes 8 pixels in, the input line
    // 24 high at the bottom, the output pane above it.
    for (const SIZE size : {SIZE{640, 512}, SIZE{500, 331}, SIZE{900, 700}}) {
        if (size.cx != 640) {
            SetWindowPos(main, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        }
        RECT r{};
        GetWindowRect(main, &r);
        std::vector<LONG> layout{r.right - r.left, r.bottom - r.top};
        for (const HWND pane : {OutputPaneHandle(), InputLineHandle()}) {
            GetWindowRect(pane, &r);
            MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
            layout.insert(layout.end(), {r.left, r.top, r.right, r.bottom});
        }
        GetClientRect(main, &r);
        const LONG w = r.right, h = r.bottom;
        EXPECT_EQ(layout, std::vector<LONG>({size.cx, size.cy, 8, 0, w, h - 24, 8, h - 24, w, h}))
            << "the outer size, then the output pane and the input line in the client area";
    }
}

// The empty input line says what to type: the version 6 edit control of the program's manifest
// shows it.
TEST_F(Win32WindowTest, TheEmptyInputLineSaysWhatToType) {
    wchar_t cue[128] = L"";
    ASSERT_TRUE(SendMessageW(InputLineHandle(), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue),
                             sizeof cue / sizeof cue[0]));
    EXPECT_STREQ(cue, L"type open 1 to connect to port 1, or open 0 to find the device");
}

// The control must hold the pane's whole limit: a lower one would cut text the core believes
// it has shown. Past the limit the oldest whole lines make room, and the new text goes at the
// end, wherever erasing them left the caret.
TEST_F(Win32WindowTest, AFullPaneGivesUpItsOldestWholeLines) {
    std::string lines; // numbered, 100 characters with the CR LF
    for (int line = 1000000; lines.size() < OutputPaneLimit; ++line) {
        lines += std::to_string(line) + std::string(91, '.') + "\r\n";
    }
    AppendOutput(lines.c_str());
    ASSERT_EQ(PaneLength(), lines.size()) << "the control holds the pane's whole limit";
    AppendOutput("newest");
    const std::size_t kept = PaneLength() - 6;
    ASSERT_LE(kept, lines.size());
    EXPECT_GE(kept, OutputPaneLimit - OutputPaneTrimBlock - OutputPaneLineSearch);
    EXPECT_EQ(lines[lines.size() - kept - 1], '\n') << "the cut falls at a line end";
    std::string pane(OutputPaneLimit + 1, '\0');
    pane.resize(GetWindowTextA(OutputPaneHandle(), &pane[0], static_cast<int>(pane.size())));
    EXPECT_TRUE(pane == lines.substr(lines.size() - kept) + "newest") << "the newest stays";
}

// Windows puts a path with blanks in quotation marks, and a path cannot contain them: one pair
// around the whole rest goes and does not count against the limit; other marks stay. (The
// driver starts the program with a quoted and an unquoted path.)
TEST(UploadPathTest, OnePairOfQuotationMarksAroundTheWholeRestGoes) {
    const std::string longest(UploadPathCapacity - 1, 'p');
    const std::string cases[][2] = {{"\"" + longest + "\"", longest},
                                    {"\"" + longest + "p\"", ""},
                                    {"\"a\" \"b\"", "\"a\" \"b\""},
                                    {"\"a\" ", "\"a\" "},
                                    {"\"", "\""}};
    for (const auto& [rest, path] : cases) {
        TerminalSession = TerminalSessionRecord{};
        TakeUploadPath(rest.c_str());
        EXPECT_EQ(TerminalSession.UploadPath, path) << "the command-line rest " << rest;
    }
}

} // namespace
