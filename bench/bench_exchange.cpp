// One Exchange of a full 139-byte write command against the simulated
// device paced at 19200 bit/s, answering at once, on the real clock. The
// floor is the 60 ms of fixed RTS pauses plus the wire time of the command
// and of the reply at 10 bits a byte.
#include <benchmark/benchmark.h>

#include <string>

#include "device/devtarvik6.h"
#include "serial/comportworker.h"
#include "simulator/devicesimulator.h"

namespace {

std::string WriteCommand() {
  std::string data;
  unsigned check = 0;
  for (int i = 0; i < 64; ++i) {
    const unsigned byte = static_cast<unsigned>(i * 37 + 11) & 0xFFu;
    static const char kHex[] = "0123456789ABCDEF";
    data += kHex[byte >> 4];
    data += kHex[byte & 0xF];
    check ^= byte;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string checkText{kHex[check >> 4], kHex[check & 0xF]};
  return tarvik::FrameCommand("W0004:" + data + ":" + checkText);
}

void BM_ExchangeWriteCommand(benchmark::State& state) {
  tarvik::sim::SimOptions options;
  options.startInBootloader = true;
  tarvik::sim::DeviceSimulator sim(options);
  if (!sim.Start()) {
    state.SkipWithError("simulator did not start");
    return;
  }
  tarvik::TComPortWorker worker(sim.SlavePath().substr(5), false, nullptr);
  worker.Open();
  const std::string command = WriteCommand();
  const std::string replyOnWire = "004\r\nOK\r\n";
  std::string reply;
  for (auto _ : state) {
    if (!worker.Exchange(command, reply, {.TimeoutMs = 3500, .LogTraffic = false}))
      state.SkipWithError("no reply");
  }
  const double floorMs =
      60.0 + static_cast<double>(command.size() + replyOnWire.size()) * 10.0 / 19200.0 * 1000.0;
  state.counters["command_bytes"] = static_cast<double>(command.size());
  state.counters["floor_ms"] = floorMs;
  worker.Close();
  sim.Stop();
}
BENCHMARK(BM_ExchangeWriteCommand)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->Repetitions(3)
    ->UseRealTime();

}  // namespace
