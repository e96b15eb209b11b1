#include "common/ui/waitpainting.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include "common/clock.h"

namespace tarvik {
namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close:
      return true;
    default:
      return false;
  }
}

// Drops the input that comes from the window system while the event loop
// that installed it runs; a nested loop (a dialog's) is left alone. A close
// made by the program itself is not spontaneous and passes.
class InputDropper final : public QObject {
 public:
  InputDropper() : level_(QThread::currentThread()->loopLevel()) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~InputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }
  InputDropper(const InputDropper&) = delete;
  InputDropper& operator=(const InputDropper&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!event->spontaneous() || !IsUserInput(event->type()) ||
        QThread::currentThread()->loopLevel() > level_) {
      return QObject::eventFilter(watched, event);
    }
    // A refused close, so the system does not take the window for closed.
    if (event->type() == QEvent::Close) event->ignore();
    return true;
  }

 private:
  int level_;
};

}  // namespace

void ProcessEventsDroppingInput(int maxMs) {
  if (QCoreApplication::instance() == nullptr) return;
  const InputDropper dropper;
  if (maxMs > 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, maxMs);
  } else {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

void WaitPainting(UiSync& sync, const std::function<bool()>& done, const std::function<void()>& eachTurn) {
  constexpr std::uint32_t kTurnMs = 10;
  Clock& clock = SystemClock();
  while (!done()) {
    const std::uint32_t start = clock.TickMs();
    // Sleeps between checks and wakes for every step a worker hands over.
    sync.WaitServicing([&] { return done() || TickDiff(clock.TickMs(), start) >= kTurnMs; });
    ProcessEventsDroppingInput();
    if (eachTurn) eachTurn();
  }
}

}  // namespace tarvik
