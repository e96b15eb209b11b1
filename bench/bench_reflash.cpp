// A full reflash of image 1 (1568 records, 392 groups) by the reflash worker
// against the device simulator paced at 19200 bit/s, on the real clock, for
// a device that takes 0, 10 or 30 ms to program a group. The device runs as
// a process of its own, so the CPU time measured here is the tool's alone.
//
// The floor is what the line and the protocol cost whatever the tool does:
// per group the fixed pauses (40 ms after the write, 60 ms of RTS settling
// in the exchange), the wire time of the command and of its echo at 10 bits
// a byte, and the device's latency; plus "BL" and "BE" (pauses and wire) and
// the 1.5 s settle wait. The ratio wall / floor says what the tool adds.
//
// A pseudo-terminal has no transmitter: the write returns at once and the
// command crosses the "wire" (the simulator's pacing) while the exchange's
// last 20 ms RTS pause runs. pty_floor counts that overlap, so pty_ratio is
// what the tool adds on this line. view 0 runs without window steps, to show
// what handing them to the UI thread costs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/uisync.h"
#include "device/controller.h"
#include "device/devtarvik6.h"
#include "firmware/catalogue.h"
#include "reflash/updatethread.h"
#include "serial/comportworker.h"
#include "simprocess.h"

namespace {

using namespace tarvik;

constexpr double kByteMs = 10.0 * 1000.0 / 19200.0;
constexpr double kPausesPerGroupMs = 40.0 + 60.0;
constexpr double kPausesPerExchangeMs = 60.0;
constexpr double kSettleMs = 1500.0;

using bench::SimProcess;

// Takes every step as a window would, without drawing anything, and notes
// when the verdict came: the reflash's end as the user sees it.
class QuietView final : public ReflashView {
 public:
  void MarkRunning() override {}
  void ShowFailure(const ReflashReport&) override { ended = std::chrono::steady_clock::now(); }
  void ShowStage(ReflashStage) override {}
  void ShowProgress(std::int32_t, std::int32_t) override {}
  void ShowElapsed(const std::string&) override {}
  void ShowRemaining(const std::string&) override {}
  void DisableExit() override {}
  void ShowSuccess(const ReflashReport&) override { ended = std::chrono::steady_clock::now(); }

  std::chrono::steady_clock::time_point ended{};
};

// The UI thread of the window: an event loop that sleeps until the worker
// hands it a step, as the windows' loop does, rather than a wait that looks
// again every few milliseconds.
class UiLoop {
 public:
  explicit UiLoop(UiStepQueue& sync) : sync_(sync) {
    sync_.SetWakeHook([this] {
      {
        std::lock_guard lock(mutex_);
        woken_ = true;
      }
      wake_.notify_one();
    });
  }
  void RunUntilFinished(TWorkerThread& thread) {
    while (!thread.Finished()) {
      {
        std::unique_lock lock(mutex_);
        // The end of the thread wakes nobody here: look for it now and then.
        wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return woken_; });
        woken_ = false;
      }
      sync_.RunPending();
    }
    thread.WaitFor();
  }

 private:
  UiStepQueue& sync_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One exchange: the RTS pauses, the command and the answer on the wire.
// With overlap the command's wire time runs beside the last pause.
double ExchangeMs(std::size_t commandBytes, std::size_t answerBytes, bool overlap) {
  const double commandMs = static_cast<double>(commandBytes) * kByteMs;
  const double answerMs = static_cast<double>(answerBytes) * kByteMs;
  constexpr double kLastPauseMs = kPausesPerExchangeMs / 3;
  if (!overlap) return kPausesPerExchangeMs + commandMs + answerMs;
  return kPausesPerExchangeMs - kLastPauseMs + std::max(kLastPauseMs, commandMs) + answerMs;
}

double FloorMs(const std::vector<WriteGroup>& groups, double latencyMs, bool overlap) {
  const std::size_t echoBytes = std::string("000\r\nOK\r\n").size();
  const std::size_t okBytes = std::string("OK\r\n").size();
  double floor = kSettleMs;
  for (const char* command : {"BL", "BE"})
    floor += ExchangeMs(FrameCommand(command).size(), okBytes, overlap);
  for (const WriteGroup& group : groups) {
    floor += kPausesPerGroupMs - kPausesPerExchangeMs + latencyMs +
             ExchangeMs(FrameCommand(group.command).size(), echoBytes, overlap);
  }
  return floor;
}

void BM_ReflashImage1(benchmark::State& state) {
  const auto latencyMs = static_cast<int>(state.range(0));
  FirmwareCatalogue catalogue;
  catalogue.LoadCatalogue();
  const std::vector<std::string>& lines = catalogue.ImageLines().at(0);
  const std::vector<WriteGroup> groups = BuildWriteCommands(lines);
  const double floorMs = FloorMs(groups, latencyMs, false);
  const double ptyFloorMs = FloorMs(groups, latencyMs, true);
  double wallMs = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    SimProcess sim({"--version-reply", "VER 14.001.040", "--unit-name", "QTN", "--erase-ms", "0",
                    "--write-latency", std::to_string(latencyMs)});
    TComPortWorker worker(sim.PortName(), false, nullptr);
    worker.Open();
    TController controller(&worker, SilentDeviceEvents());
    UiStepQueue sync;
    UiLoop loop(sync);
    QuietView view;
    TUpdateThread task(sync);
    DeviceIdentity device = DeviceIdentity::FromVersionLine("VER 14.001.040");
    device.TypeNumber = 1;
    task.SetDevice(device);
    task.SetImageLines(lines);
    task.SetController(&controller);
    if (state.range(1) != 0) task.SetView(&view);

    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    task.SetStartTime(std::chrono::system_clock::now());
    task.Resume();
    loop.RunUntilFinished(task.Thread());
    cpuMs = (CpuSeconds() - cpuStart) * 1000.0;
    wallMs = std::chrono::duration<double, std::milli>(
                 (state.range(1) != 0 ? view.ended : std::chrono::steady_clock::now()) - start)
                 .count();
    if (task.Outcome() != ReflashOutcome::Succeeded) state.SkipWithError("the reflash did not succeed");
    worker.Close();
  }
  state.counters["wall_s"] = wallMs / 1000.0;
  state.counters["floor_s"] = floorMs / 1000.0;
  state.counters["ratio"] = wallMs / floorMs;
  state.counters["pty_floor_s"] = ptyFloorMs / 1000.0;
  state.counters["pty_ratio"] = wallMs / ptyFloorMs;
  state.counters["cpu_s"] = cpuMs / 1000.0;
  state.counters["cpu_pct"] = 100.0 * cpuMs / wallMs;
}
BENCHMARK(BM_ReflashImage1)
    ->ArgNames({"latency_ms", "view"})
    ->Args({0, 1})
    ->Args({10, 1})
    ->Args({30, 1})
    ->Args({0, 0})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->Repetitions(1)
    ->UseRealTime();

}  // namespace
