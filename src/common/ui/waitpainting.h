#pragma once
// A wait on the UI thread for a worker that keeps the program looking alive
// without letting the user act: the worker's steps run, the windows repaint
// and timers fire, and what the user does meanwhile (a click, a key, a close
// from the title bar) is dropped, as a disabled window drops it. Held back
// instead, it would all be replayed once the wait is over, long after the
// user gave up on it.
#include <functional>

#include "common/uisync.h"

namespace tarvik {

// Returns once done() holds. eachTurn, when given, runs on every turn (about
// every 10 ms), for example to apply queued output.
void WaitPainting(UiSync& sync, const std::function<bool()>& done,
                  const std::function<void()>& eachTurn = {});

// Processes the pending events for up to maxMs (0: those pending now) and
// drops the user's input among them. A dialog that an event opens meanwhile
// runs its own event loop and takes input as usual.
void ProcessEventsDroppingInput(int maxMs = 0);

}  // namespace tarvik
