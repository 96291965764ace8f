// Drives the Windows program from outside, as a user would: starts it with a command line,
// types with real key events, clicks, resizes and closes it, and reads back what it shows
// through the window texts and what the simulated devices received through their records.
//
// usage: varnoth-terminal-driver TERMINAL_EXE WORK_DIR
//   WORK_DIR holds "program dir\program file.txt" and what the devices received:
//   port3-received.bin (a device that answers '+' and identifies itself) and
//   port4-received.bin (a device that answers no line and sends its peculiar identification
//   reply, see tools/run-windows-tests.sh), and port8-received.bin (a device that streams
//   numbered lines without pause). Port 5 and ports 0 to 2 are missing. The records
//   are not called comN.*: Windows takes such a name for the COM device, whatever follows.
//
// Prints one line per check and closes with "driver: N passed, M failed, K skipped"; the exit code
// is the number of failures (capped), so 0 means all passed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* ClassName = "Varnoth serial terminal";
constexpr const char* Title = "Varnoth serial terminal";
// Conditions are waited for, never slept on: this is only how long before one counts as
// failed, generous so that a slow machine passes.
constexpr DWORD Deadline = 20000;
constexpr DWORD PollInterval = 20;
constexpr DWORD MessageTimeout = 10000;
// The device behind port 3 answers every line with '+'; the one behind port 4 answers none.
constexpr int AnsweringPort = 3;
constexpr int QuietPort = 4;
constexpr int MissingPort = 5;
// The device behind port 8 prints numbered lines without pause, as fast as 9600 baud goes.
constexpr int StreamingPort = 8;
// The port 4 device answers "id\n" with 'ab\ncd', XON, 'ef', XOFF, 'gh\rij' (set by
// tools/run-windows-tests.sh). The pane must show it with LF widened, XON and XOFF gone, and
// a line break after it.
const std::string QuietDeviceReplyShown = "ab\r\ncdefgh\rij\r\n";

int Passed = 0;
int Failed = 0;
int Skipped = 0;

// Control bytes made visible, and long texts cut so that a failure stays readable.
std::string Printable(const std::string& text) {
    constexpr std::size_t Shown = 160;
    std::string shown;
    for (const char c : text.substr(0, Shown)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            shown += hex;
        } else {
            shown += c;
        }
    }
    if (text.size() > Shown) {
        shown += "... (" + std::to_string(text.size()) + " characters)";
    }
    return shown;
}

