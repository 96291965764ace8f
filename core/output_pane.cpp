#include <cstdio>
#include <cstring>

#include "core/log_file.h"
#include "core/pane.h"
#include "core/pane_primitives.h"
#include "core/session_log.h"
#include "core/terminal_session.h"

namespace {

// "18:42:07.123 " and its NUL.
constexpr std::size_t StampCapacity = 16;
// A hex row: 16 bytes of three characters, a gap after the eighth, the characters between bars.
constexpr std::size_t HexRowBytes = 16;
constexpr std::size_t HexRowCapacity = HexRowBytes * 3 + 1 + 2 + HexRowBytes + 1 + 3;
// A line of the text being stamped; the longest is a whole chunk's display text.
constexpr std::size_t SegmentCapacity = 2 * 65535 + 1;
// The hex rows of one read: at most a chunk's bytes, each three characters and a share of the
// row's end.
constexpr std::size_t HexTextCapacity = 65535 / HexRowBytes * HexRowCapacity + HexRowCapacity;

char Segment[SegmentCapacity];
char HexText[HexTextCapacity];

// Holds the stretch of the pane searched for a line end when room is made.
char LineSearchBuffer[OutputPaneLineSearch];

// Where the oldest text can be cut so that at least `needed` characters go: just after the
// first line feed at or past that point, or exactly there when no line ends close by.
std::size_t TrimLength(std::size_t needed, std::size_t length) {
    std::size_t cut = needed + OutputPaneTrimBlock;
    if (cut >= length) {
        return length;
    }
    const std::size_t copied = PaneCopy(cut, LineSearchBuffer, OutputPaneLineSearch);
    const void* lineFeed = std::memchr(LineSearchBuffer, '\n', copied);
    if (lineFeed != nullptr) {
        cut += static_cast<std::size_t>(static_cast<const char*>(lineFeed) - LineSearchBuffer) + 1;
    }
    return cut;
}

void Insert(const char* text, PaneText from) {
    const std::size_t textLength = std::strlen(text);
    if (textLength >= OutputPaneLimit) {
        // Nothing already shown can stay; of the new text only its newest part fits.
        PaneErase(PaneLength());
        PaneInsertAtEnd(text + (textLength - OutputPaneLimit), from);
        return;
    }
    const std::size_t length = PaneLength();
    if (length + textLength > OutputPaneLimit) {
        PaneErase(TrimLength(length + textLength - OutputPaneLimit, length));
    }
    PaneInsertAtEnd(text, from);
}

// An empty text is appended all the same: the Windows pane gives up the user's selection at
// every append, as it always has.
void Append(const char* text, PaneText from) {
    Insert(text, from);
    if (text[0] != '\0') {
        TerminalSession.PaneLineOpen = text[std::strlen(text) - 1] != '\n';
    }
}

// Appends `text`, each line that starts in it led by the time `at` when times are shown.
void AppendStamped(const char* text, PaneText from, unsigned long long at) {
    if (!TerminalSession.ShowTimes) {
        Append(text, from);
        return;
    }
    const LocalTime t = LocalTimeAt(at);
    char stamp[StampCapacity];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", t.hour, t.minute, t.second,
                  t.millisecond);
    while (*text != '\0') {
        const char* lineFeed = std::strchr(text, '\n');
        const std::size_t length =
            lineFeed != nullptr ? static_cast<std::size_t>(lineFeed - text) + 1 : std::strlen(text);
        if (!TerminalSession.PaneLineOpen) {
            Append(stamp, from);
        }
        std::memcpy(Segment, text, length);
        Segment[length] = '\0';
        Append(Segment, from);
        text += length;
    }
}

// Ends the open hex row: the missing bytes' room, then the row's characters.
void FinishHexRow() {
    const std::size_t count = TerminalSession.HexRowLength;
    if (count == 0) {
        return;
    }
    char row[HexRowCapacity];
    std::size_t at = 0;
    for (std::size_t i = count; i < HexRowBytes; ++i) {
        at += static_cast<std::size_t>(std::snprintf(row + at, sizeof row - at, "   "));
    }
    if (count <= HexRowBytes / 2) {
        row[at++] = ' ';
    }
    row[at++] = ' ';
    row[at++] = '|';
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(TerminalSession.HexRow[i]);
        row[at++] = byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
    }
    std::snprintf(row + at, sizeof row - at, "|\r\n");
    TerminalSession.HexRowLength = 0;
    Append(row, PaneText::Device);
}

bool LastLineHoldsText() {
    const std::size_t length = PaneLength();
    char last = '\n';
    return length > 0 && PaneCopy(length - 1, &last, 1) == 1 && last != '\n';
}

} // namespace

void AppendOutput(const char* text) {
    const unsigned long long now = MonotonicMilliseconds();
    LogBytes(LogSource::Terminal, text, std::strlen(text), now);
    AppendStamped(text, PaneText::Terminal, now);
}

void AppendReport(const char* text) {
    // The same line break that ends a chunk, which both windows show as one.
    if (LastLineHoldsText()) {
        Append("\r\n", PaneText::Terminal);
    }
    AppendOutput(text);
}

void AppendDeviceText(const char* text, unsigned long long takenAt) {
    AppendStamped(text, PaneText::Device, takenAt);
}

void AppendHexRows(const char* bytes, std::size_t count, unsigned long long takenAt) {
    // A chunk starts a row of its own, on a line of its own.
    if (!TerminalSession.ChunkInHex && TerminalSession.PaneLineOpen) {
        Append("\r\n", PaneText::ChunkEnd);
    }
    TerminalSession.ChunkInHex = true;
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t column = TerminalSession.HexRowLength;
        at += static_cast<std::size_t>(
            std::snprintf(HexText + at, sizeof HexText - at, column == HexRowBytes / 2 ? " %02x " : "%02x ",
                          static_cast<unsigned char>(bytes[i])));
        TerminalSession.HexRow[TerminalSession.HexRowLength++] = bytes[i];
        if (TerminalSession.HexRowLength == HexRowBytes) {
            HexText[at] = '\0';
            AppendStamped(HexText, PaneText::Device, takenAt);
            at = 0;
            FinishHexRow();
        }
    }
    HexText[at] = '\0';
    AppendStamped(HexText, PaneText::Device, takenAt);
}

void ShowBytesInHex(bool on) {
    if (!on) {
        FinishHexRow();
        TerminalSession.ChunkInHex = false;
    }
    TerminalSession.ShowHex = on;
}

void ClearOutput() {
    PaneErase(PaneLength());
    TerminalSession.PaneLineOpen = false;
}

void ReportLogFailure() {
    const char* failure = TakeLogFailure();
    if (failure[0] != '\0') {
        AppendReport(failure);
    }
}

void EndReceivedChunk() {
    if (TerminalSession.ReceivedInChunk == 0) {
        return;
    }
    TerminalSession.ReceivedInChunk = 0;
    LogChunkEnd();
    // Shown in hex, the chunk's last row ends its line.
    if (TerminalSession.ChunkInHex) {
        FinishHexRow();
        TerminalSession.ChunkInHex = false;
        return;
    }
    // Outside uploads every chunk ends a line; during one the device's one-character answers
    // collect on a single line.
    if (!TerminalSession.Uploading) {
        Append("\r\n", PaneText::ChunkEnd);
    }
}
