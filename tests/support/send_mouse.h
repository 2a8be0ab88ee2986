#pragma once

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

namespace kv::test {

// A mouse event delivered straight to `target`, as the window system would hand it over.
inline void SendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button,
                      Qt::MouseButtons buttons) {
    const QPointF local(5, 5);
    QMouseEvent event(type, local, target->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

}  // namespace kv::test
