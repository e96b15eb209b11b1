#include "connect/portsearch.h"

#include <thread>

#include "common/text.h"
#include "device/connection.h"
#include "firmware/firmwareversion.h"
#include "firmware/selection.h"
#include "serial/comportworker.h"
#include "serial/deviceerror.h"

namespace tarvik {
namespace {

enum class ProbeResult { NotOpened, Silent, Answered, Failed };

// reply: the answer, or why the probe failed.
ProbeResult Probe(const std::string& port, const PortSearchSetup& setup, std::string& reply) {
  // A probe only logs: should its line drop, nothing of the main window (its
  // disconnect button above all) may react.
  LogOnlyEvents events(setup.Log);
  // Its destructor closes the port on every way out, an error included.
  TConnection connection(ConnectionSetup{.Events = events, .Sync = setup.Sync, .Time = setup.Time});
  try {
    connection.Open(port);
  } catch (const EDeviceError& e) {
    reply = e.what();
    return ProbeResult::NotOpened;
  }
  bool answered = false;
  try {
    answered = connection.PortWorker()->Exchange(kProbeCommand, reply,
                                                 {.Terminator = "OK",
                                                  .Attempts = 1,
                                                  .TimeoutMs = kProbeTimeoutMs,
                                                  .TerminatorRequired = false,
                                                  .LogTraffic = true});
  } catch (const EDeviceError& e) {
    reply = e.what();
    connection.WriteLog(ProbeFailedText(port, reply));
    connection.Close();
    return ProbeResult::Failed;
  }
  connection.Close();
  return answered ? ProbeResult::Answered : ProbeResult::Silent;
}

}  // namespace

std::string ProbeFailedText(const std::string& port, const std::string& reason) {
  return Utf8ToCp1251("Порт ") + port + Utf8ToCp1251(" не удалось опросить: ") + reason;
}

bool AcceptsProbeReply(const FirmwareCatalogue* catalogue, const std::string& reply) {
  bool notRelease = false;
  if (catalogue != nullptr && IsVersionSupported(*catalogue, reply, notRelease)) return true;
  return LooksLikeBootloaderAnswer(reply);
}

std::optional<std::size_t> SearchPorts(const std::vector<std::string>& ports, const PortSearchSetup& setup,
                                       const PortSearchEvents& events, const std::atomic<bool>& stop) {
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (stop.load()) break;
    std::string reply;
    const ProbeResult result = Probe(ports[i], setup, reply);
    if (result == ProbeResult::Answered) {
      if (events.Answered) events.Answered(i);
      if (AcceptsProbeReply(setup.Catalogue, reply)) return i;
    } else if (result == ProbeResult::Failed && events.Failed) {
      events.Failed(i, reply);
    }
    if (events.Progress) events.Progress(i + 1);
  }
  return std::nullopt;
}

std::vector<PortProbe> ProbeEveryPort(const std::vector<std::string>& ports, const PortSearchSetup& setup) {
  std::vector<PortProbe> probed(ports.size());
  std::vector<std::thread> probes;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    probes.emplace_back([&, i] {
      PortProbe& probe = probed[i];
      switch (Probe(ports[i], setup, probe.detail)) {
        case ProbeResult::NotOpened:
          probe.verdict = ProbeVerdict::NotOpened;
          break;
        case ProbeResult::Silent:
          probe.verdict = ProbeVerdict::Silent;
          probe.detail.clear();
          break;
        case ProbeResult::Failed:
          probe.verdict = ProbeVerdict::Failed;
          break;
        case ProbeResult::Answered:
          probe.verdict = AcceptsProbeReply(setup.Catalogue, probe.detail) ? ProbeVerdict::Accepted
                                                                           : ProbeVerdict::Foreign;
          break;
      }
    });
  }
  for (std::thread& probe : probes) probe.join();
  return probed;
}

}  // namespace tarvik
