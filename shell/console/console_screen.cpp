// The screen of the text console, from the top: the rows of the device's text (the terminal's
// scroll region, so that a new line there scrolls only them), the status line, and the input
// line's rows at the bottom. The sequences come from the terminal's terminfo entry (libtinfo).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include <term.h>

#include "shell/console/console_parts.h"
#include "shell/pane_characters.h"

namespace {

// The device's tabs are laid out as blanks to the next multiple of this, where terminals set
// their tab stops unless told otherwise: the user's terminal may have been told otherwise, and
// its own stops would then misplace the text the console counts columns of.
constexpr int TabWidth = 8;
// A size to draw for when the terminal tells none (a serial console, say).
constexpr int FallbackRows = 24;
constexpr int FallbackColumns = 80;
// What a character the status line cannot show shows as.
constexpr char Unshowable = '?';
// Room for what LeaveScreenFromSignal writes: three short sequences.
constexpr std::size_t LeaveCapacity = 256;

// The sequences the screen is drawn with, from the terminal's entry.
struct Sequences {
    std::string moveTo;           // cup: to a row and column
    std::string scrollRegion;     // csr: rows that scroll
    std::string clearToEndOfLine; // el
    std::string enterScreen;      // smcup: the alternate screen, the user's saved
    std::string leaveScreen;      // rmcup
    std::string saveCursor;       // sc
    std::string restoreCursor;    // rc
    std::string reverse;          // rev: the status line
    std::string dim;              // dim: the placeholder
    std::string plain;            // sgr0
    // Writing the last column of the bottom row scrolls at once (am without xenl), so that
    // column is left empty.
    bool scrollsAtLastColumn = false;
};

Sequences Terminal;
int Rows = FallbackRows;
int Columns = FallbackColumns;
int InputRows = 1;
// The pane's bytes, as the core wrote them; the core keeps them within its limit.
std::string PaneBytes;
// Where the device's text goes on: a row of the output area and a column in it.
int OutputRow = 0;
int OutputColumn = 0;
bool OnScreen = false;
std::string StatusText;
char LeaveBytes[LeaveCapacity];
std::size_t LeaveLength = 0;

std::string Capability(const char* name) {
    // tigetstr gives (char*)-1 for a name that is no string capability, nullptr for one absent.
    const char* value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<const char*>(-1)) {
        return std::string();
    }
    return value;
}

int OutputRows() {
    return std::max(0, Rows - InputRows - 1);
}

int StatusRow() {
    return Rows - InputRows - 1;
}

int InputTop() {
    return std::max(0, Rows - InputRows);
}

int TextColumns() {
    return std::max(1, Terminal.scrollsAtLastColumn ? Columns - 1 : Columns);
}

std::string MoveTo(int row, int column) {
    return tiparm(Terminal.moveTo.c_str(), row, column);
}

// Whatever the terminal does not take cannot be told to it: a terminal that went away ends the
// program through SIGHUP.
void Write(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        std::clearerr(stdout);
    }
}

// Lays pane text out from *column in rows `width` wide, each byte as the window shows it:
// cell(text) for each character cell, lineBreak() where a row ends, at a line feed or a full
// row. The screen's live text and its redraws both go through here, so they break alike.
template <typename Cell, typename LineBreak>
void LayOut(const char* bytes, std::size_t count, int* column, int width, Cell cell,
            LineBreak lineBreak) {
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        const char16_t shown = PaneCharacters[byte];
        if (shown == PaneHidden) {
            continue;
        }
        if (shown == '\n') {
            lineBreak();
            *column = 0;
            continue;
        }
        if (*column >= width) {
            lineBreak();
            *column = 0;
        }
        if (shown != '\t') {
            cell(ShownAs(byte));
            ++*column;
            continue;
        }
        // A tab goes to the next stop, or to the end of the row.
        const int stop = std::min(width, (*column / TabWidth + 1) * TabWidth);
        while (*column < stop) {
            cell(ShownAs(' '));
            ++*column;
        }
    }
}

