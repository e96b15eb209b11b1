#pragma once
// For window tests: input as the window system hands it to the program, a
// click, a key or a close from the title bar, put into the program's queue
// of system events. Delivered the next time the event loop takes such
// events; a wait that holds user input back delivers it only afterwards.
#include <qpa/qwindowsysteminterface.h>

#include <QPoint>
#include <QWidget>
#include <QWindow>

namespace tarvik::test {

using SystemQueue = QWindowSystemInterface::AsynchronousDelivery;

// A left click at the point of the widget (its centre by default).
inline void PostSystemClick(QWidget* widget, QPoint at = QPoint(-1, -1)) {
  if (at.x() < 0) at = widget->rect().center();
  QWidget* window = widget->window();
  QWindow* handle = window->windowHandle();
  const QPointF local = widget->mapTo(window, at);
  const QPointF global = widget->mapToGlobal(at);
  QWindowSystemInterface::handleMouseEvent<SystemQueue>(handle, local, global, Qt::LeftButton, Qt::LeftButton,
                                                        QEvent::MouseButtonPress);
  QWindowSystemInterface::handleMouseEvent<SystemQueue>(handle, local, global, Qt::NoButton, Qt::LeftButton,
                                                        QEvent::MouseButtonRelease);
}

// A key pressed and released on the window that has the focus within window.
inline void PostSystemKey(QWidget* window, int key) {
  QWindow* handle = window->window()->windowHandle();
  QWindowSystemInterface::handleKeyEvent<SystemQueue>(handle, QEvent::KeyPress, key, Qt::NoModifier);
  QWindowSystemInterface::handleKeyEvent<SystemQueue>(handle, QEvent::KeyRelease, key, Qt::NoModifier);
}

// The close button of the title bar.
inline void PostSystemClose(QWidget* window) {
  QWindowSystemInterface::handleCloseEvent<SystemQueue>(window->window()->windowHandle());
}

}  // namespace tarvik::test
