// The text console on a screen: libedit edits the input line, and the loop that waits for its
// keys (GetKey, libedit's character reader) also runs the ticks and follows the terminal's size
// and the signals, so that the device's text keeps coming while a line is being typed.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include <histedit.h>

#include "core/input_line_commands.h"
#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/port_connection.h"
#include "shell/console/console_parts.h"
#include "shell/exit_signals_posix.h"
#include "shell/input_history.h"
#include "shell/window_state.h"

namespace {

// The keys of the console's own, as the terminal sends them.
constexpr wchar_t CtrlC = 0x03;
// libedit shows a control character in the line as ^X, and one it cannot print as \U+XXXX
// (\U+XXXXX beyond the first plane); the line's rows are counted as it draws them.
constexpr int ControlCells = 2;
constexpr int UnprintableCells = 7;
constexpr int TabCells = 8;
// Keys waiting when a tick is due are taken first, up to this many bytes: a paste goes in at
// once, yet a flood of keys cannot hold the device's text back.
constexpr int KeysBeforeTick = 512;

EditLine* Editor = nullptr;
InputHistory History;
TickClock Ticks;
WindowState State;
termios UserModes;
// The modes libedit edits in, held between lines too (EL_PREP_TERM).
termios EditModes;
bool HaveEditModes = false;
// A line is being edited: between lines, libedit would draw the line it returned.
bool Editing = false;
// The input line's rows as the screen is laid out for them.
int LaidOutRows = 1;
bool SendWithoutLineFeed = false;
bool QuitAsked = false;
// The key before the one being acted on, and that one: a second Ctrl+C in a row quits.
wchar_t PreviousKey = 0;
wchar_t LastKey = 0;
std::mbstate_t KeyState{};
int KeysSinceTick = 0;
// What the window's empty input line says, and whether the console's shows it now.
char Placeholder[PlaceholderCapacity];
bool PlaceholderShown = false;

// SIGWINCH, SIGTSTP and SIGCONT raise these and wake the loop through the pipe.
volatile std::sig_atomic_t Resized = 0;
volatile std::sig_atomic_t SuspendAsked = 0;
volatile std::sig_atomic_t Continued = 0;
int WakeUpPipe[2] = {-1, -1};

void OnScreenSignal(int number) {
    const int savedErrno = errno;
    if (number == SIGWINCH) {
        Resized = 1;
    } else if (number == SIGTSTP) {
        SuspendAsked = 1;
    } else {
        Continued = 1;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(WakeUpPipe[1], &byte, 1);
    errno = savedErrno;
}

bool CatchScreenSignals() {
    if (pipe(WakeUpPipe) != 0) {
        return false;
    }
    for (const int end : WakeUpPipe) {
        // Non-blocking: a handler must never wait on a full pipe.
        if (fcntl(end, F_SETFL, O_NONBLOCK) != 0 || fcntl(end, F_SETFD, FD_CLOEXEC) != 0) {
            return false;
        }
    }
    struct sigaction action {};
    action.sa_handler = OnScreenSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGWINCH, SIGTSTP, SIGCONT}) {
        if (sigaction(number, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

// A terminal that takes no modes has gone away; its SIGHUP ends the program.
void SetModes(const termios& modes) {
    [[maybe_unused]] const int ignored = tcsetattr(STDIN_FILENO, TCSADRAIN, &modes);
}

// After a second exit signal, which ends the program at once.
void PutTerminalBack() {
    LeaveScreenFromSignal();
    SetModes(UserModes);
}

std::string Multibyte(const wchar_t* begin, const wchar_t* end) {
    std::string text;
    for (const wchar_t* at = begin; at < end; ++at) {
        char bytes[MB_LEN_MAX];
        std::mbstate_t state{};
        const std::size_t count = std::wcrtomb(bytes, *at, &state);
        if (count != static_cast<std::size_t>(-1)) {
            text.append(bytes, count);
        }
    }
    return text;
}

// The rows libedit draws the line on, `columns` wide: a character that does not fit in what is
// left of a row starts the next, and a row filled to its end puts the cursor on a row more.
int RowsOfLine(const wchar_t* begin, const wchar_t* end, int columns) {
    int rows = 1;
    int column = 0;
    const auto put = [&](int width) {
        if (column + width > columns) {
            ++rows;
            column = 0;
        }
        column += width;
        if (column >= columns) {
            ++rows;
            column = 0;
        }
    };
    for (const wchar_t* at = begin; at < end; ++at) {
        const wchar_t character = *at;
        if (character == '\t') {
            do {
                put(1);
            } while (column % TabCells != 0);
        } else if (character < 0x20 || character == 0x7f) {
            put(1);
            put(ControlCells - 1);
        } else if (!std::iswprint(static_cast<wint_t>(character))) {
            for (int cell = 0; cell < UnprintableCells + (character > 0xffff ? 1 : 0); ++cell) {
                put(1);
            }
        } else {
            put(std::max(1, wcwidth(character)));
        }
    }
    return rows;
}

int RowsOfLine() {
    const LineInfoW* line = el_wline(Editor);
    return RowsOfLine(line->buffer, line->lastchar, ScreenColumns());
}

void ReplaceLine(const char* text) {
    const LineInfoW* line = el_wline(Editor);
    el_cursor(Editor, static_cast<int>(line->lastchar - line->cursor));
    el_wdeletestr(Editor, static_cast<int>(line->lastchar - line->buffer));
    std::wstring wide(std::strlen(text) + 1, L'\0');
    std::mbstate_t state{};
    const char* from = text;
    const std::size_t count = std::mbsrtowcs(&wide[0], &from, wide.size(), &state);
    // A line cut inside a character by the history's room keeps what was whole.
    wide.resize(count == static_cast<std::size_t>(-1) ? 0 : count);
    if (!wide.empty()) {
        el_winsertstr(Editor, wide.c_str());
    }
}

void ShowState(bool lineEntered) {
    char title[WindowTitleCapacity];
    char placeholder[PlaceholderCapacity];
    UpdateWindowState(&State, lineEntered, title, placeholder);
    ShowStatus(title);
    if (std::strcmp(placeholder, Placeholder) != 0) {
        std::memcpy(Placeholder, placeholder, sizeof Placeholder);
        if (PlaceholderShown) {
            HidePlaceholder();
            PlaceholderShown = false;
        }
    }
}

// Only while a line is being edited is the cursor where the empty line starts.
void FollowPlaceholder() {
    const LineInfoW* line = el_wline(Editor);
    if (!PlaceholderShown && line->lastchar == line->buffer) {
        PlaceholderShown = ShowPlaceholder(Placeholder);
    }
}

// Lays the screen out for an input line of `rows` rows: libedit has just drawn the line a row
// longer or shorter, on a row the screen gave the status line or outside it.
void LayOutFor(int rows) {
    if (rows != LaidOutRows) {
        LaidOutRows = rows;
        RedrawScreen(rows);
    }
}

// The line at most as long as the core reads; a key typed at the limit is taken back.
void KeepLineWithinLimit() {
    const LineInfoW* line = el_wline(Editor);
    const long excess =
        static_cast<long>(line->lastchar - line->buffer) - static_cast<long>(InputLineCapacity - 1);
    if (excess > 0 && line->cursor - line->buffer >= excess) {
        el_wdeletestr(Editor, static_cast<int>(excess));
        ClearInputRows();
        RedrawInputLine();
    }
}

void PutEditModesBack() {
    if (HaveEditModes) {
        SetModes(EditModes);
    }
}

void Suspend() {
    LeaveScreen();
    SetModes(UserModes);
    // Stopped the default way, the shell sees a stopped job; "fg" continues here.
    std::signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    struct sigaction action {};
    action.sa_handler = OnScreenSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
    PutEditModesBack();
    SuspendAsked = 0;
    Continued = 0;
    EnterScreen(LaidOutRows);
}

void ActOnScreenSignals() {
    char drained[16];
    while (read(WakeUpPipe[0], drained, sizeof drained) > 0) {
    }
    if (SuspendAsked) {
        Suspend();
    }
    if (Continued) {
        // Stopped by SIGSTOP, which no program can catch: the shell may have set the terminal
        // its own way meanwhile, and drawn over the screen.
        Continued = 0;
        PutEditModesBack();
        Resized = 1;
    }
    if (Resized) {
        Resized = 0;
        el_resize(Editor);
        LaidOutRows = RowsOfLine();
        RedrawScreen(LaidOutRows);
    }
}

// libedit's character reader: waits for the next key while the ticks go on. 0 (end of
// input) once the user quits or a signal ends the program. A tick reads for as long as the
// device keeps talking, up to a tick's period, so keys that came meanwhile are all taken
// before the next tick, as a window takes its queued events between two of its timer's.
int GetKey(EditLine* /*editor*/, wchar_t* key) {
    KeepLineWithinLimit();
    LayOutFor(RowsOfLine());
    for (;;) {
        if (QuitAsked || ExitSignalCaught()) {
            return 0;
        }
        FollowPlaceholder();
        pollfd waits[] = {{STDIN_FILENO, POLLIN, 0},
                          {ExitSignalDescriptor(), POLLIN, 0},
                          {WakeUpPipe[0], POLLIN, 0}};
        const int ready = poll(waits, 3, Ticks.MillisecondsLeft());
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
        const bool keyWaiting = ready > 0 && (waits[0].revents & (POLLIN | POLLHUP | POLLERR));
        // Before the tick: under a talking device a tick is due whenever the last one ends.
        if (ready > 0 && (waits[2].revents & POLLIN)) {
            ActOnScreenSignals();
        }
        if ((!keyWaiting || KeysSinceTick >= KeysBeforeTick) && Ticks.TakeTick()) {
            KeysSinceTick = 0;
            PollTick();
            ShowState(false);
            continue;
        }
        if (!keyWaiting) {
            continue;
        }
        char byte = 0;
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        // The terminal went away (its SIGHUP is on its way).
        if (got <= 0) {
            QuitAsked = true;
            return 0;
        }
        ++KeysSinceTick;
        wchar_t character = 0;
        const std::size_t used = std::mbrtowc(&character, &byte, 1, &KeyState);
        if (used == static_cast<std::size_t>(-2)) {
            continue;
        }
        if (used == static_cast<std::size_t>(-1)) {
            KeyState = std::mbstate_t{};
            continue;
        }
        // libedit draws the key's effect over a blank line.
        if (PlaceholderShown) {
            HidePlaceholder();
            PlaceholderShown = false;
        }
        PreviousKey = LastKey;
        LastKey = character;
        *key = character;
        return 1;
    }
}

const char* NoPrompt(EditLine* /*editor*/) {
    return "";
}

unsigned char SendWithoutLineFeedKey(EditLine* /*editor*/, int /*key*/) {
    SendWithoutLineFeed = true;
    return CC_NEWLINE;
}

unsigned char EarlierLineKey(EditLine* /*editor*/, int /*key*/) {
    const LineInfoW* line = el_wline(Editor);
    const char* earlier = RecallEarlier(&History, Multibyte(line->buffer, line->lastchar).c_str());
    if (earlier != nullptr) {
        ReplaceLine(earlier);
    }
    return CC_REFRESH;
}

unsigned char LaterLineKey(EditLine* /*editor*/, int /*key*/) {
    const char* later = RecallLater(&History);
    if (later != nullptr) {
        ReplaceLine(later);
    }
    return CC_REFRESH;
}

// Ctrl+C empties the line; a second one right after it, on the empty line, quits.
unsigned char InterruptKey(EditLine* /*editor*/, int /*key*/) {
    const LineInfoW* line = el_wline(Editor);
    if (line->lastchar == line->buffer && PreviousKey == CtrlC) {
        QuitAsked = true;
        return CC_EOF;
    }
    ReplaceLine("");
    return CC_REFRESH;
}

// Ctrl+D quits on an empty line, as it ends a shell; elsewhere it deletes the character under
// the cursor.
unsigned char EndKey(EditLine* /*editor*/, int /*key*/) {
    const LineInfoW* line = el_wline(Editor);
    if (line->lastchar == line->buffer) {
        QuitAsked = true;
        return CC_EOF;
    }
    if (line->cursor < line->lastchar) {
        el_cursor(Editor, 1);
        el_wdeletestr(Editor, 1);
    }
    return CC_REFRESH;
}

unsigned char SuspendKey(EditLine* /*editor*/, int /*key*/) {
    Suspend();
    return CC_REFRESH;
}

unsigned char RedrawKey(EditLine* /*editor*/, int /*key*/) {
    RedrawScreen(LaidOutRows);
    return CC_REFRESH;
}

struct Binding {
    const char* key;
    const char* command;
};

// Terminals send the same key in more than one way (xterm's normal and application cursor
// modes, the VT220 keypad, the Linux console); each is bound.
constexpr Binding Bindings[] = {
    {"\\e\\r", "varnoth-send-without-line-feed"},
    {"\\e\\n", "varnoth-send-without-line-feed"},
    {"\\e[A", "varnoth-earlier-line"},
    {"\\eOA", "varnoth-earlier-line"},
    {"\\e[B", "varnoth-later-line"},
    {"\\eOB", "varnoth-later-line"},
    {"^C", "varnoth-interrupt"},
    {"^D", "varnoth-end"},
    {"^Z", "varnoth-suspend"},
    {"^L", "varnoth-redraw"},
    // As in a shell: Ctrl+W deletes the word before the cursor, Ctrl+U the line.
    {"^W", "ed-delete-prev-word"},
    {"^U", "em-kill-line"},
    {"\\e[1;5D", "ed-prev-word"},
    {"\\e[1;3D", "ed-prev-word"},
    {"\\e[1;5C", "em-next-word"},
    {"\\e[1;3C", "em-next-word"},
    {"\\e[H", "ed-move-to-beg"},
    {"\\eOH", "ed-move-to-beg"},
    {"\\e[1~", "ed-move-to-beg"},
    {"\\e[F", "ed-move-to-end"},
    {"\\eOF", "ed-move-to-end"},
    {"\\e[4~", "ed-move-to-end"},
    {"\\e[3~", "ed-delete-next-char"},
};

struct Command {
    const char* name;
    const char* help;
    unsigned char (*run)(EditLine*, int);
};

constexpr Command Commands[] = {
    {"varnoth-send-without-line-feed", "send the line without its line feed",
     SendWithoutLineFeedKey},
    {"varnoth-earlier-line", "the line entered before", EarlierLineKey},
    {"varnoth-later-line", "the line entered after", LaterLineKey},
    {"varnoth-interrupt", "empty the line; twice in a row, quit", InterruptKey},
    {"varnoth-end", "quit on an empty line, else delete a character", EndKey},
    {"varnoth-suspend", "suspend the terminal", SuspendKey},
    {"varnoth-redraw", "draw the screen afresh", RedrawKey},
};

bool SetUpEditor() {
    Editor = el_init("varnoth-terminal", stdin, stdout, stderr);
    if (Editor == nullptr) {
        return false;
    }
    bool ok = el_set(Editor, EL_EDITOR, "emacs") == 0 && el_set(Editor, EL_SIGNAL, 0) == 0 &&
              el_set(Editor, EL_PROMPT, NoPrompt) == 0 && el_set(Editor, EL_GETCFN, GetKey) == 0 &&
              // Ctrl+C, Ctrl+Z and Ctrl+S reach the line as keys, not as signals or a pause.
              el_set(Editor, EL_SETTY, "-d", "-isig", "-ixon", "-iexten", nullptr) == 0;
    for (const Command& command : Commands) {
        ok = ok && el_set(Editor, EL_ADDFN, command.name, command.help, command.run) == 0;
    }
    for (const Binding& binding : Bindings) {
        ok = ok && el_set(Editor, EL_BIND, binding.key, binding.command, nullptr) == 0;
    }
    ok = ok && el_set(Editor, EL_BIND, "-k", "up", "varnoth-earlier-line", nullptr) == 0 &&
         el_set(Editor, EL_BIND, "-k", "down", "varnoth-later-line", nullptr) == 0;
    // The terminal stays in libedit's mode between lines too, so that keys typed while a line
    // runs (detection takes a while) are not echoed over the screen.
    ok = ok && el_set(Editor, EL_PREP_TERM, 1) == 0;
    HaveEditModes = ok && tcgetattr(STDIN_FILENO, &EditModes) == 0;
    return ok;
}

void RunLines() {
    for (;;) {
        SendWithoutLineFeed = false;
        int count = 0;
        Editing = true;
        const wchar_t* line = el_wgets(Editor, &count);
        Editing = false;
        if (line == nullptr || QuitAsked || ExitSignalCaught()) {
            return;
        }
        std::size_t length = count > 0 ? static_cast<std::size_t>(count) : 0;
        if (length > 0 && line[length - 1] == '\n') {
            --length;
        }
        LaidOutRows = 1;
        RedrawScreen(1);
        RememberLine(&History, Multibyte(line, line + length).c_str());
        TakeWideLine(line, length);
        ExecuteInputLine(SendWithoutLineFeed);
        ShowState(true);
    }
}

} // namespace

void RedrawInputLine() {
    // The input line's rows were cleared.
    PlaceholderShown = false;
    if (Editing) {
        el_set(Editor, EL_REFRESH);
    }
}

int RunOnScreen() {
    if (tcgetattr(STDIN_FILENO, &UserModes) != 0 || !CatchScreenSignals()) {
        std::fprintf(stderr, "varnoth-terminal: cannot set the terminal up: %s\n",
                     std::strerror(errno));
        return RunScript();
    }
    if (!SetUpEditor()) {
        std::fprintf(stderr, "varnoth-terminal: the line editor could not start\n");
        if (Editor != nullptr) {
            el_end(Editor);
        }
        SetModes(UserModes);
        return RunScript();
    }
    RunOnForcedExit(PutTerminalBack);
    RoutePaneTo(&ScreenPane);
    // Two short lines rather than one that an 80-column terminal breaks inside a word.
    AppendOutput("Ctrl+D on an empty line, or Ctrl+C twice, quits.\n"
                 "Alt+Enter sends a line without its line feed.\n");
    ShowState(false);
    EnterScreen(1);
    RunLines();
    // Closed before the screen goes: the next program may be waiting for the port.
    ClosePortIfOpen();
    LeaveScreen();
    el_end(Editor);
    SetModes(UserModes);
    return 0;
}
