// The Win32 shell's panes, built by CreateMainWindows in the test's own process: the core's
// pane operations over the real edit controls, with their real limits, and the command-line
// rest taken as the program file's path.
#include <gtest/gtest.h>

#include <string>

#include "core/pane.h"
#include "core/terminal_session.h"
#include "shell/win32/main_window.h"

namespace {

std::string WindowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]))));
    return text;
}

// Numbered lines of 100 characters, CR LF included, cut to exactly `length` characters.
std::string NumberedLines(std::size_t length) {
    std::string text;
    for (std::size_t line = 0; text.size() < length; ++line) {
        const std::string number = std::to_string(line);
        text += number + std::string(98 - number.size(), '.') + "\r\n";
    }
    text.resize(length);
    return text;
}

// The windows are made once, as the program makes them; each test starts from empty panes.
class Win32PaneTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        TerminalSession = TerminalSessionRecord{};
        ASSERT_TRUE(RegisterMainClass(GetModuleHandleA(nullptr)));
        CreateMainWindows(GetModuleHandleA(nullptr));
    }

    static void TearDownTestSuite() {
        DestroyWindow(MainWindowHandle());
        // Both window procedures answer WM_DESTROY with WM_QUIT; drop it with the rest.
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    void SetUp() override {
        ASSERT_NE(OutputPaneHandle(), nullptr);
        ASSERT_NE(InputLineHandle(), nullptr);
        ClearOutput();
        ClearInputLine();
    }

    std::string Pane() const { return WindowText(OutputPaneHandle()); }
    std::string Line() const { return WindowText(InputLineHandle()); }
};

// The test program carries the program's resource script, so the class finds its icon.
TEST_F(Win32PaneTest, TheClassHasTheProgramsIcon) {
    WNDCLASSA registered{};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), MainWindowClassName, &registered));
    EXPECT_NE(registered.hIcon, nullptr);
    EXPECT_EQ(registered.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
}

TEST_F(Win32PaneTest, AppendsLandAtTheEndWhateverTheUserSelected) {
    AppendOutput("connected to port 3\n");
    SendMessageA(OutputPaneHandle(), EM_SETSEL, 0, 5);
    AppendOutput("+\r\n");
    EXPECT_EQ(Pane(), "connected to port 3\n+\r\n");
    EXPECT_EQ(PaneLength(), Pane().size());
}

TEST_F(Win32PaneTest, CopyAndEraseWorkOnTheRightStretch) {
    AppendOutput("0123456789");
    char buffer[8] = {};
    EXPECT_EQ(PaneCopy(3, buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "3456");
    EXPECT_EQ(PaneCopy(8, buffer, 4), 2u) << "a copy stops at the end of the text";
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(PaneCopy(10, buffer, 4), 0u);
    PaneErase(4);
    EXPECT_EQ(Pane(), "456789");
    ClearOutput();
    EXPECT_EQ(Pane(), "");
}

// The control itself must take the pane's whole limit: a lower one would cut text the core
// believes it has shown.
TEST_F(Win32PaneTest, ThePaneHoldsItsFullLimit) {
    AppendOutput(NumberedLines(OutputPaneLimit - 3).c_str());
    AppendOutput("abc");
    const std::string pane = Pane();
    ASSERT_EQ(pane.size(), OutputPaneLimit);
    EXPECT_EQ(pane.substr(0, 5), "0....");
    EXPECT_EQ(pane.substr(OutputPaneLimit - 3), "abc");
}

TEST_F(Win32PaneTest, AFullPaneGivesUpItsOldestWholeLines) {
    const std::string before = NumberedLines(OutputPaneLimit);
    AppendOutput(before.c_str());
    AppendOutput("newest");
    const std::string after = Pane();
    ASSERT_LE(after.size(), OutputPaneLimit);
    ASSERT_GE(after.size(), OutputPaneLimit - OutputPaneTrimBlock - OutputPaneLineSearch);
    EXPECT_EQ(after.substr(after.size() - 6), "newest");
    const std::string kept = after.substr(0, after.size() - 6);
    EXPECT_EQ(before.substr(before.size() - kept.size()), kept) << "the newest old text stays";
    EXPECT_EQ(before.substr(before.size() - kept.size() - 2, 2), "\r\n") << "cut at a line end";
}

TEST_F(Win32PaneTest, AnAppendLargerThanThePaneKeepsItsNewestPart) {
    AppendOutput("old text\r\n");
    // In lines: one line of a million characters takes the edit control minutes to wrap.
    std::string huge = NumberedLines(OutputPaneLimit + 10);
    huge.replace(huge.size() - 3, 3, "end");
    AppendOutput(huge.c_str());
    const std::string pane = Pane();
    ASSERT_EQ(pane.size(), OutputPaneLimit);
    EXPECT_EQ(pane, huge.substr(10));
}

TEST_F(Win32PaneTest, TheInputLineIsReadAndEmptied) {
    SendMessageA(InputLineHandle(), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>("hello device"));
    char line[InputLineCapacity];
    ReadInputLine(line, sizeof line);
    EXPECT_STREQ(line, "hello device");
    ClearInputLine();
    EXPECT_EQ(Line(), "");
}

// Pasting is held to the same limit as typing, so all that the line shows is read and sent.
TEST_F(Win32PaneTest, TheInputLineTakesOnlyWhatIsRead) {
    const std::string pasted(300, 'p');
    SendMessageA(InputLineHandle(), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(pasted.c_str()));
    EXPECT_EQ(Line(), std::string(InputLineCapacity - 1, 'p'));
    char line[InputLineCapacity];
    ReadInputLine(line, sizeof line);
    EXPECT_EQ(std::string(line), Line());
}

// ---- the command-line rest as the program file's path ----

std::string PathTakenFrom(const std::string& rest) {
    TerminalSession = TerminalSessionRecord{};
    TakeUploadPath(rest.c_str());
    return TerminalSession.UploadPath;
}

TEST(UploadPathTest, OnePairOfQuotationMarksAroundTheWholeRestGoes) {
    EXPECT_EQ(PathTakenFrom("\"C:\\My Programs\\blink.txt\""), "C:\\My Programs\\blink.txt");
    EXPECT_EQ(PathTakenFrom("\"blink.txt\""), "blink.txt");
    EXPECT_EQ(PathTakenFrom("\"\""), "");
}

TEST(UploadPathTest, EverythingElseIsTakenAsItStands) {
    EXPECT_EQ(PathTakenFrom("C:\\My Programs\\blink.txt"), "C:\\My Programs\\blink.txt");
    EXPECT_EQ(PathTakenFrom(""), "");
    EXPECT_EQ(PathTakenFrom("\""), "\"");
    EXPECT_EQ(PathTakenFrom("\"a b.txt\" "), "\"a b.txt\" ") << "the marks do not enclose it all";
    EXPECT_EQ(PathTakenFrom("\"a\" \"b\""), "\"a\" \"b\"") << "two pairs, not one";
    EXPECT_EQ(PathTakenFrom("\"unclosed.txt"), "\"unclosed.txt");
}

TEST(UploadPathTest, TheQuotationMarksDoNotCountAgainstTheLimit) {
    const std::string longest(UploadPathCapacity - 1, 'p');
    EXPECT_EQ(PathTakenFrom("\"" + longest + "\""), longest);
    EXPECT_EQ(PathTakenFrom("\"" + longest + "p\""), "") << "a path that does not fit is refused";
    EXPECT_EQ(PathTakenFrom(longest + "p"), "");
}

} // namespace
