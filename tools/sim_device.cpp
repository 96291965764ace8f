// A stand-in for the serial device, so the terminal can be exercised without hardware.
// It owns a pseudo-terminal: the terminal opens the slave side like a real port, and this
// program plays the device on the master side.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Milliseconds = std::chrono::milliseconds;

// A bad command line or a failed set-up is told apart from a normal end by the tests.
constexpr int ExitFailure = 2;
// Small enough to pace a slow stream evenly, large enough to keep wake-ups rare.
constexpr Milliseconds StreamTick{10};
// Caps the burst a paced stream may send after the pty was full for a while.
constexpr Milliseconds StreamMaxBacklog{100};
// Stream bytes are produced only while less than this is waiting, so a full pty
// does not make the backlog grow without bound.
constexpr std::size_t StreamChunk = 4096;
// How long to leave the master alone after an unexpected hang-up, instead of spinning.
constexpr Milliseconds MasterRetryPause{100};
// The pty moves written bytes to the slave side a moment after write returns, so the
// slave queue is not trusted to show them until this has passed.
constexpr Milliseconds HangupGrace{20};
// The last answer should reach the terminal before the device vanishes, but a terminal
// that never reads must not keep the device alive.
constexpr Milliseconds HangupDrainLimit{1000};
constexpr std::size_t ReadChunk = 4096;
constexpr const char* DefaultId = "TELK7 simulated device\n";
constexpr const char* StreamAlphabet = "abcdefghijklmnopqrstuvwxyz";
// A mixed stream sends one numbered line in this many; the others are empty.
constexpr unsigned long MixedStreamPeriod = 4;

// The lines a stream is made of: numbered text lines, bare line feeds (a device that logs
// short lines, the most lines a byte rate can carry), or a mix of both.
enum class StreamShape { Numbered, Empty, Mixed };

struct Options {
    std::string linkPath;
    std::string recordPath;
    // One reply byte per answered line, taken in turn; empty means stay silent.
    std::string answerCycle = "+";
    Milliseconds delay{0};
    bool answerId = true;
    std::string idText = DefaultId;
    bool echo = false;
    bool stream = false;
    long long streamRate = 0;
    long long streamLimit = -1;
    StreamShape streamShape = StreamShape::Numbered;
    // At most this many bytes a write; 0 sends whatever is due at once.
    long long writeBytes = 0;
    Milliseconds lineGap{20};
    long long hangupAfterLines = -1;
    // The line's rate, bits a second: each byte takes ten bits' time (8N1) both ways. 0 passes
    // bytes as fast as the pseudo-terminal takes them.
    long long baud = 0;
};

struct Reply {
    TimePoint due;
    std::string bytes;
    bool countsAsLine;
};

struct State {
    int master = -1;
    int slave = -1;
    int record = -1;
    std::string pendingLine;
    TimePoint lastReceived;
    std::deque<Reply> replies;
    std::size_t answerIndex = 0;
    long long answeredLines = 0;
    std::string output;
    bool masterPaused = false;
    TimePoint masterRetry;
    long long streamSent = 0;
    unsigned long streamLineNumber = 0;
    std::string streamLine;
    std::size_t streamLineOffset = 0;
    std::int64_t streamCreditMicros = 0;
    TimePoint streamLastTick;
    bool hangingUp = false;
    TimePoint hangupStarted;
    // With a baud rate: what the terminal wrote, each byte with the moment its last bit is in,
    // and when the line is free for the next byte the device sends.
    std::deque<std::pair<TimePoint, char>> onTheWire;
    TimePoint wireInFree;
    TimePoint wireOutFree;
    // Whether the line is carrying what the device sends; when it was idle, the first byte
    // starts on it now.
    bool wireOutBusy = false;
};

// Start bit, eight data bits and a stop bit.
constexpr long long BitsPerByte = 10;

Clock::duration ByteTime(const Options& options) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
        BitsPerByte * 1000000000LL / options.baud));
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void PrintUsage(std::FILE* out);

[[noreturn]] void Fail(const std::string& message, bool showUsage = false) {
    std::fprintf(stderr, "varnoth-simdevice: %s\n", message.c_str());
    if (showUsage) {
        PrintUsage(stderr);
    }
    std::exit(ExitFailure);
}

[[noreturn]] void FailUsage(const std::string& message) {
    Fail(message, true);
}

[[noreturn]] void FailErrno(const std::string& what) {
    Fail(what + ": " + std::strerror(errno));
}

