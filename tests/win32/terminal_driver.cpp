// Works the real varnoth-terminal.exe from outside, as a user would: real keys and clicks, the
// close box, the command line (styles and layout are shell_win32_tests' part). The program is
// VARNOTH_TERMINAL; VARNOTH_WORK holds "program dir\program file.txt", program-lines.txt (what an
// upload of it sends) and portN-received.bin, what the device on COMn received: COM3 answers
// every line with '+', COM4 none, COM8 streams without pause, COM11 goes away after one line
// and comes back recording as port 12 (tools/run-windows-tests.sh).
#include <gtest/gtest.h>

#include <windows.h>

#include <dlgs.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <tuple>

#include "shell/win32/main_window.h"

namespace {

// Typed by Type() as the arrow keys, which have no character.
constexpr char Up = '\x1e', Down = '\x1f', CtrlDown = '\x1d';

std::string WorkFile(const std::string& name) {
    std::ifstream file(std::getenv("VARNOTH_WORK") + ("\\" + name), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// What the device on COM`port` receives from now on (its record only grows).
auto Arrivals(int port) {
    const std::string name = "port" + std::to_string(port) + "-received.bin";
    return [name, mark = WorkFile(name).size()] { return WorkFile(name).substr(mark); };
}

// What `actual` gives once it gives `expected`. Conditions are waited for, never slept on: the
// deadline only bounds a failure.
template <class F> auto Await(F actual, const decltype(actual())& expected) {
    for (const ULONGLONG end = GetTickCount64() + 20000;
         actual() != expected && GetTickCount64() < end;) {
        Sleep(20);
    }
    return actual();
}

// The program, started without arguments for each test and closed at its end.
class TerminalTest : public testing::Test {
  protected:
    void SetUp() override { Start(""); }
    void TearDown() override { Close(); }

    // Starts the program with `rest` after its name, as a shortcut or Explorer would, and finds
    // its window by class and title (the run before has ended, so it is the only one) and the
    // two edit controls, told apart by their styles.
    void Start(const std::string& rest) {
        ASSERT_TRUE(std::getenv("VARNOTH_TERMINAL") && std::getenv("VARNOTH_WORK"))
            << "tools/run-windows-tests.sh names the program and the work folder";
        const std::string exe = std::getenv("VARNOTH_TERMINAL");
        std::string commandLine = "\"" + exe + "\" " + rest;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &process_));
        const auto shown = [&] {
            // Not the last run's panes: the new window may not have its own yet.
            output_ = input_ = nullptr;
            main_ = FindWindowA("Varnoth serial terminal", "Varnoth serial terminal");
            for (HWND child = nullptr;
                 main_ && (child = FindWindowExA(main_, child, "EDIT", nullptr));) {
                (GetWindowLongPtrA(child, GWL_STYLE) & ES_MULTILINE ? output_ : input_) = child;
            }
            return main_ && output_ && input_;
        };
        ASSERT_TRUE(Await(shown, true)) << "the program shows its window";
    }

    // As the close box does: the program ends with exit code 0.
    void Close() {
        PostMessageA(main_, WM_CLOSE, 0, 0);
        WaitForSingleObject(process_.hProcess, 20000);
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        EXPECT_EQ(code, 0u) << "closing the window ends the program with exit code 0";
        TerminateProcess(process_.hProcess, 0);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }

    // Empty if the window does not answer within 10 seconds.
    static std::string Text(HWND window) {
        std::string text(1 << 21, '\0');
        DWORD_PTR length = 0;
        SendMessageTimeoutA(window, WM_GETTEXT, text.size(), LPARAM(&text[0]), 0, 10000, &length);
        return text.substr(0, length);
    }

    // Where the focus is (input line or output pane), the input line and where its selection
    // starts, and what the quiet device got.
    using State = std::tuple<std::string, std::string, int, std::string>;
    State Now(const std::string& quiet) const {
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        GetGUIThreadInfo(process_.dwThreadId, &thread);
        DWORD_PTR selection = 0;
        SendMessageTimeoutA(input_, EM_GETSEL, 0, 0, 0, 10000, &selection);
        const HWND focus = thread.hwndFocus;
        const char* where = focus == input_ ? "input" : focus == output_ ? "pane" : "?";
        return {where, Text(input_), LOWORD(selection), quiet};
    }

    // Each character as the keys that type it on the current layout, with Shift and the given Ctrl
    // key held where it needs them: Ctrl + a letter types its control character, Ctrl + Enter LF.
    // Right-hand Ctrl is an extended key. Input goes to the foreground window, so the program is
    // made that first.
    void Type(const std::string& text, BYTE ctrl = VK_LCONTROL) const {
        Await([&] { return SetForegroundWindow(main_) && GetForegroundWindow() == main_; }, true);
        const auto press = [](BYTE key, DWORD up) {
            INPUT event{INPUT_KEYBOARD, {}};
            event.ki = {key, static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)),
                        up | (key == VK_RCONTROL ? KEYEVENTF_EXTENDEDKEY : 0), 0, 0};
            SendInput(key != 0, &event, sizeof event);
        };
        for (const char c : text) {
            // Ctrl + Enter types LF on Windows, but wine's X11 keyboard finds another key for it.
            const SHORT keys = c == '\n'       ? MAKEWORD(VK_RETURN, 2)
                               : c == Up       ? VK_UP
                               : c == Down     ? VK_DOWN
                               : c == CtrlDown ? MAKEWORD(VK_DOWN, 2)
                                               : VkKeyScanA(c);
            const BYTE shift = HIBYTE(keys) & 1 ? VK_LSHIFT : 0,
                       control = HIBYTE(keys) & 2 ? ctrl : 0, key = LOBYTE(keys);
            const BYTE downThenUp[] = {shift, control, key, key, control, shift};
            for (int i = 0; i < 6; ++i) {
                press(downThenUp[i], i < 3 ? 0 : KEYEVENTF_KEYUP);
            }
        }
    }

    PROCESS_INFORMATION process_{};
    HWND main_ = nullptr, output_ = nullptr, input_ = nullptr;
};

