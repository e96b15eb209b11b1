// The standard streams on Windows: a closed one has no number that a file
// opened later could take, so there is nothing to claim.
#include "common/stdstreams.h"

namespace tarvik {

void EnsureStandardStreams() {}

}  // namespace tarvik
