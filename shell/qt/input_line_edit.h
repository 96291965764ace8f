// The one-line input field: Enter runs the typed line through the core; Up and Down bring
// back the lines entered before (shell/input_history.h).
#pragma once

#include <QLineEdit>

#include <cstddef>

#include "shell/input_history.h"

class LeftControlKey;

// The input line of core/pane_primitives.h over the window's field.
void WindowReadInputLine(char* buffer, std::size_t capacity);
void WindowClearInputLine();

class InputLineEdit : public QLineEdit {
    Q_OBJECT

  public:
    InputLineEdit(const LeftControlKey* leftControl, QWidget* parent);

    // The text as the core reads it: Latin-1 bytes (a character beyond Latin-1 becomes '?'),
    // at most capacity - 1 of them, and a NUL.
    void Read(char* buffer, std::size_t capacity) const;

  signals:
    // Enter ran the line through the core.
    void LineEntered();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    const LeftControlKey* leftControl_;
    InputHistory history_;
};
