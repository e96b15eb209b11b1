// Loading a full-size HEX file into the viewer's grid: 4096 rows, 64 KiB of
// data in 16-byte records, as text in memory and as a file read from disk.
// bench/hexfile_python.py times Python's intelhex on the same file, read,
// parsed and laid out in the same 16-byte rows, for comparison.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "firmware/hexfile.h"
#include "simulator/hexrecord.h"

namespace {

// The byte at an address; hexfile_python.py computes the same.
std::uint8_t ByteAt(unsigned address) {
  return static_cast<std::uint8_t>((address * 7 + (address >> 8)) & 0xFF);
}

std::string Hex(unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

std::string FullSizeHexText() {
  std::string text;
  for (unsigned address = 0; address < 0x10000; address += 16) {
    std::string data;
    for (unsigned i = 0; i < 16; ++i) data += Hex(ByteAt(address + i), 2);
    text += tarvik::sim::HexRecord(address, 0, data) + "\r\n";
  }
  return text + ":00000001FF\r\n";
}

void Count(benchmark::State& state, const tarvik::HexLoad& load, std::size_t textSize) {
  if (!load.Ok() || load.DataRows != 4096) state.SkipWithError("the file did not load");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * textSize));
  state.counters["rows"] = load.DataRows;
}

void BM_LoadHexText(benchmark::State& state) {
  const std::string text = FullSizeHexText();
  tarvik::HexLoad load;
  for (auto _ : state) {
    load = tarvik::LoadHexText(text);
    benchmark::DoNotOptimize(load.Grid.Rows.data());
  }
  Count(state, load, text.size());
}
BENCHMARK(BM_LoadHexText)->Unit(benchmark::kMicrosecond);

void BM_LoadHexFileFromDisk(benchmark::State& state) {
  const std::string text = FullSizeHexText();
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tarvik-bench-" + std::to_string(::getpid()) + ".hex");
  std::ofstream(path, std::ios::binary) << text;
  tarvik::HexLoad load;
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    const std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    load = tarvik::LoadHexText(read);
    benchmark::DoNotOptimize(load.Grid.Rows.data());
  }
  std::filesystem::remove(path);
  Count(state, load, text.size());
}
BENCHMARK(BM_LoadHexFileFromDisk)->Unit(benchmark::kMicrosecond);

}  // namespace