// Each row goes on where the one before left off, on the device that answers nothing, so that
// no answer can be taken for a line end. A key goes to where the focus is when it is queued, so
// a click is a row of its own: its check waits for the focus to move. A second click at the
// same spot would be a double click, which does not take the focus.
TEST_F(TerminalTest, KeysGoWhereTheUserMeansThem) {
    Type("open 4\r");
    const std::string full(255, 'w');
    const struct {
        const char* name;
        std::string typed; // "\r" is Enter, "\n" Ctrl + Enter, "\x01" Ctrl+A
        State expected;
        int click = 0; // first, into the output pane this many pixels down
        BYTE ctrl = VK_LCONTROL;
    } cases[] = {
        {"at start", "", {"input", "", 0, ""}},
        {"Left Ctrl + Enter sends the line without LF", "left\n", {"input", "", 0, "left"}},
        {"Right Ctrl + Enter adds LF", "right\n", {"input", "", 0, "right\n"}, 0, VK_RCONTROL},
        // Ctrl+A comes last, so once the selection starts at 0 every key has been handled.
        {"the input line takes 255 characters", full + "www\x01", {"input", full, 0, ""}},
        {"a full input line is sent whole", "\r", {"input", "", 0, full + "\n"}},
        {"a click puts the focus in the output pane", "", {"pane", "", 0, ""}, 20},
        {"a letter in the pane goes to the input line with the focus", "x", {"input", "x", 1, ""}},
        {"Ctrl+A selects the whole input line", "yz\x01q", {"input", "q", 1, ""}},
        {"so does a second click", "", {"pane", "q", 1, ""}, 100},
        {"Enter in the pane only moves the focus to the input line", "\r", {"input", "q", 1, ""}},
        {"the next Enter runs the line", "\r", {"input", "", 0, "q\n"}},
        {"Up brings back the lines entered, newest first",
         "dr" + std::string(3, Up),
         {"input", "right", 5, ""}},
        {"Down goes forward to the draft", std::string(3, Down), {"input", "dr", 2, ""}},
        {"Ctrl+Down is not history", {Up, CtrlDown}, {"input", "q", 1, ""}},
        {"neither a repeat nor an empty line is kept",
         "\r\r" + std::string(2, Up),
         {"input", full, 255, "q\n\n"}},
    };
    for (const auto& c : cases) {
        const auto quiet = Arrivals(4);
        if (c.click != 0) {
            RECT pane{};
            GetWindowRect(output_, &pane);
            SetCursorPos((pane.left + pane.right) / 2, pane.top + c.click);
            mouse_event(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
        }
        Type(c.typed, c.ctrl);
        EXPECT_EQ(Await([&] { return Now(quiet()); }, c.expected), c.expected) << c.name;
    }
}

// The program file is the rest of the command line: in quotation marks, as Explorer passes a
// path, or not, when detection finds the device.
TEST_F(TerminalTest, TheCommandLineNamesTheProgramFile) {
    const std::string path =
        std::getenv("VARNOTH_WORK") + std::string("\\program dir\\program file.txt");
    const std::string lines = WorkFile("program-lines.txt");
    const std::string cases[][3] = {{"\"" + path + "\"", "open 3", lines},
                                    {path, "open 0", "id\n" + lines}};
    for (const auto& [rest, open, sent] : cases) {
        Close();
        Start(rest);
        const auto answering = Arrivals(3);
        Type(open + "\rrp!\r");
        EXPECT_EQ(Await(answering, sent), sent) << rest;
    }
    // "Fast upload" in the pane's menu: the next "rp!" sends the same lines.
    PostMessageA(output_, WM_COMMAND, PaneMenuFastUpload, 0);
    const auto fast = Arrivals(3);
    Type("rp!\r");
    EXPECT_EQ(Await(fast, lines), lines);
}

// The title tells where the terminal stands: the port, how far "rp!" has come, and how it
// ended, here with the silent device making the upload give up. "Save as..." in the pane's menu
// writes the bytes the pane shows, or says why not in a message box.
TEST_F(TerminalTest, TheTitleFollowsTheUploadAndThePaneCanBeSaved) {
    const std::string work = std::getenv("VARNOTH_WORK");
    Close();
    Start("\"" + work + "\\program dir\\program file.txt\"");
    const auto title = [&] { return Text(main_); };
    const std::string name = " - Varnoth serial terminal";
    EXPECT_EQ(title(), "Varnoth serial terminal");
    Type("open 4\r");
    EXPECT_EQ(Await(title, "port 4" + name), "port 4" + name);
    Type("rp!\r");
    const std::string progress = "program file.txt: line 1 of 3" + name;
    EXPECT_EQ(Await(title, progress), progress);
    const std::string ended =
        "gave up at line 1 of 3: the device did not answer it (sent 5 times)" + name;
    EXPECT_EQ(Await(title, ended), ended);
    const std::string shown = Text(output_);
    ASSERT_NE(shown.find("connected to port 4"), std::string::npos);
    // The menu's command, then the file's name in the dialog.
    const auto save = [&](const std::string& path) {
        PostMessageA(output_, WM_COMMAND, PaneMenuSaveAs, 0);
        HWND dialog = nullptr;
        Await([&] { return (dialog = FindWindowA("#32770", "Save the pane as")) != nullptr; },
              true);
        SetDlgItemTextA(dialog, cmb13, path.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    };
    save(work + "\\pane.txt");
    EXPECT_EQ(Await([] { return WorkFile("pane.txt"); }, shown), shown);
    save(work + "\\missing\\pane.txt");
    const std::string expected = "The pane could not be saved to " + work + "\\missing\\pane.txt:";
    HWND box = nullptr;
    const auto said = [&] { // 0xffff: the message's static control
        char text[512] = "";
        GetDlgItemTextA(box = FindWindowA("#32770", "Varnoth serial terminal"), 0xffff, text, 512);
        return std::string(text).substr(0, expected.size());
    };
    EXPECT_EQ(Await(said, expected), expected);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// A device that never pauses for 50 ms must neither freeze the window nor hide its text until
// it stops.
TEST_F(TerminalTest, AStreamingDeviceLeavesTheWindowWorking) {
    Type("open 8\r");
    EXPECT_TRUE(Await([&] { return Text(output_).find("stream ") != std::string::npos; }, true))
        << "the pane shows the stream while it streams: " << Text(output_).substr(0, 80);
    const auto streaming = Arrivals(8);
    Type("hello\r");
    EXPECT_EQ(Await(streaming, "hello\n"), "hello\n");
}

// "Show times" and "Show bytes in hex" from the pane's menu: the answer to a typed line shows as
// a row of hex led by its time.
TEST_F(TerminalTest, TimesAndHexShowInThePane) {
    Type("open 3\r");
    PostMessageA(output_, WM_COMMAND, PaneMenuShowTimes, 0);
    PostMessageA(output_, WM_COMMAND, PaneMenuShowHex, 0);
    Type("x\r");
    const std::regex row("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d 2b +\\|\\+\\|\r\n$");
    EXPECT_TRUE(Await([&] { return std::regex_search(Text(output_), row); }, true)) << Text(output_);
}

// A device that goes away is said at once, and its port opened again once it is back.
TEST_F(TerminalTest, AVanishedDeviceIsSaidAndItsPortOpenedAgainWhenBack) {
    const auto shows = [&](const char* text) {
        return Await([&] { return Text(output_).find(text) != std::string::npos; }, true);
    };
    Type("open 11\rhello\r");
    EXPECT_TRUE(shows("+\r\nport 11 lost: the device went away\n")) << Text(output_);
    EXPECT_TRUE(shows("reconnected to port 11\n")) << Text(output_);
    const auto back = Arrivals(12);
    Type("again\r");
    EXPECT_EQ(Await(back, "again\n"), "again\n");
}

} // namespace
