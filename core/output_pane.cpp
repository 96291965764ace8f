#include <cstring>

#include "core/pane.h"

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

} // namespace

void AppendOutput(const char* text) {
    const std::size_t textLength = std::strlen(text);
    if (textLength >= OutputPaneLimit) {
        // Nothing already shown can stay; of the new text only its newest part fits.
        PaneErase(PaneLength());
        PaneInsertAtEnd(text + (textLength - OutputPaneLimit));
        return;
    }
    const std::size_t length = PaneLength();
    if (length + textLength > OutputPaneLimit) {
        PaneErase(TrimLength(length + textLength - OutputPaneLimit, length));
    }
    PaneInsertAtEnd(text);
}

void ClearOutput() {
    PaneErase(PaneLength());
}