void Report(bool ok, const std::string& name, const std::string& detail = "") {
    if (ok) {
        ++Passed;
        std::printf("ok      %s\n", name.c_str());
    } else {
        ++Failed;
        std::printf("FAILED  %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
}

void ReportEqual(const std::string& name, const std::string& actual, const std::string& expected) {
    Report(actual == expected, name,
           "got \"" + Printable(actual) + "\", expected \"" + Printable(expected) + "\"");
}

void ReportSkip(const std::string& name, const std::string& reason) {
    ++Skipped;
    std::printf("skipped %s: %s\n", name.c_str(), reason.c_str());
    std::fflush(stdout);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD limit = Deadline) {
    const ULONGLONG end = GetTickCount64() + limit;
    while (!condition()) {
        if (GetTickCount64() >= end) {
            return condition();
        }
        Sleep(PollInterval);
    }
    return true;
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// The program file is read as text: CR LF comes out as LF.
std::string LinesAsSent(const std::string& file) {
    std::string lines;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (!(file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')) {
            lines += file[i];
        }
    }
    return lines;
}

// A record file that only ever grows: what arrived since a given moment.
class DeviceRecord {
  public:
    explicit DeviceRecord(std::string path) : path_(std::move(path)) {}
    void Mark() { mark_ = ReadFileBytes(path_).size(); }
    std::string SinceMark() const {
        const std::string all = ReadFileBytes(path_);
        return all.size() > mark_ ? all.substr(mark_) : std::string();
    }
    // Waits until at least `count` bytes arrived since the mark, then returns what did.
    std::string AwaitSinceMark(std::size_t count) const {
        WaitUntil([&] { return SinceMark().size() >= count; });
        return SinceMark();
    }

  private:
    std::string path_;
    std::size_t mark_ = 0;
};

// ---- keyboard and mouse, as real input events ----

INPUT KeyEvent(WORD virtualKey, bool down, bool extended = false) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    return input;
}

void Send(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void AddKeyStroke(std::vector<INPUT>& inputs, WORD virtualKey) {
    inputs.push_back(KeyEvent(virtualKey, true));
    inputs.push_back(KeyEvent(virtualKey, false));
}

// Each character as the keys that type it on the current layout, Shift included.
std::vector<INPUT> TypingOf(const std::string& text) {
    std::vector<INPUT> inputs;
    for (const char c : text) {
        const SHORT scan = VkKeyScanA(c);
        const WORD virtualKey = LOBYTE(scan);
        const bool shift = (HIBYTE(scan) & 1) != 0;
        if (shift) {
            inputs.push_back(KeyEvent(VK_LSHIFT, true));
        }
        AddKeyStroke(inputs, virtualKey);
        if (shift) {
            inputs.push_back(KeyEvent(VK_LSHIFT, false));
        }
    }
    return inputs;
}

// A key pressed while a modifier is held. Right-hand modifiers are the extended keys.
void Chord(WORD modifier, WORD virtualKey) {
    const bool extended = modifier == VK_RCONTROL || modifier == VK_RMENU;
    Send({KeyEvent(modifier, true, extended), KeyEvent(virtualKey, true),
          KeyEvent(virtualKey, false), KeyEvent(modifier, false, extended)});
}

void ClickAt(POINT point) {
    // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = static_cast<LONG>((point.x * 65535LL) / (width - 1));
        input.mi.dy = static_cast<LONG>((point.y * 65535LL) / (height - 1));
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
}

// ---- the program under test ----

struct Layout {
    RECT client;     // the main window's client area
    RECT outputPane; // each pane's window rectangle, in client coordinates
    RECT inputLine;
};

std::string RectText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class Terminal {
  public:
    explicit Terminal(std::string exe) : exe_(std::move(exe)) {}
    ~Terminal() {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_.hProcess, 99);
            }
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Starts the program with `rest` after its name, as a shortcut or Explorer would, and
    // waits for its window.
    bool Start(const std::string& rest) {
        std::string commandLine = "\"" + exe_ + "\"";
        if (!rest.empty()) {
            commandLine += " " + rest;
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process_)) {
            return false;
        }
        WaitForInputIdle(process_.hProcess, Deadline);
        WaitUntil([&] { return FindOwnWindow(); });
        return main_ != nullptr && output_ != nullptr && input_ != nullptr;
    }

    HWND Main() const { return main_; }
    HWND Output() const { return output_; }
    HWND Input() const { return input_; }

    std::string Text(HWND window) const {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, MessageTimeout,
                                 &length)) {
            return "<no answer>";
        }
        std::string text(length + 1, '\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                            SMTO_NORMAL, MessageTimeout, &copied);
        text.resize(copied);
        return text;
    }
    std::string Pane() const { return Text(output_); }
    std::string Line() const { return Text(input_); }

    // The text the pane gained since `before`, once it has at least `count` more characters.
    std::string AwaitPaneGrowth(const std::string& before, std::size_t count) const {
        WaitUntil([&] { return Pane().size() >= before.size() + count; });
        const std::string now = Pane();
        if (now.compare(0, before.size(), before) != 0) {
            return "<pane changed before the new text: " + Printable(now) + ">";
        }
        return now.substr(before.size());
    }

    // The input line's selection, start and end.
    std::pair<int, int> Selection() const {
        DWORD_PTR selection = 0;
        SendMessageTimeoutA(input_, EM_GETSEL, 0, 0, SMTO_NORMAL, MessageTimeout, &selection);
        return {LOWORD(selection), HIWORD(selection)};
    }

    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(process_.dwThreadId, &info);
        return info.hwndFocus;
    }

    // Keys go to the foreground window; the program must be it before anything is typed.
    bool BringToFront() const {
        return WaitUntil([&] {
            if (GetForegroundWindow() != main_) {
                SetForegroundWindow(main_);
            }
            return GetForegroundWindow() == main_;
        });
    }
    void Type(const std::string& text) const {
        BringToFront();
        Send(TypingOf(text));
    }
    void Press(WORD virtualKey) const {
        BringToFront();
        std::vector<INPUT> inputs;
        AddKeyStroke(inputs, virtualKey);
        Send(inputs);
    }
    void PressEnter() const { Press(VK_RETURN); }
    // Types a line and presses Enter, then waits until the program has taken the line out
    // of the input line, so the next step starts after this one.
    bool EnterLine(const std::string& text) const {
        Type(text);
        WaitUntil([&] { return Line() == text; });
        PressEnter();
        return WaitUntil([&] { return Line().empty(); });
    }
    void Hold(WORD modifier, WORD virtualKey) const {
        BringToFront();
        Chord(modifier, virtualKey);
    }
    void ClickOutputPane() const {
        BringToFront();
        RECT r{};
        GetWindowRect(output_, &r);
        ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }

    Layout CurrentLayout() const {
        Layout layout{};
        GetClientRect(main_, &layout.client);
        layout.outputPane = ClientRectOf(output_);
        layout.inputLine = ClientRectOf(input_);
        return layout;
    }

    // Posts WM_CLOSE, as the close box does, and returns the exit code (-1: did not end).
    long Close() const {
        PostMessageA(main_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, Deadline) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(code);
    }

  private:
    // The main window of this process (another instance may still be closing), and its two
    // edit controls, told apart by their styles.
    bool FindOwnWindow() {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, ClassName, nullptr)) != nullptr) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == process_.dwProcessId) {
                break;
            }
        }
        if (window == nullptr) {
            return false;
        }
        HWND child = nullptr;
        while ((child = FindWindowExA(window, child, "EDIT", nullptr)) != nullptr) {
            const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
            ((style & ES_MULTILINE) != 0 ? output_ : input_) = child;
        }
        main_ = window;
        return output_ != nullptr && input_ != nullptr;
    }

    RECT ClientRectOf(HWND child) const {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    std::string exe_;
    PROCESS_INFORMATION process_{};
    HWND main_ = nullptr;
    HWND output_ = nullptr;
    HWND input_ = nullptr;
};

