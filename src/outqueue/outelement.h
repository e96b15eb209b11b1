#pragma once
// Output elements: plain records that worker-side code queues for the UI
// thread. Targets are opaque handles of window objects (the Qt layer maps
// them back to its widgets); the core never looks inside them.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/uiobject.h"

namespace tarvik {

enum OutKind : std::uint8_t {
  kOutNone = 0,
  kOutMemo = 1,
  kOutControl = 2,
  kOutComponent = 3,
  kOutList = 4,
  kOutChangeItemInd = 5,
  kOutTriSlider = 6,
  kOutFullList = 7,
  kOutClearList = 8,
  kOutMessage = 9,
  kOutStatus = 10,
  kOutColor = 11,
  kOutStringGrid = 13,
  kOutControl2 = 14,
};

struct TOutElement {
  explicit TOutElement(std::uint8_t kind) : Kind(kind) {}
  virtual ~TOutElement() = default;
  std::uint8_t Kind;
};

struct TMemoOut : TOutElement {
  TMemoOut(UiObject* memo, std::string text, std::uint8_t addLine,
           std::chrono::system_clock::time_point when = {}, std::size_t bodyAt = 0)
      : TOutElement(kOutMemo),
        Memo(memo),
        Text(std::move(text)),
        AddLine(addLine),
        When(when),
        BodyAt(bodyAt) {}
  UiObject* Memo;
  // As the message log shows it: the local date and time in front when the
  // line was pushed timestamped.
  std::string Text;
  std::uint8_t AddLine;
  // When the line was pushed, and where its own text starts in Text, for a
  // log that stamps its lines in a form of its own.
  std::chrono::system_clock::time_point When;
  std::size_t BodyAt;
};

// Kinds 2, 11 and 14.
struct TControlOut : TOutElement {
  TControlOut(std::uint8_t kind, UiObject* target, std::string text)
      : TOutElement(kind), Target(target), Text(std::move(text)) {}
  UiObject* Target;
  std::string Text;
};

struct TCompOut : TOutElement {
  TCompOut(UiObject* target, std::string text)
      : TOutElement(kOutComponent), Target(target), Text(std::move(text)) {}
  UiObject* Target;
  std::string Text;
};

struct TListOut : TOutElement {
  TListOut(UiObject* list, std::string row, std::string text, std::int32_t stateIndex)
      : TOutElement(kOutList),
        List(list),
        Row(std::move(row)),
        Text(std::move(text)),
        StateIndex(stateIndex) {}
  UiObject* List;
  std::string Row;  // 1-based row number as text
  std::string Text;
  std::int32_t StateIndex;
};

struct TChangeItemIndOut : TOutElement {
  TChangeItemIndOut(UiObject* item, std::int32_t stateIndex)
      : TOutElement(kOutChangeItemInd), Item(item), StateIndex(stateIndex) {}
  UiObject* Item;
  std::int32_t StateIndex;
};

struct TTriSliderOut : TOutElement {
  TTriSliderOut(UiObject* slider, std::int32_t thumb, std::string text)
      : TOutElement(kOutTriSlider), Slider(slider), Thumb(thumb), Text(std::move(text)) {}
  UiObject* Slider;
  std::int32_t Thumb;
  std::string Text;
};

struct TFullListOut : TOutElement {
  TFullListOut(UiObject* list, std::string caption, std::vector<std::string> subItems)
      : TOutElement(kOutFullList), List(list), Caption(std::move(caption)), SubItems(std::move(subItems)) {}
  UiObject* List;
  std::string Caption;
  std::vector<std::string> SubItems;
};

struct TClearListOut : TOutElement {
  explicit TClearListOut(UiObject* list) : TOutElement(kOutClearList), List(list) {}
  UiObject* List;
};

struct TMsgOut : TOutElement {
  explicit TMsgOut(std::string text) : TOutElement(kOutMessage), Text(std::move(text)) {}
  std::string Text;
};

struct TStatusOut : TOutElement {
  TStatusOut(std::string text, UiObject* panel)
      : TOutElement(kOutStatus), Text(std::move(text)), Panel(panel) {}
  std::string Text;
  UiObject* Panel;
};

struct TOutStringGrid : TOutElement {
  TOutStringGrid(UiObject* grid, std::int32_t row, std::int32_t col, std::string text)
      : TOutElement(kOutStringGrid), Grid(grid), Row(row), Col(col), Text(std::move(text)) {}
  UiObject* Grid;
  std::int32_t Row;
  std::int32_t Col;
  std::string Text;
};

}  // namespace tarvik
