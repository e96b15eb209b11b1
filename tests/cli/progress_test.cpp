// The progress line on a terminal: the richest form that fits the width,
// shortened part by part rather than cut off in the middle of a word.
#include "cli/progress.h"

#include <gtest/gtest.h>

#include "cli/clitesting.h"

namespace tarvik {
namespace {

struct WidthCase {
  int columns;  // 0: the terminal does not say
  std::string elapsed;
  std::string remaining;
  // The line as drawn at 42 %, after its leading "\r".
  std::string line;
};

TEST(ProgressLine, FitsTheTerminalAndShortensPartByPart) {
  const WidthCase cases[] = {
      // 80 columns: everything while the times are short.
      {80, "5 сек ", "40 сек ",
       "[########............]  42 %  Времени прошло: 5 сек  Времени осталось: 40 сек"},
      // Longer times: the bar narrows first.
      {80, "45 сек ", "1 мин 2 сек ",
       "[####......]  42 %  Времени прошло: 45 сек  Времени осталось: 1 мин 2 сек"},
      // Longer still: the elapsed time goes, the remaining one stays.
      {80, "12 мин 30 сек ", "17 мин 15 сек ",
       "[########............]  42 %  Времени осталось: 17 мин 15 сек"},
      {80, "1 ч 2 мин 3 сек ", "2 ч 10 мин 0 сек ",
       "[########............]  42 %  Времени осталось: 2 ч 10 мин 0 сек"},
      // A terminal that does not tell its width is taken for 80 columns.
      {0, "5 сек ", "40 сек ",
       "[########............]  42 %  Времени прошло: 5 сек  Времени осталось: 40 сек"},
      // 40 columns: the remaining time without a bar.
      {40, "5 сек ", "40 сек ", " 42 %  Времени осталось: 40 сек"},
      // Narrower: the bar and the per cent, then the per cent alone.
      {30, "5 сек ", "40 сек ", "[########............]  42 %"},
      {20, "5 сек ", "40 сек ", "[####......]  42 %"},
      {10, "5 сек ", "40 сек ", " 42 %"},
      // Too narrow for anything whole: cut, and never as wide as the terminal.
      {4, "5 сек ", "40 сек ", " 42"},
  };
  for (const WidthCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + " columns, " + c.elapsed + "/ " + c.remaining);
    test::CaptureOutput out(true, c.columns);
    cli::ProgressPrinter progress(out, false);
    progress.Elapsed(Utf8ToCp1251(c.elapsed));
    progress.Remaining(Utf8ToCp1251(c.remaining));
    progress.Progress(100, 42);
    ASSERT_FALSE(out.OutWrites().empty());
    const std::string& last = out.OutWrites().back();
    EXPECT_EQ(Cp1251ToUtf8(last), "\r" + c.line);
    EXPECT_LT(last.size() - 1, static_cast<std::size_t>(c.columns > 0 ? c.columns : 80));
  }
}

// When the line drops a part, blanks cover what the longer line before it
// left on the screen.
TEST(ProgressLine, AShorterLineBlanksTheRestOfTheLongerOne) {
  test::CaptureOutput out(true, 80);
  cli::ProgressPrinter progress(out, false);
  progress.Elapsed(Utf8ToCp1251("5 сек "));
  progress.Remaining(Utf8ToCp1251("40 сек "));
  progress.Progress(100, 42);
  EXPECT_EQ(Cp1251ToUtf8(out.OutWrites().back()),
            "\r[########............]  42 %  Времени прошло: 5 сек  Времени осталось: 40 сек");
  progress.Elapsed(Utf8ToCp1251("10 ч 12 мин 30 сек "));
  EXPECT_EQ(Cp1251ToUtf8(out.OutWrites().back()),
            "\r[########............]  42 %  Времени осталось: 40 сек" + std::string(23, ' '));
}

}  // namespace
}  // namespace tarvik
