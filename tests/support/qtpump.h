#pragma once
// For window tests: lets the event loop run (timers, queued steps of the
// workers, the output queue's drain) until done holds; false on time-out.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <functional>

namespace tarvik::test {

inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTest::qWait(2);
  }
  return true;
}

}  // namespace tarvik::test
