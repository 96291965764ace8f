#include "core/session_log.h"

#include <cstdio>
#include <cstring>

#include "core/terminal_session.h"

namespace {

// The longest path a log is written to, as the upload's path field holds.
constexpr std::size_t LogPathCapacity = UploadPathCapacity;
// A stamp and its who-spoke word.
constexpr std::size_t LogHeadCapacity = 48;
// A piece is written once it is whole, or in parts of about this size: one write for the
// short pieces of a line's bytes and answers, a few for a chunk of many lines.
constexpr std::size_t LogPieceCapacity = 65536;
// The most one byte adds: a line end, a line head and an escape.
constexpr std::size_t LogByteMost = 1 + LogHeadCapacity + 4;

char Path[LogPathCapacity];
bool Running = false;
// The source of the log line still open (its head written, not its end), or none.
bool LineOpen = false;
LogSource OpenSource = LogSource::Device;
char Piece[LogPieceCapacity];
std::size_t PieceLength = 0;
// Why the log stopped, until the pane has said it.
char FailureReport[LogPathCapacity + LogFileReasonCapacity + 32];

void Put(const char* text, std::size_t count) {
    std::memcpy(Piece + PieceLength, text, count);
    PieceLength += count;
}

// Hands the piece to the system in one write. A failure stops the log; the pane says why once.
void WritePiece() {
    char reason[LogFileReasonCapacity] = "";
    const bool written = PieceLength == 0 || WriteLogFile(Piece, PieceLength, reason);
    PieceLength = 0;
    if (!written) {
        std::snprintf(FailureReport, sizeof FailureReport, "the log stopped: %s: %s\n", Path,
                      reason);
        Running = false;
        CloseLogFile();
    }
}

void PutHead(LogSource from, unsigned long long takenAt) {
    const LocalTime t = LocalTimeAt(takenAt);
    static const char* const Words[] = {"device  ", "sent    ", "terminal"};
    char head[LogHeadCapacity];
    const int length = std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s ",
                                     t.year, t.month, t.day, t.hour, t.minute, t.second,
                                     t.millisecond, Words[static_cast<int>(from)]);
    Put(head, static_cast<std::size_t>(length));
    LineOpen = true;
    OpenSource = from;
}

void PutLineEnd() {
    if (LineOpen) {
        Put("\n", 1);
        LineOpen = false;
    }
}

void PutEscaped(char byte) {
    const unsigned char value = static_cast<unsigned char>(byte);
    char escape[5];
    if (byte == '\\') {
        Put("\\\\", 2);
    } else if (byte == '\r' || byte == '\n' || byte == '\t') {
        escape[0] = '\\';
        escape[1] = byte == '\r' ? 'r' : byte == '\n' ? 'n' : 't';
        Put(escape, 2);
    } else if (value < 0x20 || value >= 0x7f) {
        std::snprintf(escape, sizeof escape, "\\x%02x", value);
        Put(escape, 4);
    } else {
        Put(&byte, 1);
    }
}

} // namespace

bool StartLog(const char* path, char (&reason)[LogFileReasonCapacity]) {
    StopLog();
    if (std::strlen(path) >= LogPathCapacity) {
        std::snprintf(reason, sizeof reason, "the path is longer than %d bytes",
                      static_cast<int>(LogPathCapacity - 1));
        return false;
    }
    if (!OpenLogFile(path, reason)) {
        return false;
    }
    std::snprintf(Path, sizeof Path, "%s", path);
    Running = true;
    LineOpen = false;
    return true;
}

void StopLog() {
    if (!Running) {
        return;
    }
    if (LineOpen) {
        PutLineEnd();
        WritePiece();
    }
    Running = false;
    CloseLogFile();
}

const char* LogPath() {
    return Running ? Path : nullptr;
}

void LogBytes(LogSource from, const char* bytes, std::size_t count, unsigned long long takenAt) {
    if (!Running || count == 0) {
        return;
    }
    // Another's line ends before this one starts.
    if (LineOpen && (OpenSource != from || from == LogSource::Sent)) {
        PutLineEnd();
    }
    for (std::size_t i = 0; i < count && Running; ++i) {
        if (PieceLength + LogByteMost > LogPieceCapacity) {
            WritePiece();
        }
        const char byte = bytes[i];
        if (from == LogSource::Terminal && (byte == '\r' || byte == '\n')) {
            if (byte == '\n') {
                PutLineEnd();
            }
            continue;
        }
        if (!LineOpen) {
            PutHead(from, takenAt);
        }
        PutEscaped(byte);
        if (from == LogSource::Device && byte == '\n') {
            PutLineEnd();
        }
    }
    if (from == LogSource::Sent) {
        PutLineEnd();
    }
    if (Running) {
        WritePiece();
    }
}

void LogChunkEnd() {
    if (Running && LineOpen && OpenSource == LogSource::Device) {
        PutLineEnd();
        WritePiece();
    }
}

const char* TakeLogFailure() {
    static char taken[sizeof FailureReport];
    std::memcpy(taken, FailureReport, sizeof taken);
    FailureReport[0] = '\0';
    return taken;
}
