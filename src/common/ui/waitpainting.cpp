#include "common/ui/waitpainting.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "common/clock.h"

namespace tarvik {

void WaitPainting(UiSync& sync, const std::function<bool()>& done, const std::function<void()>& eachTurn) {
  constexpr std::uint32_t kTurnMs = 10;
  Clock& clock = SystemClock();
  while (!done()) {
    const std::uint32_t start = clock.TickMs();
    // Sleeps between checks and wakes for every step a worker hands over.
    sync.WaitServicing([&] { return done() || TickDiff(clock.TickMs(), start) >= kTurnMs; });
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (eachTurn) eachTurn();
  }
}

}  // namespace tarvik
