#pragma once
// A wait on the UI thread for a worker that keeps the program looking alive
// without letting the user act: the worker's steps run, the windows repaint
// and timers fire, but user input waits until the wait is over.
#include <functional>

#include "common/uisync.h"

namespace tarvik {

// Returns once done() holds. eachTurn, when given, runs on every turn (about
// every 10 ms), for example to apply queued output.
void WaitPainting(UiSync& sync, const std::function<bool()>& done,
                  const std::function<void()>& eachTurn = {});

}  // namespace tarvik