long long ParseNumber(const std::string& option, const std::string& text, long long minimum) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < minimum) {
        FailUsage("bad value for " + option + ": '" + text + "'");
    }
    return value;
}

std::string ParseAnswer(const std::string& text) {
    if (text == "+" || text == "-" || text == "*" || text == ">") {
        return text;
    }
    if (text == "none") {
        return "";
    }
    if (text == "garbage") {
        return "?";
    }
    const std::string prefix = "seq:";
    if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) {
        return text.substr(prefix.size());
    }
    FailUsage("bad value for --answer: '" + text + "'");
}

// A shell cannot easily pass control characters, so the id text carries them as escapes.
std::string ExpandEscapes(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
            result += text[i + 1] == 'n' ? '\n' : '\r';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// Every option once: the usage is printed from the same rows the command line is read with.
struct OptionRule {
    const char* name;
    const char* value; // what the usage calls its value; nullptr for an option without one
    const char* help;
    void (*apply)(Options& options, const char* name, const std::string& value);
};

const OptionRule OptionRules[] = {
    {"--link", "PATH", "symlink PATH to the slave side (removed on exit)",
     [](Options& o, const char*, const std::string& v) { o.linkPath = v; }},
    {"--record", "FILE", "write every received byte to FILE",
     [](Options& o, const char*, const std::string& v) { o.recordPath = v; }},
    {"--answer", "MODE", "+ - * > none garbage seq:CHARS (default +)",
     [](Options& o, const char*, const std::string& v) { o.answerCycle = ParseAnswer(v); }},
    {"--delay", "MS", "wait before each answer and id reply (default 0)",
     [](Options& o, const char* n, const std::string& v) {
         o.delay = Milliseconds(ParseNumber(n, v, 0));
     }},
    {"--id", "TEXT|none", "identification reply; \\n and \\r are expanded",
     [](Options& o, const char*, const std::string& v) {
         o.answerId = v != "none";
         o.idText = ExpandEscapes(v);
     }},
    {"--echo", nullptr, "send every received byte straight back",
     [](Options& o, const char*, const std::string&) { o.echo = true; }},
    {"--stream", "RATE", "numbered text lines at RATE bytes/s (0 = flat out)",
     [](Options& o, const char* n, const std::string& v) {
         o.stream = true;
         o.streamRate = ParseNumber(n, v, 0);
     }},
    {"--stream-bytes", "N", "stop the stream after N bytes",
     [](Options& o, const char* n, const std::string& v) { o.streamLimit = ParseNumber(n, v, 0); }},
    {"--stream-lines", "SHAPE", "numbered (default), empty or mixed (1 numbered in 4)",
     [](Options& o, const char* n, const std::string& v) {
         if (v == "numbered") {
             o.streamShape = StreamShape::Numbered;
         } else if (v == "empty") {
             o.streamShape = StreamShape::Empty;
         } else if (v == "mixed") {
             o.streamShape = StreamShape::Mixed;
         } else {
             FailUsage(std::string("bad value for ") + n + ": '" + v + "'");
         }
     }},
    {"--stream-write-bytes", "N",
     "write at most N bytes at a time; a paced stream\n"
     "                          wakes whenever N more bytes are due",
     [](Options& o, const char* n, const std::string& v) { o.writeBytes = ParseNumber(n, v, 1); }},
    {"--line-gap", "MS", "silence that ends a line without LF (default 20)",
     [](Options& o, const char* n, const std::string& v) {
         o.lineGap = Milliseconds(ParseNumber(n, v, 1));
     }},
    {"--baud", "RATE",
     "model a line of RATE baud, 8N1: bytes arrive and go out\n"
     "                          one at a time, 10 bits each (9600: 1.04 ms)",
     [](Options& o, const char* n, const std::string& v) { o.baud = ParseNumber(n, v, 1); }},
    {"--hangup-after-lines", "N", "vanish after answering N lines",
     [](Options& o, const char* n, const std::string& v) {
         o.hangupAfterLines = ParseNumber(n, v, 1);
     }},
    {"--help", nullptr, "show this and exit",
     [](Options&, const char*, const std::string&) {
         PrintUsage(stdout);
         std::exit(0);
     }},
};

void PrintUsage(std::FILE* out) {
    std::fputs("usage: varnoth-simdevice [options]\n", out);
    for (const OptionRule& rule : OptionRules) {
        const std::string option =
            rule.name + std::string(rule.value ? " " : "") + (rule.value ? rule.value : "");
        std::fprintf(out, "  %-22s  %s\n", option.c_str(), rule.help);
    }
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto rule = std::find_if(std::begin(OptionRules), std::end(OptionRules),
                                       [&](const OptionRule& r) { return option == r.name; });
        if (rule == std::end(OptionRules)) {
            FailUsage("unknown option " + option);
        } else if (rule->value != nullptr && i + 1 >= argc) {
            FailUsage("missing value for " + option);
        }
        rule->apply(options, rule->name, rule->value != nullptr ? argv[++i] : "");
    }
    return options;
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        FailErrno("fcntl");
    }
}

