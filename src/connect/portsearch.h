#pragma once
// The automatic port search: every port of a list is opened in turn, asked
// for its version and closed again, until one answers as a known device or
// as a bootloader. Each probe is a short-lived connection on the main log, so
// its traffic shows there. A port that cannot be opened (missing, or held by
// another program, which the serial layer's exclusive open refuses) is
// skipped without a word; one that fails during its probe (an adapter pulled
// out) is skipped with a line in the log, so a device on a later port is
// still found. No port stays open when the search ends.
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/uisync.h"
#include "device/deviceevents.h"
#include "firmware/catalogue.h"

namespace tarvik {

// What a search needs from the main window.
struct PortSearchSetup {
  // Where the probes' traffic lines go; nothing else of it hears of them.
  DeviceEvents& Log;
  UiSync& Sync;
  // Tells a known device by its version reply; without one only a bootloader
  // is accepted.
  const FirmwareCatalogue* Catalogue = nullptr;
  Clock& Time = SystemClock();
};

// Called on the searching thread.
struct PortSearchEvents {
  // The port at this index answered something (the dialog selects it).
  std::function<void(std::size_t index)> Answered;
  // How many ports have been probed so far.
  std::function<void(std::size_t probed)> Progress;
  // The port at this index failed during its probe, for this reason (the
  // serial layer's message); the search goes on with the next.
  std::function<void(std::size_t index, const std::string& reason)> Failed;
};

// "Порт " + port + " не удалось опросить: " + reason
std::string ProbeFailedText(const std::string& port, const std::string& reason);

// The version query of a probe: "+v" with CR LF, "OK", one attempt of
// 1000 ms, logged.
inline constexpr const char* kProbeCommand = "+v\r\n";
inline constexpr std::int32_t kProbeTimeoutMs = 1000;

// A version reply of a device the tool can serve: a version the catalogue
// knows (the whole reply is read), or a bootloader ("BOOT" in the reply in
// any letter case, Cyrillic included).
bool AcceptsProbeReply(const FirmwareCatalogue* catalogue, const std::string& reply);

// The index of the first port that is accepted, or none. A stop ends the
// search before the next port. An error of the serial layer during a probe
// closes that port, is logged and told through Failed, and the search goes
// on.
std::optional<std::size_t> SearchPorts(const std::vector<std::string>& ports, const PortSearchSetup& setup,
                                       const PortSearchEvents& events, const std::atomic<bool>& stop);

// How the probe of one port ended.
enum class ProbeVerdict {
  Accepted,   // a device the tool can serve
  NotOpened,  // missing, held by another program, not a serial line
  Silent,     // no answer in time
  Foreign,    // an answer, but not one of a device the tool serves
  Failed,     // the line failed during the probe
};

struct PortProbe {
  ProbeVerdict verdict = ProbeVerdict::Silent;
  // NotOpened, Failed: the serial layer's message; Foreign: the answer.
  std::string detail;
};

// Every port of the list probed at once, one thread each, so silent ones
// cost one probe's time in all: a bench that works on all the devices
// plugged in, and tells why each other port was passed over. In the list's
// order.
std::vector<PortProbe> ProbeEveryPort(const std::vector<std::string>& ports, const PortSearchSetup& setup);

}  // namespace tarvik
