#include "outqueue/outarray.h"

#include "common/text.h"

namespace tarvik {

TOutArray::TOutArray(Clock& clock) : clock_(clock) {}

TOutArray::~TOutArray() = default;

std::size_t TOutArray::RingCount() const {
  return static_cast<std::size_t>((writeIndex_ - readIndex_ + kSlots) % kSlots);
}

void TOutArray::Push(std::unique_ptr<TOutElement> element) {
  if (!element || element->Kind == kOutNone) return;
  std::lock_guard lock(mutex_);
  // Once something waits in the overflow, later pushes queue behind it so
  // the order stays the push order.
  if (!overflow_.empty() || RingCount() == kSlots - 1) {
    overflow_.push_back(std::move(element));
    return;
  }
  slots_[writeIndex_] = std::move(element);
  writeIndex_ = Next(writeIndex_);
}

namespace {

std::unique_ptr<TMemoOut> NewMemoOut(UiObject* memo, const std::string& text, bool addLine,
                                     std::chrono::system_clock::time_point when, bool timestamped) {
  const std::string stamp = timestamped ? FormatLocalDateTime(when) + " " : std::string();
  return std::make_unique<TMemoOut>(memo, stamp + text, addLine ? 1 : 0, when, stamp.size());
}

}  // namespace

void TOutArray::PushMemoLine(UiObject* memo, const std::string& text, bool addLine, bool timestamped) {
  Push(NewMemoOut(memo, text, addLine, clock_.WallNow(), timestamped));
}

void TOutArray::PushMemoLineAt(UiObject* memo, const std::string& text,
                               std::chrono::system_clock::time_point when, bool timestamped) {
  Push(NewMemoOut(memo, text, true, when, timestamped));
}

void TOutArray::PushControl(UiObject* target, const std::string& text) {
  Push(std::make_unique<TControlOut>(kOutControl, target, text));
}

void TOutArray::PushMenuItem(UiObject* target, const std::string& text) {
  Push(std::make_unique<TCompOut>(target, text));
}

void TOutArray::PushMessage(const std::string& text) { Push(std::make_unique<TMsgOut>(text)); }

void TOutArray::PushStatus(const std::string& text, UiObject* panel) {
  Push(std::make_unique<TStatusOut>(text, panel));
}

std::uint8_t TOutArray::PeekKind() const {
  std::lock_guard lock(mutex_);
  if (readIndex_ == writeIndex_) return kOutNone;
  return slots_[readIndex_]->Kind;
}

std::uint8_t TOutArray::Pop(TOutElement*& element) {
  element = nullptr;
  std::unique_ptr<TOutElement> taken;
  std::unique_ptr<TOutElement> previous;
  {
    std::lock_guard lock(mutex_);
    if (readIndex_ == writeIndex_) return kOutNone;
    taken = std::move(slots_[readIndex_]);
    readIndex_ = Next(readIndex_);
    if (!overflow_.empty()) {
      slots_[writeIndex_] = std::move(overflow_.front());
      overflow_.pop_front();
      writeIndex_ = Next(writeIndex_);
    }
  }
  // The element handed out last time is released here, outside the lock.
  previous = std::move(current_);
  current_ = std::move(taken);
  element = current_.get();
  return element->Kind;
}

std::int32_t TOutArray::ReadIndex() const {
  std::lock_guard lock(mutex_);
  return readIndex_;
}

std::int32_t TOutArray::WriteIndex() const {
  std::lock_guard lock(mutex_);
  return writeIndex_;
}

std::size_t TOutArray::Pending() const {
  std::lock_guard lock(mutex_);
  return RingCount() + overflow_.size();
}

}  // namespace tarvik
