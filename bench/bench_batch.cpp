// N devices flashed from one command (tarvik-cli flash PORT...), each a
// simulator process of its own paced at 19200 bit/s that takes 10 ms to
// program a group, on the real clock: the wall time for N = 1, 2, 4 and 8,
// its ratio to N = 1 (the devices share nothing but the process, so the goal
// is 1.05 at most), the CPU time per device as a share of its wall time, and
// the process's largest resident size. The image is the first 120 records of
// VER 14.002.028 (30 groups), so that a run takes seconds, not a minute; the
// check after the reflash is part of every device's run. The same batch
// behind ser2net on 127.0.0.1 (one server per device, in either kind), held
// against the one local device: the network must cost the batch nothing a
// technician would notice.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "common/text.h"
#include "firmware/catalogue.h"
#include "serial/ser2net.h"
#include "simprocess.h"

namespace {

using namespace tarvik;

constexpr std::size_t kRecords = 120;

using bench::SimProcess;

class NoOutput final : public cli::CliOutput {
 public:
  void Write(cli::Stream, std::string_view) override {}
  bool OutIsTerminal() const override { return false; }
  int Columns() const override { return 0; }
};

// One door detector type and one image: the head of the shipped image 2.
class ShortCatalogue {
 public:
  ShortCatalogue() {
    FirmwareCatalogue shipped;
    shipped.LoadCatalogue();
    const std::vector<std::string>& lines = shipped.ImageLines().at(1);
    for (std::size_t i = 0; i <= kRecords; ++i) image_ += lines.at(i) + "\r\n";
  }
  CatalogueSource Source() const {
    return {.Types = {*DeviceTypeByNumber(2)}, .Resources = {{.Name = {}, .Number = 1, .Data = image_}}};
  }

 private:
  std::string image_;
};

struct Times {
  double wallS = 0;
  double cpuS = 0;
};

Times Usage() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
          seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

double singleWallS = 0;

// How the devices of a batch are reached.
enum class Reach { Local, Rfc2217, Tcp };

void FlashDevices(benchmark::State& state, Reach reach) {
  const auto devices = static_cast<std::size_t>(state.range(0));
  const ShortCatalogue catalogue;
  double wallS = 0;
  double cpuS = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<test::Ser2Net>> servers;
    std::vector<std::string> args = {"flash", "--no-rules", "--image", "1", "--quiet"};
    for (std::size_t i = 0; i < devices; ++i) {
      sims.push_back(std::make_unique<SimProcess>(
          std::vector<std::string>{"--version-reply", "VER 14.002.020", "--erase-ms", "0", "--write-latency",
                                   "10", "--version-after", "VER 14.002.028", "--no-catalogue"}));
      if (reach == Reach::Local) {
        args.push_back(sims.back()->Path());
        continue;
      }
      servers.push_back(std::make_unique<test::Ser2Net>(
          sims.back()->Path(),
          reach == Reach::Rfc2217 ? test::Ser2Net::Kind::Rfc2217 : test::Ser2Net::Kind::Tcp));
      args.push_back(servers.back()->Address());
    }
    NoOutput out;
    cli::CliEnvironment env{.Out = out, .Catalogue = catalogue.Source()};
    const Times start = Usage();
    const cli::ExitCode code = cli::RunCli(args, env);
    const Times end = Usage();
    wallS = end.wallS - start.wallS;
    cpuS = end.cpuS - start.cpuS;
    if (code != cli::ExitCode::Done) state.SkipWithError("not every device was flashed and verified");
  }
  if (reach == Reach::Local && devices == 1) singleWallS = wallS;
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["devices"] = static_cast<double>(devices);
  state.counters["wall_s"] = wallS;
  if (singleWallS > 0) state.counters["ratio_to_1"] = wallS / singleWallS;
  state.counters["cpu_s"] = cpuS;
  // Each device's share: the process's CPU time over the devices, against
  // the wall time each of them took.
  state.counters["cpu_pct_per_device"] = 100.0 * cpuS / static_cast<double>(devices) / wallS;
  state.counters["max_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
void BM_FlashDevicesAtOnce(benchmark::State& state) { FlashDevices(state, Reach::Local); }
// Against the one local device of the run above, which runs first.
void BM_FlashDevicesBehindRfc2217(benchmark::State& state) { FlashDevices(state, Reach::Rfc2217); }
void BM_FlashDevicesBehindTcp(benchmark::State& state) { FlashDevices(state, Reach::Tcp); }

// One batch a run, timed on the wall clock: each lasts seconds.
void OnceEach(benchmark::internal::Benchmark* batch) {
  batch->ArgNames({"devices"})->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(1)->UseRealTime();
}

BENCHMARK(BM_FlashDevicesAtOnce)->Apply(OnceEach)->Arg(1)->Arg(2)->Arg(4)->Arg(8);
BENCHMARK(BM_FlashDevicesBehindRfc2217)->Apply(OnceEach)->Arg(1)->Arg(8);
BENCHMARK(BM_FlashDevicesBehindTcp)->Apply(OnceEach)->Arg(1)->Arg(8);

}  // namespace
