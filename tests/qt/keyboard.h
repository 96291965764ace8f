// Key presses as the xcb platform hands them to a window: the X keysym as the native virtual
// key, the X keycode as the native scan code, the control character as the text of a Ctrl
// combination, delivered to the window, which gives them to its focus widget.
#pragma once

#include <QCoreApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>
#include <QWindow>

#include "shell/qt/left_control_key.h"

class Keyboard {
  public:
    explicit Keyboard(QWidget* window) : window_(window) {}

    // X keycodes of the standard PC keymap (xkb "evdev").
    static constexpr quint32 LeftControlKeycode = 37;
    static constexpr quint32 RightControlKeycode = 105;
    static constexpr quint32 ReturnKeycode = 36;
    static constexpr quint32 ReturnKeysym = 0xff0d;
    static constexpr quint32 BackspaceKeysym = 0xff08;
    // X's ControlMask, the native modifiers of an event while a Ctrl key is down.
    static constexpr quint32 ControlMask = 0x4;

    // Types printable Latin-1 text; the keysym of such a character is its code.
    void Type(const QString& text) {
        for (const QChar character : text) {
            const int key = character.toUpper().unicode();
            Click(key, QString(character), 0, character.unicode());
        }
    }

    void Enter() { Click(Qt::Key_Return, QStringLiteral("\r"), ReturnKeycode, ReturnKeysym); }
    void Backspace() { Click(Qt::Key_Backspace, QStringLiteral("\b"), 0, BackspaceKeysym); }

    // Ctrl+letter while a Ctrl key is held: the text is the control character.
    void ControlLetter(char letter) {
        const QChar upper = QChar::fromLatin1(letter).toUpper();
        Click(upper.unicode(), QString(QChar(upper.unicode() - '@')), 0,
              QChar::fromLatin1(letter).toLower().unicode());
    }

    void LeftControlDown() { ControlKey(QEvent::KeyPress, LeftControlKeycode, LeftControlKeysym); }
    void LeftControlUp() { ControlKey(QEvent::KeyRelease, LeftControlKeycode, LeftControlKeysym); }
    void RightControlDown() {
        ControlKey(QEvent::KeyPress, RightControlKeycode, RightControlKeysym);
    }
    void RightControlUp() {
        ControlKey(QEvent::KeyRelease, RightControlKeycode, RightControlKeysym);
    }

    // Forgets a Ctrl key without a release, as when the key goes up in another program.
    void ForgetControl() { controlsDown_ = 0; }

  private:
    void Click(int key, const QString& text, quint32 keycode, quint32 keysym) {
        Send(QEvent::KeyPress, key, Modifiers(), text, keycode, keysym);
        Send(QEvent::KeyRelease, key, Modifiers(), text, keycode, keysym);
    }

    void ControlKey(QEvent::Type type, quint32 keycode, quint32 keysym) {
        // X reports the state before the event: a Ctrl press already counts as held in Qt's
        // modifiers, a release no longer does.
        controlsDown_ += type == QEvent::KeyPress ? 1 : -1;
        const Qt::KeyboardModifiers modifiers =
            type == QEvent::KeyPress ? Qt::ControlModifier : Modifiers();
        Send(type, Qt::Key_Control, modifiers, QString(), keycode, keysym);
    }

    Qt::KeyboardModifiers Modifiers() const {
        return controlsDown_ > 0 ? Qt::ControlModifier : Qt::NoModifier;
    }

    void Send(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, const QString& text,
              quint32 keycode, quint32 keysym) {
        const quint32 nativeModifiers = (modifiers & Qt::ControlModifier) ? ControlMask : 0;
        QKeyEvent event(type, key, modifiers, keycode, keysym, nativeModifiers, text);
        QCoreApplication::sendEvent(window_->windowHandle(), &event);
    }

    QWidget* window_;
    int controlsDown_ = 0;
};
