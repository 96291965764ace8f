#include "shell/qt/output_pane_edit.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QRegion>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <cstring>

#include "core/terminal_session.h"
#include "shell/pane_characters.h"

namespace {

// Repaints only the parts whose look changed. Under a talking device the range and value change
// every tick, but the handle moves a few pixels at most; and Fusion paints the bar with fills the
// height of the pane, which Qt's raster engine hands to a thread pool, so repainting the whole
// bar cost more than drawing the new text.
class PaneScrollBar : public QScrollBar {
    // Styles draw the handle's edge and shadow a pixel or so beyond its rectangle.
    static constexpr int HandleShadow = 2;

  public:
    using QScrollBar::QScrollBar;

  protected:
    void sliderChange(SliderChange change) override {
        const Appearance now = Look();
        if ((change != SliderRangeChange && change != SliderValueChange) ||
            now.canScroll != shown_.canScroll) {
            QScrollBar::sliderChange(change);
            return;
        }
        QRegion changed;
        if (now.handle != shown_.handle) {
            changed += now.handle.united(shown_.handle).adjusted(0, -HandleShadow, 0, HandleShadow);
        }
        // The arrows look disabled at the ends.
        if (now.atMinimum != shown_.atMinimum) {
            changed += Part(QStyle::SC_ScrollBarSubLine);
        }
        if (now.atMaximum != shown_.atMaximum) {
            changed += Part(QStyle::SC_ScrollBarAddLine);
        }
        update(changed);
    }

    void paintEvent(QPaintEvent* event) override {
        shown_ = Look();
        QScrollBar::paintEvent(event);
    }

  private:
    // What the style draws from the range and the value.
    struct Appearance {
        QRect handle;
        bool canScroll = false;
        bool atMinimum = false;
        bool atMaximum = false;
    };

    QRect Part(QStyle::SubControl part) const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ScrollBar, &option, part, this);
    }

    Appearance Look() const {
        return {Part(QStyle::SC_ScrollBarSlider), minimum() < maximum(), value() == minimum(),
                value() == maximum()};
    }

    Appearance shown_;
};

OutputPaneEdit* Pane() {
    return static_cast<OutputPaneEdit*>(TerminalSession.OutputPane);
}

} // namespace

OutputPaneEdit::OutputPaneEdit(QWidget* typingTarget, QWidget* parent)
    : QPlainTextEdit(parent), typingTarget_(typingTarget) {
    setReadOnly(true);
    // Read-only still lets the user select by keyboard and mouse and copy with Ctrl+C.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // The core gives up old text by itself; an undo history would only hold on to it.
    setUndoRedoEnabled(false);
    setVerticalScrollBar(new PaneScrollBar(Qt::Vertical, this));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFrameShape(QFrame::NoFrame);
}

std::size_t OutputPaneEdit::Copy(std::size_t start, char* buffer, std::size_t count) const {
    if (start >= bytes_.size()) {
        return 0;
    }
    return bytes_.copy(buffer, count, start);
}

void OutputPaneEdit::EraseFront(std::size_t count) {
    count = std::min(count, bytes_.size());
    if (count == 0) {
        return;
    }
    const auto hidden = std::count(bytes_.data(), bytes_.data() + count, '\r');
    const auto lineBreaks =
        static_cast<std::size_t>(std::count(bytes_.data(), bytes_.data() + count, '\n'));
    const int end = static_cast<int>(count - static_cast<std::size_t>(hidden));
    const bool follow = ShowsNewest();
    // QPlainTextEdit keeps its view as a line number from the top, so text taken off the
    // front would make a reader's view jump ahead by as many lines as went: the view is kept
    // as the block at its top and the line within it instead.
    const QTextBlock top = firstVisibleBlock();
    const int topBlock = top.blockNumber();
    const int lineInTopBlock = verticalScrollBar()->value() - top.firstLineNumber();
    // The document layout remembers its widest line by block number, also once that line has
    // gone; laying out the block that now has the number makes it search every block for the
    // widest again, which gives each block a layout of its own, a few hundred bytes apiece.
    // A cursor lays out the block it lands on, except inside an edit block.
    QTextCursor cut(document());
    cut.beginEditBlock();
    cut.setPosition(end, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    cut.endEditBlock();
    bytes_.erase(0, count);
    lineFeeds_ -= lineBreaks;
    // The document reclaims removed characters once they add up, and the line breaks removed
    // with them at the same time: only line breaks beyond the other characters count.
    const std::size_t otherCharacters = static_cast<std::size_t>(end) - lineBreaks;
    lineBreaksKept_ += lineBreaks;
    lineBreaksKept_ -= std::min(lineBreaksKept_, otherCharacters);
    if (lineBreaksKept_ >= DocumentRebuildLineBreaks) {
        RebuildDocument();
    }
    if (follow) {
        ShowNewest();
    } else {
        ShowFrom(topBlock - static_cast<int>(lineBreaks), lineInTopBlock);
    }
}

void OutputPaneEdit::InsertAtEnd(const char* text) {
    const std::size_t count = std::strlen(text);
    if (count == 0) {
        return;
    }
    const bool follow = ShowsNewest();
    bytes_.append(text, count);
    lineFeeds_ += static_cast<std::size_t>(std::count(text, text + count, '\n'));
    // While the view follows the newest text, the document layout would have the whole view
    // repainted for every line that comes, yet all that changes is the view moving up and the
    // text from the old last line down: the layout's signals wait, and the scroll bar and the
    // repaint are seen to here. Scrolling copies what is already painted.
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    const QTextBlock oldLast = document()->lastBlock();
    {
        const QSignalBlocker quiet(follow ? layout : nullptr);
        // A cursor of its own, so that a selection the user is copying from stays in place;
        // placed inside an edit block for the reason given in EraseFront.
        QTextCursor end(document());
        end.beginEditBlock();
        end.setPosition(document()->characterCount() - 1);
        end.insertText(DisplayText(text, count));
        end.endEditBlock();
    }
    if (follow) {
        emit layout->documentSizeChanged(layout->documentSize());
        ShowNewest();
        const QPointF changed =
            blockBoundingGeometry(oldLast).translated(contentOffset()).topLeft();
        viewport()->update(
            QRect(QPoint(0, static_cast<int>(changed.y())), viewport()->rect().bottomRight()));
    }
    if (lineFeeds_ >= OutputPaneLineLimit) {
        EraseFront(LinesLength(lineFeeds_ + 1 - OutputPaneLineLimit + OutputPaneLineTrimBlock));
    }
}

std::size_t OutputPaneEdit::LinesLength(std::size_t lines) const {
    std::size_t length = 0;
    for (; lines > 0 && length < bytes_.size(); --lines) {
        const void* lineFeed = std::memchr(bytes_.data() + length, '\n', bytes_.size() - length);
        if (lineFeed == nullptr) {
            return bytes_.size();
        }
        length = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - bytes_.data()) + 1;
    }
    return length;
}

