#pragma once
// Where the reflash window stands with its reflash.
#include <cstdint>

namespace tarvik {

enum class TFlashState : std::int32_t {
  Idle = 0,      // no reflash started since the window was shown
  Starting = 1,  // start pressed, the worker being created
  Running = 2,   // the worker has begun; stays so when it ends without success
  Done = 3,      // the worker reported success, or could not be created
};

}  // namespace tarvik