// Returns the slave path. Raw mode matters: the device must see the terminal's bytes
// exactly, with no echo and no line-end translation by the pty itself.
std::string OpenPty(State& state) {
    state.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (state.master < 0 || grantpt(state.master) != 0 || unlockpt(state.master) != 0) {
        FailErrno("cannot create pty");
    }
    const char* name = ptsname(state.master);
    if (name == nullptr) {
        FailErrno("ptsname");
    }
    const std::string slavePath = name;
    // Held for our whole life: without it the master reads EIO whenever the terminal
    // closes the port, and queued bytes would be lost between its close and reopen.
    state.slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    if (state.slave < 0 || tcgetattr(state.slave, &settings) != 0) {
        FailErrno("cannot open pty slave");
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    if (tcsetattr(state.slave, TCSANOW, &settings) != 0) {
        FailErrno("tcsetattr");
    }
    SetNonBlocking(state.master);
    return slavePath;
}

void MakeLink(const Options& options, const std::string& slavePath) {
    if (options.linkPath.empty()) {
        return;
    }
    if (unlink(options.linkPath.c_str()) != 0 && errno != ENOENT) {
        FailErrno("cannot replace " + options.linkPath);
    }
    if (symlink(slavePath.c_str(), options.linkPath.c_str()) != 0) {
        FailErrno("cannot link " + options.linkPath);
    }
}

void RemoveLink(const Options& options) {
    if (!options.linkPath.empty()) {
        unlink(options.linkPath.c_str());
    }
}

void InstallSignalHandlers() {
    if (pipe(signalPipe) != 0) {
        FailErrno("pipe");
    }
    SetNonBlocking(signalPipe[0]);
    SetNonBlocking(signalPipe[1]);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            std::fprintf(stderr, "varnoth-simdevice: record: %s\n", std::strerror(errno));
            return;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

void CompleteLine(const Options& options, State& state, TimePoint now) {
    Reply reply{now + options.delay, "", true};
    if (state.pendingLine == "id\n") {
        reply.countsAsLine = false;
        if (options.answerId) {
            reply.bytes = options.idText;
        }
    } else if (!options.answerCycle.empty()) {
        reply.bytes = options.answerCycle[state.answerIndex % options.answerCycle.size()];
        ++state.answerIndex;
    }
    state.replies.push_back(reply);
    state.pendingLine.clear();
}

void Arrive(const Options& options, State& state, const char* bytes, std::size_t count,
            TimePoint now);

// Without a baud rate a byte is there as soon as it is written; with one it comes a byte's time
// after the one before, the line never idle-fast.
void Receive(const Options& options, State& state, const char* bytes, std::size_t count,
             TimePoint now) {
    if (options.baud == 0) {
        Arrive(options, state, bytes, count, now);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        state.wireInFree = std::max(state.wireInFree, now) + ByteTime(options);
        state.onTheWire.emplace_back(state.wireInFree, bytes[i]);
    }
}

// The bytes whose last bit is in by now.
void TakeFromWire(const Options& options, State& state, TimePoint now) {
    while (!state.onTheWire.empty() && state.onTheWire.front().first <= now) {
        const auto [arrived, byte] = state.onTheWire.front();
        state.onTheWire.pop_front();
        Arrive(options, state, &byte, 1, arrived);
    }
}

void Arrive(const Options& options, State& state, const char* bytes, std::size_t count,
            TimePoint now) {
    if (state.record >= 0) {
        WriteAll(state.record, bytes, count);
    }
    if (options.echo) {
        state.output.append(bytes, count);
    }
    for (std::size_t i = 0; i < count; ++i) {
        state.pendingLine += bytes[i];
        if (bytes[i] == '\n') {
            CompleteLine(options, state, now);
        }
    }
    state.lastReceived = now;
}

void ReadMaster(const Options& options, State& state, TimePoint now) {
    char buffer[ReadChunk];
    for (;;) {
        const ssize_t got = read(state.master, buffer, sizeof buffer);
        if (got > 0) {
            Receive(options, state, buffer, static_cast<std::size_t>(got), now);
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0 || errno == EIO) {
            state.masterPaused = true;
            state.masterRetry = now + MasterRetryPause;
        }
        return;
    }
}

void ReleaseDueReplies(const Options& options, State& state, TimePoint now) {
    while (!state.hangingUp && !state.replies.empty() && state.replies.front().due <= now) {
        const Reply& reply = state.replies.front();
        state.output += reply.bytes;
        if (reply.countsAsLine) {
            ++state.answeredLines;
        }
        state.replies.pop_front();
        if (options.hangupAfterLines > 0 && state.answeredLines >= options.hangupAfterLines) {
            state.hangingUp = true;
            state.hangupStarted = now;
        }
    }
}

bool StreamActive(const Options& options, const State& state) {
    return options.stream && (options.streamLimit < 0 || state.streamSent < options.streamLimit);
}

void AppendStream(const Options& options, State& state, long long count) {
    if (options.streamLimit >= 0) {
        count = std::min(count, options.streamLimit - state.streamSent);
    }
    while (count > 0) {
        if (state.streamLineOffset == state.streamLine.size()) {
            ++state.streamLineNumber;
            const bool numbered = options.streamShape == StreamShape::Numbered ||
                                  (options.streamShape == StreamShape::Mixed &&
                                   state.streamLineNumber % MixedStreamPeriod == 1);
            char line[64] = "\n";
            if (numbered) {
                std::snprintf(line, sizeof line, "stream %06lu %s\n", state.streamLineNumber,
                              StreamAlphabet);
            }
            state.streamLine = line;
            state.streamLineOffset = 0;
        }
        const std::size_t take = std::min(static_cast<std::size_t>(count),
                                          state.streamLine.size() - state.streamLineOffset);
        state.output.append(state.streamLine, state.streamLineOffset, take);
        state.streamLineOffset += take;
        state.streamSent += static_cast<long long>(take);
        count -= static_cast<long long>(take);
    }
}

// A device that writes a few bytes at a time (a UART's FIFO, one byte per interrupt) must
// wake as often as its rate needs, not every StreamTick: the next write is due when the
// credit covers it. Rounded up, so a wake never finds the write not yet due.
Clock::duration StreamWait(const Options& options, const State& state) {
    if (options.writeBytes == 0) {
        return StreamTick;
    }
    const std::int64_t missing = options.writeBytes * 1000000 - state.streamCreditMicros;
    return std::chrono::microseconds(
        std::max<std::int64_t>(0, (missing + options.streamRate - 1) / options.streamRate));
}

// Paces by credit earned since the last tick, so the rate holds however late a tick runs.
void ServiceStream(const Options& options, State& state, TimePoint now) {
    if (!StreamActive(options, state) || state.output.size() >= StreamChunk || state.hangingUp) {
        return;
    }
    if (options.streamRate == 0) {
        AppendStream(options, state, static_cast<long long>(StreamChunk));
        return;
    }
    if (now < state.streamLastTick + StreamWait(options, state)) {
        return;
    }
    const auto elapsed = std::min(now - state.streamLastTick, Clock::duration(StreamMaxBacklog));
    state.streamCreditMicros +=
        options.streamRate * std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    state.streamLastTick = now;
    const long long due = state.streamCreditMicros / 1000000;
    state.streamCreditMicros -= due * 1000000;
    AppendStream(options, state, due);
}

bool ReadyToVanish(const State& state, TimePoint now) {
    if (now >= state.hangupStarted + HangupDrainLimit) {
        return true;
    }
    int unread = 0;
    return state.output.empty() && now >= state.hangupStarted + HangupGrace &&
           ioctl(state.slave, FIONREAD, &unread) == 0 && unread == 0;
}

// With a baud rate, only the bytes the line has had time to carry go out, one byte's time
// apart; the rest wait for their turn.
std::size_t BytesTheLineTakes(const Options& options, State& state, TimePoint now) {
    if (options.baud == 0) {
        return state.output.size();
    }
    if (!state.wireOutBusy && !state.output.empty()) {
        state.wireOutFree = std::max(state.wireOutFree, now);
        state.wireOutBusy = true;
    }
    std::size_t count = 0;
    while (count < state.output.size() && state.wireOutFree + ByteTime(options) <= now) {
        state.wireOutFree += ByteTime(options);
        ++count;
    }
    return count;
}

void FlushOutput(const Options& options, State& state) {
    std::size_t sent = 0;
    const std::size_t due = BytesTheLineTakes(options, state, Clock::now());
    while (sent < due && !state.masterPaused) {
        std::size_t count = due - sent;
        if (options.writeBytes > 0) {
            count = std::min(count, static_cast<std::size_t>(options.writeBytes));
        }
        const ssize_t written = write(state.master, state.output.data() + sent, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(written);
    }
    state.output.erase(0, sent);
    state.wireOutBusy = !state.output.empty();
}

// ppoll takes the wait to the nanosecond, which a stream paced below a millisecond needs:
// poll's whole milliseconds would round a 1.04 ms wait up to 2 and send the bytes in pairs.
timespec WaitUntil(TimePoint deadline, TimePoint now) {
    const auto wait =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::min<Clock::duration>(
            std::max<Clock::duration>(deadline - now, {}), std::chrono::seconds(60)));
    return {static_cast<time_t>(wait.count() / 1000000000),
            static_cast<long>(wait.count() % 1000000000)};
}

// Returns nullptr (wait for ever) when nothing is scheduled, which keeps an idle device idle.
const timespec* PollTimeout(const Options& options, const State& state, TimePoint now,
                            timespec* wait) {
    TimePoint next = TimePoint::max();
    if (!state.pendingLine.empty()) {
        next = std::min(next, state.lastReceived + options.lineGap);
    }
    if (!state.replies.empty()) {
        next = std::min(next, state.replies.front().due);
    }
    if (state.masterPaused) {
        next = std::min(next, state.masterRetry);
    }
    if (!state.onTheWire.empty()) {
        next = std::min(next, state.onTheWire.front().first);
    }
    if (options.baud > 0 && !state.output.empty()) {
        next = std::min(next, std::max(now, state.wireOutFree + ByteTime(options)));
    }
    if (state.hangingUp) {
        next = std::min(next, now + StreamTick);
    } else if (StreamActive(options, state) && state.output.empty()) {
        next = std::min(next, options.streamRate == 0
                                  ? now
                                  : state.streamLastTick + StreamWait(options, state));
    }
    if (next == TimePoint::max()) {
        return nullptr;
    }
    *wait = WaitUntil(next, now);
    return wait;
}

bool SignalReceived(const pollfd& signalFd) {
    if ((signalFd.revents & POLLIN) == 0) {
        return false;
    }
    char drain[16];
    while (read(signalPipe[0], drain, sizeof drain) > 0) {
    }
    return true;
}

void HandleTimers(const Options& options, State& state, TimePoint now) {
    if (state.masterPaused && now >= state.masterRetry) {
        state.masterPaused = false;
    }
    TakeFromWire(options, state, now);
    if (!state.pendingLine.empty() && now >= state.lastReceived + options.lineGap) {
        CompleteLine(options, state, now);
    }
    ReleaseDueReplies(options, state, now);
}

void Run(const Options& options, State& state) {
    state.streamLastTick = Clock::now();
    for (;;) {
        ServiceStream(options, state, Clock::now());
        FlushOutput(options, state);
        const TimePoint now = Clock::now();
        if (state.hangingUp && ReadyToVanish(state, now)) {
            return;
        }
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {state.master, POLLIN, 0}};
        if (state.masterPaused) {
            fds[1].fd = -1;
        } else if (!state.output.empty() && options.baud == 0) {
            fds[1].events |= POLLOUT;
        }
        timespec wait{};
        if (ppoll(fds, 2, PollTimeout(options, state, now, &wait), nullptr) < 0 && errno != EINTR) {
            FailErrno("ppoll");
        }
        if (SignalReceived(fds[0])) {
            return;
        }
        const TimePoint woke = Clock::now();
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ReadMaster(options, state, woke);
        }
        // A hang-up that read did not report as EIO would otherwise wake poll at once forever.
        if ((fds[1].revents & (POLLHUP | POLLERR)) != 0 && !state.masterPaused) {
            state.masterPaused = true;
            state.masterRetry = woke + MasterRetryPause;
        }
        HandleTimers(options, state, woke);
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    State state;
    if (!options.recordPath.empty()) {
        state.record = open(options.recordPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (state.record < 0) {
            FailErrno("cannot open " + options.recordPath);
        }
    }
    InstallSignalHandlers();
    const std::string slavePath = OpenPty(state);
    MakeLink(options, slavePath);
    std::printf("ready %s\n", slavePath.c_str());
    std::fflush(stdout);

    Run(options, state);

    close(state.master);
    RemoveLink(options);
    return 0;
}
