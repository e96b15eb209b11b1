#include "cli/batchrun.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/batchboard.h"
#include "cli/clitexts.h"
#include "cli/devicerun.h"
#include "cli/hurriedclock.h"
#include "device/connection.h"

namespace tarvik::cli {
namespace {

// How often the table is redrawn and Ctrl+C looked for: often enough to
// seem live, rare enough to cost nothing. Not a device's time: the devices
// keep theirs on their own clocks.
constexpr auto kRefresh = std::chrono::milliseconds(100);

}  // namespace

std::vector<DeviceResult> RunBatch(const BatchSetup& setup) {
  const std::size_t count = setup.Ports.size();
  const CliOptions& options = setup.Options;
  BatchBoard board(setup.Out, setup.Ports, options.quiet || options.json, true);
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<Clock>> own;
  std::vector<std::unique_ptr<HurriedClock>> clocks;
  std::vector<DeviceResult> results(count);
  std::vector<bool> ended(count, false);
  std::vector<bool> handed(count, false);
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < count; ++i) {
    own.push_back(setup.DeviceClock ? setup.DeviceClock() : nullptr);
    clocks.push_back(std::make_unique<HurriedClock>(own.back() ? *own.back() : setup.Time));
  }
  for (std::size_t i = 0; i < count; ++i) {
    workers.emplace_back([&, i] {
      const DeviceRunSetup device{.Options = options,
                                  .Port = setup.Ports[i],
                                  .Catalogue = setup.Catalogue,
                                  .Rules = setup.Rules,
                                  .Time = *clocks[i],
                                  .StopAsked = [&stop] { return stop.load(); },
                                  .Log = setup.Log,
                                  .PortPresent = setup.PortPresent,
                                  .Listed = setup.Listed};
      DeviceResult result = RunDevice(device, board.Sink(i));
      {
        const std::lock_guard lock(mutex);
        results[i] = std::move(result);
        ended[i] = true;
      }
      changed.notify_all();
    });
  }

  int interrupts = 0;
  for (;;) {
    std::vector<std::size_t> done;
    bool all = true;
    {
      std::unique_lock lock(mutex);
      changed.wait_for(lock, kRefresh);
      for (std::size_t i = 0; i < count; ++i) {
        if (ended[i] && !handed[i]) done.push_back(i);
        all = all && ended[i];
      }
    }
    for (const std::size_t i : done) {
      workers[i].join();
      handed[i] = true;
      board.Ended(i, results[i]);
      if (setup.Ended) setup.Ended(results[i]);
    }
    board.Refresh();
    if (all) break;
    if (setup.Interrupted && setup.Interrupted()) {
      ++interrupts;
      if (interrupts == 1) {
        // Every device stops between two commands, as a single one does.
        board.Note(ClosingText());
        stop.store(true);
      } else if (interrupts == 2) {
        // No command under way is waited for: each device's waits end now,
        // and its connection closes the ordinary way.
        board.Note(InterruptedText());
        for (const auto& clock : clocks) clock->Hurry();
      }
    }
  }
  if (setup.Summary) board.Summary(results, setup.PassedOver);
  return results;
}

}  // namespace tarvik::cli