// ---- the checks ----

struct Setup {
    std::string terminal;
    std::string programPath; // a path with blanks
    std::string program;     // the lines it sends: its contents with CR LF read as LF
    DeviceRecord answering;  // port 3
    DeviceRecord quiet;      // port 4
    DeviceRecord streaming;  // port 8
};

std::string PortCommand(int number) {
    return "open " + std::to_string(number);
}

void CheckLayout(const Terminal& terminal, const std::string& when) {
    const Layout layout = terminal.CurrentLayout();
    const LONG width = layout.client.right;
    const LONG height = layout.client.bottom;
    const RECT output{8, 0, width, height - 24};
    const RECT input{8, height - 24, width, height};
    Report(SameRect(layout.outputPane, output) && SameRect(layout.inputLine, input),
           "the output pane fills the client area over a 24-pixel input line, 8 pixels in, " + when,
           "client " + RectText(layout.client) + ", output pane " + RectText(layout.outputPane) +
               ", input line " + RectText(layout.inputLine));
}

// LoadIconA finds the icon by the name "Icon32"; a resource under another name gives none.
void CheckIconResource(const std::string& exe) {
    const HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    Report(image != nullptr && FindResourceA(image, "Icon32", RT_GROUP_ICON) != nullptr,
           "the program carries an icon resource named Icon32");
    if (image != nullptr) {
        FreeLibrary(image);
    }
}

