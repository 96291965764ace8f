// Sending a line without its line feed needs the left Ctrl key held, not the right one, and
// Qt's modifier flags do not say which side is down.
#pragma once

#include <QObject>

class QKeyEvent;

// X keysyms of the two Ctrl keys (X11/keysymdef.h). The xcb and wayland platforms both hand the
// keysym to Qt as the key event's native virtual key (QKeyEvent::nativeVirtualKey).
constexpr quint32 LeftControlKeysym = 0xffe3;  // XK_Control_L
constexpr quint32 RightControlKeysym = 0xffe4; // XK_Control_R

// Follows the left Ctrl key through the key events of the whole application, whichever widget
// has the focus when it goes down.
class LeftControlKey : public QObject {
    Q_OBJECT

  public:
    explicit LeftControlKey(QObject* parent = nullptr);

    // Whether the left Ctrl key is held as `event` arrives.
    bool HeldFor(const QKeyEvent* event) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool down_ = false;
};
