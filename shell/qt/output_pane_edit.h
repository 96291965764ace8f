// The output pane: what the device sent and the terminal's own messages, read-only.
//
// The core counts and cuts the pane in bytes (a CR LF is two), while the document behind a
// QPlainTextEdit counts characters and breaks lines into blocks. A byte copy of the pane is
// therefore kept beside the document and is what the pane primitives answer from; the
// document shows it, one character per byte except for CR:
//   - LF ends a line, so CR LF, a bare LF and the CR CR LF of a device that sends CR LF each
//     show as one line break;
//   - a lone CR shows as nothing: the text after it goes on in the same line;
//   - TAB is a tab; the other control bytes 0x01-0x1F and 0x7F show as their Unicode control
//     pictures (U+2401 ...), 0x80-0x9F as U+FFFD, so that no byte vanishes unseen;
//   - every other byte is its Latin-1 character.
#pragma once

#include <QPlainTextEdit>

#include <cstddef>
#include <string>

class OutputPaneEdit : public QPlainTextEdit {
    Q_OBJECT

  public:
    // Characters typed into the pane go to `typingTarget`.
    OutputPaneEdit(QWidget* typingTarget, QWidget* parent);

    // The pane primitives of core/pane.h, in bytes.
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

    QWidget* typingTarget_;
    std::string bytes_;
};