// `text` cut to `width` columns, padded to them when `padded`; characters that are not
// printable (a file name may hold any byte) show as '?'.
std::string Fitted(const std::string& text, int width, bool padded) {
    std::string fitted;
    int used = 0;
    std::mbstate_t state{};
    const char* at = text.c_str();
    std::size_t left = text.size();
    while (left > 0) {
        wchar_t character = 0;
        std::size_t step = std::mbrtowc(&character, at, left, &state);
        const bool broken =
            step == static_cast<std::size_t>(-1) || step == static_cast<std::size_t>(-2);
        if (broken || step == 0 || !std::iswprint(static_cast<wint_t>(character))) {
            state = std::mbstate_t{};
            character = Unshowable;
            step = broken || step == 0 ? 1 : step;
        }
        const int cells = std::max(1, wcwidth(character));
        if (used + cells > width) {
            break;
        }
        fitted += Encoded(character);
        used += cells;
        at += step;
        left -= step;
    }
    if (padded) {
        fitted.append(static_cast<std::size_t>(width - used), ' ');
    }
    return fitted;
}

std::string StatusLine() {
    if (StatusRow() < 0) {
        return std::string();
    }
    return MoveTo(StatusRow(), 0) + Terminal.reverse + Fitted(StatusText, Columns, true) +
           Terminal.plain;
}

// The newest rows of the pane, from the top of the output area, and where its text goes on.
std::string OutputArea() {
    const int rows = OutputRows();
    OutputRow = 0;
    OutputColumn = 0;
    if (rows == 0) {
        return std::string();
    }
    // Each line takes a row at least, so the last `rows` lines fill the area.
    std::size_t start = PaneBytes.size();
    for (int lineFeeds = 0; start > 0; --start) {
        if (PaneBytes[start - 1] == '\n' && ++lineFeeds == rows) {
            break;
        }
    }
    std::deque<std::string> shown(1);
    LayOut(
        PaneBytes.data() + start, PaneBytes.size() - start, &OutputColumn, TextColumns(),
        [&](const std::string& cell) { shown.back() += cell; },
        [&] {
            shown.emplace_back();
            if (shown.size() > static_cast<std::size_t>(rows)) {
                shown.pop_front();
            }
        });
    std::string drawn;
    for (int row = 0; row < rows; ++row) {
        drawn += MoveTo(row, 0);
        if (static_cast<std::size_t>(row) < shown.size()) {
            drawn += shown[static_cast<std::size_t>(row)];
        }
        drawn += Terminal.clearToEndOfLine;
    }
    OutputRow = static_cast<int>(shown.size()) - 1;
    return drawn;
}

// Writes what the pane gained where its text goes on; a line break on the area's last row
// scrolls the area, and only it.
void ShowPaneText(const char* text) {
    if (!OnScreen || OutputRows() == 0) {
        return;
    }
    std::string drawn = Terminal.saveCursor;
    drawn += MoveTo(OutputRow, std::min(OutputColumn, TextColumns() - 1));
    LayOut(
        text, std::strlen(text), &OutputColumn, TextColumns(),
        [&](const std::string& cell) { drawn += cell; },
        [&] {
            drawn += "\r\n";
            OutputRow = std::min(OutputRow + 1, OutputRows() - 1);
        });
    drawn += Terminal.restoreCursor;
    Write(drawn);
}

void KeepLeaveBytes() {
    const std::string leave =
        Terminal.plain + tiparm(Terminal.scrollRegion.c_str(), 0, Rows - 1) + Terminal.leaveScreen;
    LeaveLength = std::min(leave.size(), LeaveCapacity);
    std::memcpy(LeaveBytes, leave.data(), LeaveLength);
}

std::size_t ScreenPaneLength() {
    return PaneBytes.size();
}

std::size_t ScreenPaneCopy(std::size_t start, char* buffer, std::size_t count) {
    return start < PaneBytes.size() ? PaneBytes.copy(buffer, count, start) : 0;
}

void ScreenPaneErase(std::size_t count) {
    PaneBytes.erase(0, count);
    // The core gives up old text only from the front, which leaves the newest rows as they are,
    // except when it empties the pane ("clear").
    if (PaneBytes.empty() && OnScreen) {
        Write(Terminal.saveCursor + OutputArea() + Terminal.restoreCursor);
    }
}

void ScreenPaneInsertAtEnd(const char* text, PaneText /*from*/) {
    PaneBytes += text;
    ShowPaneText(text);
}

} // namespace

const PaneShell ScreenPane = {ScreenPaneLength,      ScreenPaneCopy, ScreenPaneErase,
                              ScreenPaneInsertAtEnd, ReadTakenLine,  ClearTakenLine};

