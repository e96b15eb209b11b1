#pragma once
// The output queue: many producers (worker threads, the log writer, the UI
// thread itself), one consumer (the UI thread's 50 ms drain).
//
// A ring of 1024 slots, indices 1..1024, as the design has it. Two things are
// sounder than a bare lock-free ring: a push holds a small lock for a few
// pointer moves only (so two threads never claim one slot, and a producer
// never waits for the UI thread to apply anything), and when the ring is full
// further elements wait in an overflow list in push order instead of
// overrunning the ring, so nothing pending is ever lost or reordered.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "common/clock.h"
#include "outqueue/outelement.h"

namespace tarvik {

class TOutArray {
 public:
  static constexpr std::int32_t kSlots = 1024;

  explicit TOutArray(Clock& clock = SystemClock());
  TOutArray(const TOutArray&) = delete;
  TOutArray& operator=(const TOutArray&) = delete;
  ~TOutArray();

  void PushMemoLine(UiObject* memo, const std::string& text, bool addLine, bool timestamped);
  // A whole line written at when (a line of a connection's traffic log): the
  // time it shows is when's, not the push's.
  void PushMemoLineAt(UiObject* memo, const std::string& text, std::chrono::system_clock::time_point when,
                      bool timestamped);
  void PushControl(UiObject* target, const std::string& text);
  void PushMenuItem(UiObject* target, const std::string& text);
  void PushMessage(const std::string& text);
  void PushStatus(const std::string& text, UiObject* panel);
  // Any element class; for the kinds that have no push operation of their own.
  void Push(std::unique_ptr<TOutElement> element);

  // 0 when empty, else the kind of the oldest pending element.
  std::uint8_t PeekKind() const;
  // 0 and nullptr when empty. The element stays valid until the next Pop.
  std::uint8_t Pop(TOutElement*& element);

  std::int32_t ReadIndex() const;
  std::int32_t WriteIndex() const;
  // Pending elements, the overflow included.
  std::size_t Pending() const;

 private:
  static std::int32_t Next(std::int32_t index) { return index == kSlots ? 1 : index + 1; }
  std::size_t RingCount() const;  // lock held

  Clock& clock_;
  mutable std::mutex mutex_;
  std::unique_ptr<TOutElement> slots_[kSlots + 1];  // slot 0 unused
  std::int32_t readIndex_ = 1;
  std::int32_t writeIndex_ = 1;
  std::deque<std::unique_ptr<TOutElement>> overflow_;
  // The element the last Pop handed out; only the consumer touches it.
  std::unique_ptr<TOutElement> current_;
};

}  // namespace tarvik
