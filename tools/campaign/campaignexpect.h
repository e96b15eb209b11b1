#pragma once
// What a reflash must end in, worked out from the tool's rules and the
// device's promises alone, before it runs: which answers the tool takes,
// which it tries again after, and which end the reflash. Where the end
// depends on timing (an answer that comes after its time-out can pass for
// the next attempt's) or on a rule the tool may read either way, either end
// is allowed.
#include <string>

#include "campaign/campaignplan.h"

namespace tarvik::campaign {

enum class Expected { Success, Failure, Either };

struct Expectation {
  Expected outcome = Expected::Either;
  // Why, for a message: the step and fault that decide it.
  std::string reason;
};

const char* ExpectedName(Expected expected);

// The reflash of the plan's image into its device, which sits in its
// bootloader or not; withFaults false: the device answers every command as
// it should and nobody stops the reflash.
Expectation Expect(const Plan& plan, bool inBootloader, bool withFaults);

}  // namespace tarvik::campaign
