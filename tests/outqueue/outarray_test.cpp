#include "outqueue/outarray.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/text.h"
#include "support/fakeclock.h"

namespace tarvik {
namespace {

UiObject* Handle(std::uintptr_t n) { return reinterpret_cast<UiObject*>(n); }

std::string PopText(TOutArray& q) {
  TOutElement* e = nullptr;
  if (q.Pop(e) == kOutNone) return "<empty>";
  switch (e->Kind) {
    case kOutMemo:
      return static_cast<TMemoOut*>(e)->Text;
    case kOutControl:
      return static_cast<TControlOut*>(e)->Text;
    case kOutComponent:
      return static_cast<TCompOut*>(e)->Text;
    case kOutMessage:
      return static_cast<TMsgOut*>(e)->Text;
    case kOutStatus:
      return static_cast<TStatusOut*>(e)->Text;
    default:
      return "?";
  }
}

TEST(OutArray, FreshQueueIsEmpty) {
  TOutArray q;
  TOutElement* e = nullptr;
  EXPECT_EQ(q.PeekKind(), kOutNone);
  EXPECT_EQ(q.Pop(e), kOutNone);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(q.ReadIndex(), 1);
  EXPECT_EQ(q.WriteIndex(), 1);
}

TEST(OutArray, EachPushKeepsItsKindAndFieldsInPushOrder) {
  TOutArray q;
  q.PushMemoLine(Handle(1), "line", false, false);
  q.PushControl(Handle(2), "CLICK");
  q.PushMenuItem(Handle(3), "false");
  q.PushMessage("msg");
  q.PushStatus("VER 14.002.020", Handle(4));
  const std::uint8_t kinds[] = {kOutMemo, kOutControl, kOutComponent, kOutMessage, kOutStatus};
  for (std::uint8_t kind : kinds) {
    EXPECT_EQ(q.PeekKind(), kind);
    TOutElement* e = nullptr;
    ASSERT_EQ(q.Pop(e), kind);
    switch (kind) {
      case kOutMemo: {
        auto* m = static_cast<TMemoOut*>(e);
        EXPECT_EQ(m->Memo, Handle(1));
        EXPECT_EQ(m->Text, "line");
        EXPECT_EQ(m->AddLine, 0);
        break;
      }
      case kOutControl:
        EXPECT_EQ(static_cast<TControlOut*>(e)->Target, Handle(2));
        break;
      case kOutComponent:
        EXPECT_EQ(static_cast<TCompOut*>(e)->Target, Handle(3));
        break;
      case kOutMessage:
        EXPECT_EQ(static_cast<TMsgOut*>(e)->Text, "msg");
        break;
      case kOutStatus:
        EXPECT_EQ(static_cast<TStatusOut*>(e)->Panel, Handle(4));
        break;
      default:
        break;
    }
  }
  EXPECT_EQ(q.PeekKind(), kOutNone);
}

TEST(OutArray, TimestampedMemoLineCarriesLocalDateAndTime) {
  test::FakeClock clock;
  TOutArray q(clock);
  q.PushMemoLine(Handle(1), "x", true, true);
  const std::string expected = FormatLocalDateTime(clock.WallNow()) + " x";
  EXPECT_EQ(PopText(q), expected);
}

// A log that stamps its lines in a form of its own (tarvik-cli's --log)
// finds the line's own text and the time it was pushed, stamped or not.
TEST(OutArray, MemoLineKeepsItsTextAndTimeApartFromTheStamp) {
  for (const bool timestamped : {true, false}) {
    SCOPED_TRACE(timestamped);
    test::FakeClock clock;
    TOutArray q(clock);
    const auto pushed = clock.WallNow();
    q.PushMemoLine(Handle(1), "#com<-: +v", true, timestamped);
    clock.Advance(5000);
    TOutElement* e = nullptr;
    ASSERT_EQ(q.Pop(e), kOutMemo);
    const auto& memo = *static_cast<TMemoOut*>(e);
    EXPECT_EQ(memo.Text.substr(memo.BodyAt), "#com<-: +v");
    EXPECT_EQ(memo.When, pushed);
    EXPECT_EQ(memo.BodyAt == 0, !timestamped);
  }
}

TEST(OutArray, PoppedElementStaysValidUntilTheNextPop) {
  TOutArray q;
  q.PushMessage("first");
  TOutElement* e = nullptr;
  q.Pop(e);
  for (int i = 0; i < 2000; ++i) q.PushMessage("later");  // also runs past the ring into the overflow
  EXPECT_EQ(static_cast<TMsgOut*>(e)->Text, "first");
}

TEST(OutArray, IndicesWrapAfterAFullRound) {
  TOutArray q;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < TOutArray::kSlots; ++i) {
      q.PushMessage(std::to_string(i));
      EXPECT_EQ(PopText(q), std::to_string(i));
    }
    EXPECT_EQ(q.ReadIndex(), 1);
    EXPECT_EQ(q.WriteIndex(), 1);
    EXPECT_EQ(q.PeekKind(), kOutNone);
  }
}

