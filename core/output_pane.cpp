#include <cstring>

#include "core/pane.h"
#include "core/pane_primitives.h"
#include "core/terminal_session.h"

namespace {

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

void Append(const char* text, PaneText from) {
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

bool LastLineHoldsText() {
    const std::size_t length = PaneLength();
    char last = '\n';
    return length > 0 && PaneCopy(length - 1, &last, 1) == 1 && last != '\n';
}

} // namespace

void AppendOutput(const char* text) {
    Append(text, PaneText::Terminal);
}

void AppendReport(const char* text) {
    // The same line break that ends a chunk, which both windows show as one.
    if (LastLineHoldsText()) {
        Append("\r\n", PaneText::Terminal);
    }
    Append(text, PaneText::Terminal);
}

void AppendDeviceText(const char* text) {
    Append(text, PaneText::Device);
}

void ClearOutput() {
    PaneErase(PaneLength());
}

void EndReceivedChunk() {
    if (TerminalSession.ReceivedInChunk == 0) {
        return;
    }
    TerminalSession.ReceivedInChunk = 0;
    // Outside uploads every chunk ends a line; during one the device's one-character answers
    // collect on a single line.
    if (!TerminalSession.Uploading) {
        Append("\r\n", PaneText::ChunkEnd);
    }
}
