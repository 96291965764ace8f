#include "shell/qt/left_control_key.h"

#include <QCoreApplication>
#include <QKeyEvent>

LeftControlKey::LeftControlKey(QObject* parent) : QObject(parent) {
    QCoreApplication::instance()->installEventFilter(this);
}

bool LeftControlKey::HeldFor(const QKeyEvent* event) const {
    // A release missed while another program had the keyboard would otherwise leave the key
    // held for good; the event's own modifiers show whether any Ctrl key is still down.
    return down_ && (event->modifiers() & Qt::ControlModifier);
}

bool LeftControlKey::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->nativeVirtualKey() == LeftControlKeysym) {
            down_ = event->type() == QEvent::KeyPress;
        }
        break;
    }
    case QEvent::ApplicationStateChange:
        // Keys pressed or released while another program has the keyboard never reach us.
        if (static_cast<const QApplicationStateChangeEvent*>(event)->applicationState() !=
            Qt::ApplicationActive) {
            down_ = false;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
