#pragma once
// The elapsed and remaining times of a reflash as the reflash window shows
// them.
#include <chrono>
#include <cstdint>
#include <string>

namespace tarvik {

// "59 сек ", "1 мин 0 сек ", "1 ч 0 мин 0 сек ", "1 сут 1 ч 1 мин 1 сек ":
// the largest unit that is not zero and every smaller one, each unit word
// with a blank before and after it. Windows-1251.
std::string FormatDuration(std::uint32_t seconds);

// Whole seconds between the two wall times in either order, the fraction
// dropped; a gap too long for 32 bits gives the largest value.
std::uint32_t ElapsedSeconds(std::chrono::system_clock::time_point now,
                             std::chrono::system_clock::time_point start);

// The time still to go when elapsed seconds bought partsComplete of total
// parts: elapsed / partsComplete * remaining parts in floating point, rounded
// to the nearest whole second with halves to the even neighbour. A full bar
// gives 0. Before the first part there is nothing to go by, and the elapsed
// time stands in, as it does at the start of a reflash.
std::uint32_t RemainingSeconds(std::uint32_t elapsed, std::int32_t partsComplete, std::int32_t total);

// The time a reflash has still to go, judged by its writes alone: the erase
// before them takes as long as the device needs and says nothing of their
// pace. writingMs: since the first write went out; the groups written and
// those still to write; settleMs: the wait after the last write. Rounded to
// whole seconds as RemainingSeconds rounds.
std::uint32_t RemainingFromWrites(std::uint64_t writingMs, std::size_t written, std::size_t left,
                                  std::uint32_t settleMs);

}  // namespace tarvik