bool PrepareScreen() {
    int error = 0;
    // 0 is curses' OK, which <term.h> alone does not define.
    if (setupterm(nullptr, STDOUT_FILENO, &error) != 0) {
        std::fprintf(stderr,
                     "varnoth-terminal: the terminal (TERM=%s) has no terminfo entry; lines are "
                     "read as from a script\n",
                     std::getenv("TERM") != nullptr ? std::getenv("TERM") : "");
        return false;
    }
    Terminal.moveTo = Capability("cup");
    Terminal.scrollRegion = Capability("csr");
    Terminal.clearToEndOfLine = Capability("el");
    Terminal.enterScreen = Capability("smcup");
    Terminal.leaveScreen = Capability("rmcup");
    Terminal.saveCursor = Capability("sc");
    Terminal.restoreCursor = Capability("rc");
    Terminal.reverse = Capability("rev");
    Terminal.dim = Capability("dim");
    Terminal.plain = Capability("sgr0");
    Terminal.scrollsAtLastColumn = tigetflag("am") > 0 && tigetflag("xenl") <= 0;
    if (Terminal.moveTo.empty() || Terminal.scrollRegion.empty() ||
        Terminal.clearToEndOfLine.empty() || Terminal.saveCursor.empty() ||
        Terminal.restoreCursor.empty()) {
        std::fprintf(stderr,
                     "varnoth-terminal: the terminal (TERM=%s) cannot place the cursor or keep "
                     "a scroll region; lines are read as from a script\n",
                     std::getenv("TERM"));
        return false;
    }
    return true;
}

void MeasureScreen() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        Rows = size.ws_row;
        Columns = size.ws_col;
    }
}

int ScreenColumns() {
    return Columns;
}

void EnterScreen(int inputRows) {
    Write(Terminal.enterScreen);
    OnScreen = true;
    RedrawScreen(inputRows);
}

void LeaveScreen() {
    if (!OnScreen) {
        return;
    }
    OnScreen = false;
    // The scroll region is the terminal's, not the alternate screen's: it goes back to the
    // whole screen before the user's screen comes back.
    Write(Terminal.plain + tiparm(Terminal.scrollRegion.c_str(), 0, Rows - 1) +
          MoveTo(Rows - 1, 0) + Terminal.leaveScreen);
}

void LeaveScreenFromSignal() {
    if (OnScreen) {
        [[maybe_unused]] const ssize_t ignored = write(STDOUT_FILENO, LeaveBytes, LeaveLength);
    }
}

void RedrawScreen(int inputRows) {
    MeasureScreen();
    InputRows = std::max(1, inputRows);
    KeepLeaveBytes();
    if (!OnScreen) {
        return;
    }
    // Setting the region also moves the cursor, which every part below places anew.
    std::string drawn = Terminal.plain + tiparm(Terminal.scrollRegion.c_str(), 0,
                                                OutputRows() > 0 ? OutputRows() - 1 : Rows - 1);
    drawn += OutputArea();
    drawn += StatusLine();
    for (int row = InputTop(); row < Rows; ++row) {
        drawn += MoveTo(row, 0) + Terminal.clearToEndOfLine;
    }
    drawn += MoveTo(InputTop(), 0);
    Write(drawn);
    RedrawInputLine();
}

void ClearInputRows() {
    std::string drawn;
    for (int row = InputTop(); row < Rows; ++row) {
        drawn += MoveTo(row, 0) + Terminal.clearToEndOfLine;
    }
    Write(drawn + MoveTo(InputTop(), 0));
}

void ShowStatus(const char* text) {
    if (StatusText == text) {
        return;
    }
    StatusText = text;
    if (OnScreen && StatusRow() >= 0) {
        Write(Terminal.saveCursor + StatusLine() + Terminal.restoreCursor);
    }
}

bool ShowPlaceholder(const char* text) {
    if (!OnScreen || Terminal.dim.empty()) {
        return false;
    }
    // The last column stays free, so that the text cannot wrap onto a row below.
    Write(Terminal.saveCursor + Terminal.dim + Fitted(text, Columns - 1, false) + Terminal.plain +
          Terminal.restoreCursor);
    return true;
}

void HidePlaceholder() {
    Write(Terminal.clearToEndOfLine);
}
