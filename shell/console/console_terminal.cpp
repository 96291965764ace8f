#include "shell/console/console_terminal.h"

#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <unistd.h>

#include "core/pane.h"
#include "core/poll_cycle.h"
#include "core/port_connection.h"
#include "core/terminal_session.h"
#include "shell/console/console_parts.h"
#include "shell/exit_signals_posix.h"
#include "shell/pane_characters.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto TickPeriod = std::chrono::milliseconds(PollIntervalMilliseconds);
// What a character outside Latin-1 goes out as, as from the window's input line; and what one
// the locale cannot encode shows as.
constexpr char NotLatin1 = '?';
constexpr wchar_t HighestLatin1 = 0xff;

std::string ShownBytes[256];

char TakenLine[InputLineCapacity];
std::size_t TakenLength = 0;

void Take(wchar_t character) {
    if (TakenLength < InputLineCapacity - 1) {
        TakenLine[TakenLength++] =
            character >= 0 && character <= HighestLatin1 ? static_cast<char>(character) : NotLatin1;
        TakenLine[TakenLength] = '\0';
    }
}

} // namespace

std::string Encoded(wchar_t character) {
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    const std::size_t count = std::wcrtomb(bytes, character, &state);
    if (count == static_cast<std::size_t>(-1)) {
        return std::string(1, NotLatin1);
    }
    return std::string(bytes, count);
}

const std::string& ShownAs(unsigned char byte) {
    return ShownBytes[byte];
}

void TakeLine(const char* text, std::size_t length) {
    ClearTakenLine();
    std::mbstate_t state{};
    while (length > 0) {
        wchar_t character = 0;
        const std::size_t used = std::mbrtowc(&character, text, length, &state);
        // Bytes that are no character of the locale's encoding (or the cut end of one) count
        // as one character each, which Latin-1 cannot tell apart either.
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) {
            state = std::mbstate_t{};
            Take(NotLatin1);
            ++text;
            --length;
            continue;
        }
        Take(character);
        const std::size_t step = used == 0 ? 1 : used;
        text += step;
        length -= step;
    }
}

void TakeWideLine(const wchar_t* text, std::size_t length) {
    ClearTakenLine();
    for (std::size_t i = 0; i < length; ++i) {
        Take(text[i]);
    }
}

void ReadTakenLine(char* buffer, std::size_t capacity) {
    const std::size_t count = TakenLength < capacity - 1 ? TakenLength : capacity - 1;
    std::memcpy(buffer, TakenLine, count);
    buffer[count] = '\0';
}

void ClearTakenLine() {
    TakenLength = 0;
    TakenLine[0] = '\0';
}

TickClock::TickClock() : next_(Clock::now() + TickPeriod) {}

int TickClock::MillisecondsLeft() const {
    const Clock::time_point now = Clock::now();
    if (now >= next_) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next_ - now).count());
}

bool TickClock::TakeTick() {
    const Clock::time_point now = Clock::now();
    if (now < next_) {
        return false;
    }
    next_ += TickPeriod;
    if (next_ < now) {
        next_ = now + TickPeriod;
    }
    return true;
}

int RunConsole(const char* programFile) {
    // Typed text, the device's text as shown and the program file's name are all in the
    // locale's encoding.
    if (std::setlocale(LC_CTYPE, "") == nullptr) {
        std::fprintf(stderr, "varnoth-terminal: the locale the environment names is not "
                             "installed; characters beyond ASCII show as '?'\n");
    }
    for (int byte = 0; byte < 256; ++byte) {
        const char16_t shown = PaneCharacters[static_cast<std::size_t>(byte)];
        ShownBytes[byte] = shown == PaneHidden ? std::string() : Encoded(shown);
    }
    // A path too long for the session record is refused by the core, and "rp!" then says so.
    SetUploadPath(programFile);
    // SIGTERM, SIGINT and SIGHUP (the terminal it runs in closed) end the console as quitting
    // does, with the port closed and the user's terminal put back.
    CatchExitSignals();
    // A reader of standard output that goes away must not end the program with the port open.
    std::signal(SIGPIPE, SIG_IGN);
    const bool onTerminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
    const int status = onTerminal && PrepareScreen() ? RunOnScreen() : RunScript();
    ClosePortIfOpen();
    return status;
}
