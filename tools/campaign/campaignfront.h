#pragma once
// The one place where the campaign drives the tool, through the entry points
// its front ends use: the windows' way (a connection, identification, then
// the reflash worker as the reflash window starts it, or the service reflash
// as the service menu starts it) and tarvik-cli's (RunCli in this process).
// What the user would have seen comes back as plain facts.
#include <functional>
#include <string>

#include "campaign/campaignplan.h"
#include "common/clock.h"

namespace tarvik::campaign {

struct FrontRequest {
  const Plan& plan;
  // The port as a user names it to tarvik-cli: "/dev/pts/3", a link's path,
  // or "COM10".
  std::string port;
  // The service reflash: the HEX file, as the viewer and tarvik-cli read it.
  std::string hexPath;
  Clock& clock;
  // Asked again and again on the thread that serves the windows or the
  // command line: true once the user wants out (the reflash window's exit
  // button; Ctrl+C). Asked no more once it has said so.
  std::function<bool()> userWantsOut = {};
  // false: a reflash without faults that nobody stops.
  bool mayStop = true;
  // The windows: the update decision made as a technician answers it (the
  // device type and the image of the plan, no rules file), and the image it
  // offers written, rather than the plan's image handed straight over.
  bool decide = false;
};

struct FrontResult {
  bool portOpened = false;
  // The device answered and the reflash could be started.
  bool identified = false;
  // "Перепрошивка успешно завершена!" (the window, tarvik-cli), or a service
  // reflash that wrote every group and settled.
  bool successShown = false;
  // "В процессе перепрошивки возникли ошибки!", a failure line of the
  // service reflash, or tarvik-cli's exit code 5.
  bool failureShown = false;
  // The worker's outcome, or tarvik-cli's exit code, as text.
  std::string outcome;
  int exitCode = -1;
  // The exit button or Ctrl+C took effect; the exit button was disabled
  // when the user wanted out.
  bool stopMade = false;
  bool stopRefused = false;
  // Success or failure shown after the stop took effect.
  bool verdictAfterStop = false;
  // What kept the front end from its work (the port did not open).
  std::string error;
  // With decide: "the image" when the decision offered the plan's image,
  // "another image" or "nothing" when not; empty without a decision.
  std::string offered;
};

FrontResult RunFront(const FrontRequest& request);

}  // namespace tarvik::campaign
