#include "shell/qt/input_line_edit.h"

#include <QKeyEvent>

#include <algorithm>
#include <cstring>

#include "core/input_line_commands.h"
#include "core/pane.h"
#include "core/terminal_session.h"
#include "shell/qt/left_control_key.h"

namespace {

// The core reads no more than this of a line, so the field takes no more.
constexpr int InputLineCharacterLimit = static_cast<int>(InputLineCapacity - 1);

InputLineEdit* InputLine() {
    return static_cast<InputLineEdit*>(TerminalSession.InputLine);
}

} // namespace

InputLineEdit::InputLineEdit(const LeftControlKey* leftControl, QWidget* parent)
    : QLineEdit(parent), leftControl_(leftControl) {
    setMaxLength(InputLineCharacterLimit);
}

void InputLineEdit::Read(char* buffer, std::size_t capacity) const {
    // One byte per character both ways, as the pane shows received bytes.
    const QByteArray bytes = text().toLatin1();
    const std::size_t count = std::min(static_cast<std::size_t>(bytes.size()), capacity - 1);
    std::memcpy(buffer, bytes.constData(), count);
    buffer[count] = '\0';
}

void InputLineEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // The core reads the line, runs it and empties the field; Enter itself inserts nothing.
        // The history keeps the line as typed, also what Latin-1 cannot send.
        RememberLine(&history_, text().toUtf8().constData());
        ExecuteInputLine(leftControl_->HeldFor(event));
        event->accept();
        emit LineEntered();
        return;
    }
    if (key == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        // Whatever the desktop's key bindings say Ctrl+A means, here it selects the line.
        selectAll();
        event->accept();
        return;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && !(event->modifiers() & Qt::ControlModifier)) {
        // Ctrl+Up and Ctrl+Down keep what the field does with them.
        const char* line = key == Qt::Key_Up ? RecallEarlier(&history_, text().toUtf8().constData())
                                             : RecallLater(&history_);
        if (line != nullptr) {
            setText(QString::fromUtf8(line));
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// The window's input line for the core (core/pane_primitives.h).

void WindowReadInputLine(char* buffer, std::size_t capacity) {
    if (InputLine() == nullptr) {
        buffer[0] = '\0';
        return;
    }
    InputLine()->Read(buffer, capacity);
}

void WindowClearInputLine() {
    if (InputLine() != nullptr) {
        InputLine()->clear();
    }
}