void CheckWindows(const Terminal& terminal) {
    char text[256] = {};
    GetWindowTextA(terminal.Main(), text, sizeof text);
    char className[256] = {};
    GetClassNameA(terminal.Main(), className, sizeof className);
    Report(std::string(text) == Title && std::string(className) == ClassName,
           "the main window has the class name and the title",
           "class \"" + std::string(className) + "\", title \"" + text + "\"");

    const ULONG_PTR classStyle = GetClassLongPtrA(terminal.Main(), GCL_STYLE);
    Report(classStyle == (CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS), "the class style is 11",
           "got " + std::to_string(classStyle));
    SetLastError(0);
    const ULONG_PTR icon = GetClassLongPtrA(terminal.Main(), GCLP_HICON);
    const std::string iconCheck = "the class has the icon the program carries";
    if (icon == 0 && GetLastError() == ERROR_INVALID_HANDLE && RunningUnderWine()) {
        // shell_win32_tests checks the icon in the program's own process instead.
        ReportSkip(iconCheck, "wine gives no class icon of another process (Windows does)");
    } else {
        Report(icon != 0, iconCheck);
    }

    const auto style = [](HWND window) {
        return static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    };
    const DWORD mainStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    const DWORD outputStyle =
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN;
    const DWORD inputStyle = WS_CHILD | WS_VISIBLE | WS_DLGFRAME | ES_AUTOHSCROLL;
    Report((style(terminal.Main()) & mainStyle) == mainStyle &&
               (style(terminal.Output()) & outputStyle) == outputStyle &&
               (style(terminal.Input()) & inputStyle) == inputStyle &&
               (style(terminal.Input()) & ES_MULTILINE) == 0 &&
               GetParent(terminal.Output()) == terminal.Main() &&
               GetParent(terminal.Input()) == terminal.Main(),
           "the main window and its two edit controls have their styles");

    RECT outer{};
    GetWindowRect(terminal.Main(), &outer);
    Report(outer.right - outer.left == 640 && outer.bottom - outer.top == 512,
           "the main window is 640 by 512 pixels, frame included", RectText(outer));
    CheckLayout(terminal, "at start");
    Report(terminal.Focus() == terminal.Input(), "the input line has the focus at start");
    ReportEqual("both panes start empty", terminal.Pane() + terminal.Line(), "");
}