void OutputPaneEdit::RebuildDocument() {
    // Same text, fresh storage; the user's selection stays, and the caller puts the view back.
    const QTextCursor selection = textCursor();
    const int anchor = selection.anchor();
    const int position = selection.position();
    document()->setPlainText(DisplayText(bytes_.data(), bytes_.size()));
    QTextCursor restored(document());
    restored.setPosition(anchor);
    restored.setPosition(position, QTextCursor::KeepAnchor);
    setTextCursor(restored);
    lineBreaksKept_ = 0;
}

QString OutputPaneEdit::DisplayText(const char* bytes, std::size_t count) {
    QString text(static_cast<qsizetype>(count), Qt::Uninitialized);
    QChar* out = text.data();
    qsizetype length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t shown = PaneCharacters[static_cast<unsigned char>(bytes[i])];
        // QTextCursor::insertText makes each LF a new block.
        if (shown != PaneHidden) {
            out[length++] = QChar(shown);
        }
    }
    text.truncate(length);
    return text;
}

void OutputPaneEdit::keyPressEvent(QKeyEvent* event) {
    // Ctrl combinations (copying a selection) and keys that type nothing (arrows, page keys)
    // stay with the pane; Alt and Meta combinations are commands, not typing.
    constexpr Qt::KeyboardModifiers NotTyping =
        Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if ((event->modifiers() & NotTyping) || event->text().isEmpty()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    typingTarget_->setFocus(Qt::OtherFocusReason);
    // Enter only brings the focus over: a line runs on Enter pressed in the input line.
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QCoreApplication::sendEvent(typingTarget_, event);
    }
    event->accept();
}

void OutputPaneEdit::resizeEvent(QResizeEvent* event) {
    // Rewrapping changes the number of lines; a view that showed the newest text keeps doing so.
    const bool follow = ShowsNewest();
    QPlainTextEdit::resizeEvent(event);
    if (follow) {
        ShowNewest();
    }
}

bool OutputPaneEdit::ShowsNewest() const {
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void OutputPaneEdit::ShowNewest() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void OutputPaneEdit::ShowFrom(int blockNumber, int lineInBlock) {
    if (blockNumber < 0) {
        blockNumber = 0; // the line at the top of the view went: the view shows the oldest text
        lineInBlock = 0;
    }
    const QTextBlock block = document()->findBlockByNumber(blockNumber);
    // A block not laid out since the document was built counts as one line, however it wraps.
    document()->documentLayout()->blockBoundingRect(block);
    verticalScrollBar()->setValue(block.firstLineNumber() +
                                  std::min(lineInBlock, std::max(0, block.lineCount() - 1)));
}

// The window's pane primitives (core/pane_primitives.h), which shell/pane_router.h hands the
// core.

std::size_t WindowPaneLength() {
    return Pane() != nullptr ? Pane()->Length() : 0;
}

std::size_t WindowPaneCopy(std::size_t start, char* buffer, std::size_t count) {
    return Pane() != nullptr ? Pane()->Copy(start, buffer, count) : 0;
}

void WindowPaneErase(std::size_t count) {
    if (Pane() != nullptr) {
        Pane()->EraseFront(count);
    }
}

void WindowPaneInsertAtEnd(const char* text, PaneText /*from*/) {
    if (Pane() != nullptr) {
        Pane()->InsertAtEnd(text);
    }
}
