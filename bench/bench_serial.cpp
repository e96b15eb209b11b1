// Costs of the serial path on a pseudo-terminal, without the fixed RTS and
// reply-poll pauses (those run on a fake clock here).
#include <benchmark/benchmark.h>

#include "serial/comportworker.h"
#include "serial/ptypeer.h"
#include "serial/xcomdrv.h"
#include "support/fakeclock.h"

namespace {

using tarvik::test::PtyPeer;

void BM_WriteThenReadEcho(benchmark::State& state) {
  PtyPeer peer;
  peer.Start([](const std::string& pending) -> std::optional<PtyPeer::Action> {
    return PtyPeer::Action{pending, false};
  });
  tarvik::TXComm port;
  port.SetDeviceName(peer.DeviceName());
  port.Open();
  const std::string line(static_cast<std::size_t>(state.range(0)), 'x');
  std::string buffer(line.size(), '\0');
  for (auto _ : state) {
    port.WriteString(line);
    std::uint32_t got = 0;
    while (got < line.size()) {
      got += port.ReadBuffer(buffer.data() + got, static_cast<std::uint32_t>(line.size()) - got, 1000);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_WriteThenReadEcho)->Arg(16)->Arg(256)->UseRealTime();

void BM_ExchangeOnFakeClock(benchmark::State& state) {
  PtyPeer peer;
  peer.Start(tarvik::test::AnswerEachCommand("VER 14.002.020\r\nOK\r\n"));
  tarvik::test::FakeClock clock;
  tarvik::TComPortWorker worker(peer.DeviceName(), false, nullptr, clock);
  worker.Open();
  std::string reply;
  for (auto _ : state) {
    // A long fake limit: the reply comes in real time while the wait loop
    // only polls the queue.
    if (!worker.Exchange("+v\r\n", reply, {.TimeoutMs = 100'000'000, .LogTraffic = false}))
      state.SkipWithError("no reply");
  }
}
BENCHMARK(BM_ExchangeOnFakeClock)->UseRealTime();

}  // namespace
