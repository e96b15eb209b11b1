#include "reflash/progressmodel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tarvik {
namespace {

struct Step {
  enum Kind { Total, Parts, Add } kind;
  std::int32_t value;
};

struct ProgressCase {
  const char* name;
  std::vector<Step> steps;
  std::int32_t total;
  std::int32_t parts;
  std::int32_t percent;
};

void PrintTo(const ProgressCase& c, std::ostream* os) { *os << c.name; }

class ProgressModelTest : public testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressModelTest, Applies) {
  const ProgressCase& c = GetParam();
  TProgressModel model;
  for (const Step& step : c.steps) {
    switch (step.kind) {
      case Step::Total:
        model.SetTotal(step.value);
        break;
      case Step::Parts:
        model.SetPartsComplete(step.value);
        break;
      case Step::Add:
        model.AddParts(step.value);
        break;
    }
  }
  EXPECT_EQ(model.Total(), c.total);
  EXPECT_EQ(model.PartsComplete(), c.parts);
  EXPECT_EQ(model.Percent(), c.percent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressModelTest,
    testing::Values(
        ProgressCase{"Initial", {}, 0, 0, 0},
        ProgressCase{"PartsWithoutTotalStayZero", {{Step::Parts, 5}}, 0, 0, 0},
        ProgressCase{"AboveTotalStoresTotal", {{Step::Total, 10}, {Step::Parts, 11}}, 10, 10, 100},
        ProgressCase{
            "DifferentTotalResets", {{Step::Total, 10}, {Step::Parts, 4}, {Step::Total, 20}}, 20, 0, 0},
        ProgressCase{"SameTotalKeeps", {{Step::Total, 10}, {Step::Parts, 4}, {Step::Total, 10}}, 10, 4, 40},
        ProgressCase{"RoundsDown", {{Step::Total, 3}, {Step::Parts, 1}}, 3, 1, 33},
        ProgressCase{"RoundsUp", {{Step::Total, 3}, {Step::Parts, 2}}, 3, 2, 67},
        ProgressCase{"HalfGoesUp", {{Step::Total, 8}, {Step::Parts, 1}}, 8, 1, 13},
        ProgressCase{"JustBelowHalf", {{Step::Total, 201}, {Step::Parts, 1}}, 201, 1, 0},
        ProgressCase{"NegativePartsAreZero", {{Step::Total, 10}, {Step::Parts, -3}}, 10, 0, 0},
        ProgressCase{"NegativeTotalIsZero", {{Step::Total, -5}, {Step::Parts, 1}}, 0, 0, 0},
        ProgressCase{"AddStopsAtTotal",
                     {{Step::Total, 3}, {Step::Add, 1}, {Step::Add, 1}, {Step::Add, 1}, {Step::Add, 1}},
                     3,
                     3,
                     100},
        ProgressCase{"LargeCountsDoNotOverflow",
                     {{Step::Total, 2000000000}, {Step::Parts, 1999999999}, {Step::Add, 2000000000}},
                     2000000000,
                     2000000000,
                     100},
        ProgressCase{"LargeCountsPercent",
                     {{Step::Total, 2000000000}, {Step::Parts, 1000000000}},
                     2000000000,
                     1000000000,
                     50}),
    [](const testing::TestParamInfo<ProgressCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tarvik
