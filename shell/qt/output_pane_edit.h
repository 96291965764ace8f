// The output pane: what the device sent and the terminal's own messages, read-only.
//
// The core counts and cuts the pane in bytes (a CR LF is two), while the document behind a
// QPlainTextEdit counts characters and breaks lines into blocks. A byte copy of the pane is
// therefore kept beside the document and is what the pane primitives answer from; the
// document shows it, one character per byte except for CR, as shell/pane_characters.h says.
//
// Besides the core's character limit the pane keeps at most OutputPaneLineLimit lines (the
// rule is stated in docs/using.md): a line of the document costs a few hundred bytes whatever its
// length, so a device that sends only line breaks would otherwise fill the character limit with
// half a million lines and the process with hundreds of MB.
#pragma once

#include <QPlainTextEdit>

#include <cstddef>
#include <string>

#include "core/pane.h"

// At most this many lines: with empty lines the whole process then stays under about 100 MB,
// and no one scrolls back through more by hand.
constexpr std::size_t OutputPaneLineLimit = 100000;
// Old lines go in blocks of this many, as characters do in the core, so that a full pane is not
// cut at every append.
constexpr std::size_t OutputPaneLineTrimBlock = OutputPaneLineLimit / 16;
// The document keeps the storage of the line breaks it removes until it reclaims that of other
// removed characters, which it does only once those add up: a pane fed empty lines would grow
// by a few bytes per line for ever. After this many line breaks have gone beyond the other
// characters removed with them, the document is built afresh from the pane's bytes: that
// bounds the waste at a few MB, and since a rebuild costs about as much as appending the lines
// it holds, it adds at most a quarter to the cost of showing lines.
constexpr std::size_t DocumentRebuildLineBreaks = 4 * OutputPaneLineLimit;

// The pane primitives of core/pane_primitives.h over the window's pane.
std::size_t WindowPaneLength();
std::size_t WindowPaneCopy(std::size_t start, char* buffer, std::size_t count);
void WindowPaneErase(std::size_t count);
void WindowPaneInsertAtEnd(const char* text, PaneText from);

class OutputPaneEdit : public QPlainTextEdit {
    Q_OBJECT

  public:
    // Characters typed into the pane go to `typingTarget`.
    OutputPaneEdit(QWidget* typingTarget, QWidget* parent);

    // The pane primitives of core/pane_primitives.h, in bytes.
    std::size_t Length() const { return bytes_.size(); }
    std::size_t Copy(std::size_t start, char* buffer, std::size_t count) const;
    void EraseFront(std::size_t count);
    void InsertAtEnd(const char* text);

    // The text the document shows for `bytes`, as inserted into it.
    static QString DisplayText(const char* bytes, std::size_t count);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    bool ShowsNewest() const;
    void ShowNewest();
    // Scrolls so that the view starts at line `lineInBlock` of block `blockNumber`.
    void ShowFrom(int blockNumber, int lineInBlock);
    // The bytes of the first `lines` lines, each with its line feed.
    std::size_t LinesLength(std::size_t lines) const;
    void RebuildDocument();

    QWidget* typingTarget_;
    std::string bytes_;
    // Line feeds in bytes_: the pane shows one more line than this.
    std::size_t lineFeeds_ = 0;
    // Line breaks removed from the document, beyond the other characters removed with them,
    // since it was last built afresh.
    std::size_t lineBreaksKept_ = 0;
};
