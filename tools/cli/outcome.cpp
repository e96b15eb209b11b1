#include "cli/outcome.h"

#include <algorithm>

namespace tarvik::cli {

const OutcomeRow& RowOf(DeviceOutcome outcome) {
  return *std::find_if(kOutcomes.begin(), kOutcomes.end(),
                       [outcome](const OutcomeRow& row) { return row.outcome == outcome; });
}

ExitCode BatchExitCode(const std::vector<DeviceOutcome>& outcomes) {
  for (const OutcomeRow& row : kOutcomes) {
    if (std::find(outcomes.begin(), outcomes.end(), row.outcome) != outcomes.end()) return row.code;
  }
  return ExitCode::Done;
}

}  // namespace tarvik::cli