void CheckResizing(const Terminal& terminal) {
    const SIZE sizes[] = {{500, 331}, {900, 700}, {640, 512}};
    for (const SIZE& size : sizes) {
        SetWindowPos(terminal.Main(), nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        const std::string when =
            "after resizing to " + std::to_string(size.cx) + " by " + std::to_string(size.cy);
        // The layout follows on WM_SIZE in the program's own thread.
        WaitUntil([&] {
            const Layout layout = terminal.CurrentLayout();
            return layout.inputLine.bottom == layout.client.bottom &&
                   layout.outputPane.right == layout.client.right;
        });
        CheckLayout(terminal, when);
    }
}

void CheckOpen(const Terminal& terminal) {
    std::string before = terminal.Pane();
    terminal.EnterLine("open");
    const std::string usage = "use: open n to connect\n";
    ReportEqual("\"open\" alone shows how to use it",
                terminal.AwaitPaneGrowth(before, usage.size()), usage);

    before = terminal.Pane();
    terminal.EnterLine(PortCommand(MissingPort));
    const std::string failed = "failed to connect to port " + std::to_string(MissingPort) + "\n";
    ReportEqual("\"open n\" to a missing port says it failed",
                terminal.AwaitPaneGrowth(before, failed.size()), failed);

    before = terminal.Pane();
    terminal.EnterLine(PortCommand(AnsweringPort));
    const std::string connected = "connected to port " + std::to_string(AnsweringPort) + "\n";
    ReportEqual("\"open n\" to a linked port says it connected",
                terminal.AwaitPaneGrowth(before, connected.size()), connected);
}

void CheckTypedLines(const Terminal& terminal, Setup& setup) {
    setup.answering.Mark();
    std::string before = terminal.Pane();
    terminal.Type("hello device");
    WaitUntil([&] { return terminal.Line() == "hello device"; });
    terminal.PressEnter();
    ReportEqual("a typed line reaches the device followed by LF",
                setup.answering.AwaitSinceMark(13), "hello device\n");
    Report(WaitUntil([&] { return terminal.Line().empty(); }),
           "after Enter the input line is empty", "it holds \"" + terminal.Line() + "\"");
    ReportEqual("the device's answer shows, followed by a line break",
                terminal.AwaitPaneGrowth(before, 3), "+\r\n");

    // The rest goes to the device that answers nothing, so that no answer can be taken for
    // a line end.
    terminal.EnterLine(PortCommand(QuietPort));
    setup.quiet.Mark();
    terminal.Type("left");
    WaitUntil([&] { return terminal.Line() == "left"; });
    terminal.Hold(VK_LCONTROL, VK_RETURN);
    WaitUntil([&] { return terminal.Line().empty(); });
    terminal.EnterLine("next");
    ReportEqual("Left Ctrl + Enter sends the line without LF", setup.quiet.AwaitSinceMark(9),
                "leftnext\n");

    setup.quiet.Mark();
    terminal.Type("right");
    WaitUntil([&] { return terminal.Line() == "right"; });
    terminal.Hold(VK_RCONTROL, VK_RETURN);
    ReportEqual("Right Ctrl + Enter sends the line with LF", setup.quiet.AwaitSinceMark(6),
                "right\n");

    // A held key repeats its key-down; each repeat finds the line already emptied.
    setup.quiet.Mark();
    terminal.Type("held");
    WaitUntil([&] { return terminal.Line() == "held"; });
    terminal.BringToFront();
    Send({KeyEvent(VK_RETURN, true), KeyEvent(VK_RETURN, true), KeyEvent(VK_RETURN, true),
          KeyEvent(VK_RETURN, false)});
    ReportEqual("holding Enter sends the line once, then a lone LF for each repeat",
                setup.quiet.AwaitSinceMark(7), "held\n\n\n");

    // The line is cut where the control stops taking characters, so nothing typed is lost
    // without the user seeing it. Home comes after the 300 keys, so once the caret is back
    // at the start every key has been handled.
    setup.quiet.Mark();
    terminal.Type(std::string(300, 'w'));
    terminal.Press(VK_HOME);
    WaitUntil([&] { return !terminal.Line().empty() && terminal.Selection().first == 0; });
    ReportEqual("the input line takes no more than 255 characters", terminal.Line(),
                std::string(255, 'w'));
    terminal.PressEnter();
    ReportEqual("a full input line is sent whole", setup.quiet.AwaitSinceMark(256),
                std::string(255, 'w') + "\n");
}

void CheckReceivedData(const Terminal& terminal) {
    terminal.EnterLine("clear");
    Report(WaitUntil([&] { return terminal.Pane().empty(); }), "\"clear\" empties the pane",
           "it holds \"" + Printable(terminal.Pane()) + "\"");
    terminal.EnterLine("id");
    ReportEqual("received data shows with LF as CR LF, without XON and XOFF, and a line break "
                "after the chunk",
                terminal.AwaitPaneGrowth("", QuietDeviceReplyShown.size()), QuietDeviceReplyShown);
}

// The pane shows each '+' the device answers; the last, which ends the upload, ends a line.
void CheckUpload(const Terminal& terminal, DeviceRecord& record, const std::string& program,
                 const std::string& name) {
    const std::size_t lines =
        static_cast<std::size_t>(std::count(program.begin(), program.end(), '\n'));
    record.Mark();
    const std::string before = terminal.Pane();
    terminal.EnterLine("rp!");
    ReportEqual(name + ": \"rp!\" sends the program file line by line",
                record.AwaitSinceMark(program.size()), program);
    ReportEqual(name + ": each line is answered, and the end of the upload ends a line",
                terminal.AwaitPaneGrowth(before, lines + 2), std::string(lines, '+') + "\r\n");
}

void CheckSecondOpenOfAPortInUse(const Setup&) {
    const std::string name = "\\\\.\\COM" + std::to_string(AnsweringPort);
    const HANDLE second = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool refused = second == INVALID_HANDLE_VALUE;
    if (!refused) {
        CloseHandle(second);
    }
    const std::string check = "a port the program holds open cannot be opened a second time";
    if (!refused && RunningUnderWine()) {
        ReportSkip(check, "wine does not refuse a second open of a COM port (Windows does)");
        return;
    }
    Report(refused, check);
}

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) {
        return text;
    }
    const HANDLE data = GetClipboardData(CF_TEXT);
    const char* locked = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
    if (locked != nullptr) {
        text = locked;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void EmptyTheClipboard() {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

void CheckKeyRouting(const Terminal& terminal) {
    terminal.ClickOutputPane();
    Report(WaitUntil([&] { return terminal.Focus() == terminal.Output(); }),
           "a click puts the focus into the output pane");

    EmptyTheClipboard();
    const std::string shown = terminal.Pane();
    SendMessageTimeoutA(terminal.Output(), EM_SETSEL, 0, -1, SMTO_NORMAL, MessageTimeout, nullptr);
    terminal.Hold(VK_LCONTROL, 'C');
    Report(WaitUntil([&] { return ClipboardText() == shown; }) &&
               terminal.Focus() == terminal.Output() && terminal.Line().empty(),
           "Ctrl+C in the output pane copies its selection and leaves the focus there",
           "clipboard \"" + Printable(ClipboardText()) + "\"");

    terminal.Type("x");
    Report(
        WaitUntil([&] { return terminal.Line() == "x" && terminal.Focus() == terminal.Input(); }),
        "a letter typed in the output pane lands in the input line, which takes the focus",
        "input line \"" + terminal.Line() + "\"");

    terminal.Type("yz");
    WaitUntil([&] { return terminal.Line() == "xyz"; });
    terminal.Hold(VK_LCONTROL, 'A');
    const auto selectedAll = [&] { return terminal.Selection() == std::make_pair(0, 3); };
    Report(WaitUntil(selectedAll), "Ctrl+A selects the whole input line",
           "selection " + std::to_string(terminal.Selection().first) + " to " +
               std::to_string(terminal.Selection().second));
    terminal.Type("q");
    Report(WaitUntil([&] { return terminal.Line() == "q"; }),
           "typing over the selection replaces the whole line",
           "input line \"" + terminal.Line() + "\"");
    terminal.EnterLine("clear");
}

void CheckEnterInTheOutputPane(const Terminal& terminal, DeviceRecord& record) {
    terminal.Type("held");
    WaitUntil([&] { return terminal.Line() == "held"; });
    terminal.ClickOutputPane();
    WaitUntil([&] { return terminal.Focus() == terminal.Output(); });
    record.Mark();
    terminal.PressEnter();
    Report(WaitUntil([&] { return terminal.Focus() == terminal.Input(); }) &&
               terminal.Line() == "held",
           "Enter in the output pane moves the focus to the input line and runs nothing",
           "input line \"" + terminal.Line() + "\"");
    terminal.PressEnter();
    ReportEqual("the next Enter runs the line", record.AwaitSinceMark(5), "held\n");
}

void CheckClose(const Terminal& terminal, const std::string& name) {
    const long code = terminal.Close();
    Report(code == 0, name + ": closing the window ends the program with exit code 0",
           "exit code " + std::to_string(code));
}

// Started the way Explorer starts a program for a file: the path in quotation marks.
void RunWithQuotedPath(Setup& setup) {
    Terminal terminal(setup.terminal);
    if (!terminal.Start("\"" + setup.programPath + "\"")) {
        Report(false, "the program starts and shows its window");
        return;
    }
    CheckIconResource(setup.terminal);
    CheckWindows(terminal);
    CheckResizing(terminal);
    CheckOpen(terminal);
    CheckUpload(terminal, setup.answering, setup.program, "quoted path with blanks");
    CheckSecondOpenOfAPortInUse(setup);
    CheckTypedLines(terminal, setup);
    CheckReceivedData(terminal);
    CheckKeyRouting(terminal);
    CheckEnterInTheOutputPane(terminal, setup.quiet);
    CheckClose(terminal, "started with a quoted path");
}

// A device that never pauses for 50 ms must neither freeze the window nor hide its text until
// it stops: the pane grows while it talks, and a typed line still goes out.
void CheckStreamingDevice(const Terminal& terminal, DeviceRecord& record) {
    const std::string before = terminal.Pane();
    terminal.EnterLine(PortCommand(StreamingPort));
    const std::string first = terminal.AwaitPaneGrowth(before, 500);
    const std::string later = terminal.AwaitPaneGrowth(before + first, 500);
    Report(first.find("stream ") != std::string::npos && later.find("stream ") != std::string::npos,
           "a device streaming without pause shows its text while it streams",
           "first " + Printable(first) + ", then " + Printable(later));
    record.Mark();
    Report(terminal.EnterLine("hello"), "the window takes a typed line during a stream");
    ReportEqual("a line typed during a stream reaches the device", record.AwaitSinceMark(6),
                "hello\n");
}

void RunWithoutProgram(Setup& setup) {
    Terminal terminal(setup.terminal);
    if (!terminal.Start("")) {
        Report(false, "the program starts without arguments");
        return;
    }
    terminal.EnterLine("rp!");
    const std::string message = "no program to upload found!!!\n";
    ReportEqual("without a program file \"rp!\" says there is none",
                terminal.AwaitPaneGrowth("", message.size()), message);
    CheckStreamingDevice(terminal, setup.streaming);
    CheckClose(terminal, "started without arguments");
}

// An unquoted path with blanks is the whole rest of the command line; detection finds the
// device that identifies itself.
void RunWithUnquotedPath(Setup& setup) {
    Terminal terminal(setup.terminal);
    if (!terminal.Start(setup.programPath)) {
        Report(false, "the program starts with an unquoted path");
        return;
    }
    setup.answering.Mark();
    // The line is emptied once detection is over.
    terminal.EnterLine("open 0");
    ReportEqual("\"open 0\" asks the device on the linked port to identify itself",
                setup.answering.AwaitSinceMark(3), "id\n");
    ReportEqual("detection that finds the device prints nothing", terminal.Pane(), "");
    CheckUpload(terminal, setup.answering, setup.program, "unquoted path with blanks");
    CheckClose(terminal, "started with an unquoted path");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnoth-terminal-driver TERMINAL_EXE WORK_DIR\n");
        return 2;
    }
    const std::string work = argv[2];
    Setup setup{argv[1],
                work + "\\program dir\\program file.txt",
                "",
                DeviceRecord(work + "\\port3-received.bin"),
                DeviceRecord(work + "\\port4-received.bin"),
                DeviceRecord(work + "\\port8-received.bin")};
    setup.program = LinesAsSent(ReadFileBytes(setup.programPath));
    if (setup.program.empty()) {
        std::fprintf(stderr, "no program file at %s\n", setup.programPath.c_str());
        return 2;
    }

    RunWithQuotedPath(setup);
    RunWithoutProgram(setup);
    RunWithUnquotedPath(setup);

    std::printf("driver: %d passed, %d failed, %d skipped\n", Passed, Failed, Skipped);
    return Failed > 100 ? 100 : Failed;
}
