#include "render/AnimationScript.h"

#include <string>
#include <vector>

#include "TestCommon.h"
#include "deform/Warpixator.h"

namespace {

using warpix_test::CoutCapture;
using Values = std::vector<double>;

ZelStringList Split(const char* line) { return ZelString(line).split(" "); }

TEST(AnimationScript, StartLinesStopAtTheFirstProblemWithItsMessage) {
  struct Case { const char* first; const char* second; AnimationScript::StartCheck check; const char* printed; };
  const Case cases[] = {
      {"0.1 0.2", "0.3 0.4", AnimationScript::StartCheck::kOk, "Initializing anim: 2 2\n"},
      {"0.1 0.2", "0.3", AnimationScript::StartCheck::kLengthsDiffer, "[ERROR] Animation script s: line 1 has 2 values, line 2 has 1\n"},
      {"0.1 0.2 0.3", "1 2 3", AnimationScript::StartCheck::kOddCount, "Initializing anim: 3 3\n[ERROR] Animation script s: 3 values do not make whole (x, y) pairs\n"},
      {"0.1 0.2", "0.3 y", AnimationScript::StartCheck::kNotANumber, "Initializing anim: 2 2\n[ERROR] Animation script s: 'y' on line 2 is not a number\n"},
      {"", "", AnimationScript::StartCheck::kOk, "Initializing anim: 0 0\n"},
  };
  for (const Case& c : cases) {
    Values originals{9.0}, targets{9.0};
    CoutCapture out;
    EXPECT_EQ(AnimationScript::ParseStart(Split(c.first), Split(c.second), "s", originals, targets), c.check) << c.first;
    EXPECT_EQ(out.str(), c.printed) << c.first;
    if (c.check == AnimationScript::StartCheck::kOk) {
      EXPECT_EQ(originals.size(), Split(c.first).count() + 0u);
    }
  }
  Values originals, targets;
  AnimationScript::ParseStart(Split("0.1  0.2"), Split("0.3 0.4"), "s", originals, targets);  // runs of blanks are one
  EXPECT_TRUE(originals == Values({0.1, 0.2}) && targets == Values({0.3, 0.4}));
}

// (Frame lines taken, skipped or the end: AnimationPlayerTest's trace; the
// skipped line's warning and a last line without a newline: WarpixRenderTest's
// animation; a line with an extra value: the e2e animation test.)

TEST(AnimationScript, StartReplacesThePointsAndApplyKeepsHandAddedOnes) {
  R2Image image(4, 4, 3);
  Warpixator a(image, "a"), b(image, "b");
  double x = 0, y = 0;
  a.AddControlPoint(0.9, 0.9, &x, &y);  // replaced by the script's points
  Values originals{0.2, 0.2, 0.4, 0.4}, targets{0.3, 0.3, 0.4, 0.4};
  const std::vector<Warpixator*> both{&a, &b};
  AnimationScript::Start(both, originals, targets);
  EXPECT_TRUE(a.m_ControlPointsOrigPos == originals && a.m_ControlPointsNewPos == targets);
  b.AddControlPoint(0.6, 0.6, &x, &y);  // added by hand during the run
  AnimationScript::Apply(both, {0.25, 0.3, 0.45, 0.5});
  EXPECT_EQ(a.m_ControlPointsNewPos, Values({0.25, 0.3, 0.45, 0.5}));
  EXPECT_EQ(b.m_ControlPointsNewPos, Values({0.25, 0.3, 0.45, 0.5, 0.6, 0.6}));
}

}  // namespace
