// The one-line input field: Enter runs the typed line through the core.
#pragma once

#include <QLineEdit>

#include <cstddef>

class LeftControlKey;

class InputLineEdit : public QLineEdit {
    Q_OBJECT

  public:
    InputLineEdit(const LeftControlKey* leftControl, QWidget* parent);

    // The text as the core reads it: Latin-1 bytes (a character beyond Latin-1 becomes '?'),
    // at most capacity - 1 of them, and a NUL.
    void Read(char* buffer, std::size_t capacity) const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    const LeftControlKey* leftControl_;
};