// A full ring must not read as empty: the pending elements and everything
// pushed after them all come out, in push order.
TEST(OutArray, NothingIsLostPastTheRingLimit) {
  for (int count : {1023, 1024, 1025, 5000}) {
    TOutArray q;
    for (int i = 0; i < count; ++i) q.PushMessage(std::to_string(i));
    EXPECT_EQ(q.Pending(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) ASSERT_EQ(PopText(q), std::to_string(i)) << "of " << count;
    EXPECT_EQ(q.PeekKind(), kOutNone);
  }
}

TEST(OutArray, PushesInterleavedWithPopsBeyondTheLimitKeepOrder) {
  TOutArray q;
  int pushed = 0;
  int popped = 0;
  for (int step = 0; step < 50; ++step) {
    for (int i = 0; i < 300; ++i) q.PushMessage(std::to_string(pushed++));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(PopText(q), std::to_string(popped++));
  }
  while (popped < pushed) ASSERT_EQ(PopText(q), std::to_string(popped++));
  EXPECT_EQ(q.PeekKind(), kOutNone);
}

// Many producers and the consumer at once: every element arrives exactly
// once, and each producer's elements arrive in its own order. Run under
// ThreadSanitizer too.
TEST(OutArray, ConcurrentProducersDeliverEverythingOnceInProducerOrder) {
  constexpr int kProducers = 6;
  constexpr int kEach = 20000;
  TOutArray q;
  std::atomic<int> running{kProducers};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i)
        q.PushStatus(std::to_string(i), Handle(static_cast<std::uintptr_t>(p + 1)));
      running.fetch_sub(1);
    });
  }
  std::vector<int> next(kProducers, 0);
  int total = 0;
  while (running.load() > 0 || q.PeekKind() != kOutNone) {
    TOutElement* e = nullptr;
    if (q.Pop(e) == kOutNone) {
      std::this_thread::yield();
      continue;
    }
    auto* s = static_cast<TStatusOut*>(e);
    const auto p = reinterpret_cast<std::uintptr_t>(s->Panel) - 1;
    ASSERT_LT(p, static_cast<std::uintptr_t>(kProducers));
    ASSERT_EQ(s->Text, std::to_string(next[p])) << "producer " << p;
    ++next[p];
    ++total;
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(total, kProducers * kEach);
}

TEST(MemoLineAt, QueuesLinesStampedWithTheTimeTheyWereWritten) {
  test::FakeClock clock;
  TOutArray q(clock);
  const auto written = clock.WallNow();
  std::thread worker([&] {
    q.PushMemoLineAt(Handle(7), "$$$: ", written, true);
    q.PushMemoLineAt(Handle(7), "#com<-: +v\r", written, true);
  });
  worker.join();
  const std::string stamp = FormatLocalDateTime(written);
  for (const char* text : {"$$$: ", "#com<-: +v\r"}) {
    TOutElement* e = nullptr;
    ASSERT_EQ(q.Pop(e), kOutMemo);
    auto* m = static_cast<TMemoOut*>(e);
    EXPECT_EQ(m->Memo, Handle(7));
    EXPECT_EQ(m->AddLine, 1);
    EXPECT_EQ(m->Text, stamp + " " + text);
  }
}

}  // namespace
}  // namespace tarvik
