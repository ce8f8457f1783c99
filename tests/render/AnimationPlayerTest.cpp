// The animation script's rules (start lines, points handed over) and the
// player that the window and warpix-render share.
#include "render/AnimationPlayer.h"
#include "render/AnimationScript.h"

#include <string>
#include <vector>

#include "TestCommon.h"
#include "deform/Warpixator.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::TempFile;
using Frame = AnimationScript::FrameLine;
using Values = std::vector<double>;

struct AnimationPlayerTest : ::testing::Test {
  R2Image image{4, 4, 3};
  Warpixator deformator{image, "d"};
  std::vector<Warpixator*> deformators{&deformator};
  TempFile file{"player.anim"};
};

// "<frame><+ when due, - when not>" after Open, then one "<F|S|E><frame><+|->"
// per Advance up to the end: F a frame line, S a skipped line, E the end.
std::string Trace(AnimationPlayer& player) {
  auto state = [&player] { return std::to_string(player.Frame()) + (player.FrameDue() ? "+" : "-"); };
  std::string trace = state();
  for (int guard = 0; guard < 20; ++guard) {
    const Frame line = player.Advance();
    trace += std::string(" ") + (line == Frame::kFrame ? "F" : line == Frame::kSkipped ? "S" : "E") + state();
    if (line == Frame::kEnd) break;
  }
  return trace;
}

TEST_F(AnimationPlayerTest, SkippedLinesLeaveTheFrameDueWhileTheScriptGoesOn) {
  const std::string start = "0.1 0.2\n0.3 0.4\n";
  const struct { std::string script, trace; } cases[] = {
      // A frame, a blank and a short line (the same frame due twice more), a
      // frame with an extra value.
      {start + "0.5 0.6\n\n0.7\n0.8 0.9 0.95\n", "0+ F1+ S1+ S1+ F2+ E2-"},
      {start + "0.5 0.6", "0+ F1+ E1-"},  // the last line's frame is due once more
      {start + "0.5 x\n", "0+ S0+ E0-"},
      {start + "0.5", "0+ S0- E0-"},      // a skipped last line leaves nothing due
      {start, "0+ E0-"},
      {"0.1 0.2\n0.3 0.4", "0- E0-"},     // no frame due at all: the window writes none
  };
  for (const auto& c : cases) {
    file.write(c.script);
    AnimationPlayer player;
    CoutCapture out;
    ASSERT_TRUE(player.Open(file.path(), deformators, AnimationPlayer::Folder::kRefuse).Plays());
    EXPECT_EQ(Trace(player), c.trace) << c.script;
    EXPECT_TRUE(player.Playing());
  }
}

TEST_F(AnimationPlayerTest, FrameLinesMoveTheTargetsOfEveryDeformator) {
  Warpixator other(image, "other");
  deformators.push_back(&other);
  file.write("0.1 0.2\n0.3 0.4\n0.5 0.6\n0.7 0.8\n");
  AnimationPlayer player;
  CoutCapture out;
  ASSERT_TRUE(player.Open(file.path(), deformators, AnimationPlayer::Folder::kPlayEmpty).Plays());
  const std::vector<double> originals{0.1, 0.2};
  EXPECT_TRUE(deformator.m_ControlPointsOrigPos == originals && other.m_ControlPointsOrigPos == originals);
  std::vector<std::vector<double>> seen{deformator.m_ControlPointsNewPos};
  while (player.Advance() == Frame::kFrame) {
    seen.push_back(deformator.m_ControlPointsNewPos);
    EXPECT_EQ(other.m_ControlPointsNewPos, deformator.m_ControlPointsNewPos);
  }
  EXPECT_EQ(seen, (std::vector<std::vector<double>>{{0.3, 0.4}, {0.5, 0.6}, {0.7, 0.8}}));
  EXPECT_EQ(player.Frame(), 2);
  player.Stop();
  EXPECT_TRUE(!player.Playing() && player.Frame() == -1 && !player.FrameDue());
}

TEST_F(AnimationPlayerTest, OpenSaysWhyAScriptCannotStart) {
  using Check = AnimationScript::StartCheck;
  const std::string folder = ::testing::TempDir();
  const std::string missing = file.path() + ".none";
  const struct { std::string path, script; AnimationPlayer::Folder policy; bool opened; Check check; std::string printed; } cases[] = {
      {missing, "", AnimationPlayer::Folder::kPlayEmpty, false, Check::kOk,
       "[ERROR] Cannot open animation script " + missing + "\n"},
      {folder, "", AnimationPlayer::Folder::kRefuse, false, Check::kOk,
       "[ERROR] Cannot open animation script " + folder + "\n"},
      // A folder reads as two empty lines: it plays, with nothing due.
      {folder, "", AnimationPlayer::Folder::kPlayEmpty, true, Check::kOk, "Initializing anim: 0 0\n"},
      {file.path(), "0.1 0.2\n0.1\n", AnimationPlayer::Folder::kRefuse, true, Check::kLengthsDiffer,
       "[ERROR] Animation script " + file.path() + ": line 1 has 2 values, line 2 has 1\n"},  // (the other checks: ParseStart's)
  };
  for (const auto& c : cases) {
    file.write(c.script);
    AnimationPlayer player;
    CoutCapture out;
    const AnimationPlayer::Opening opening = player.Open(c.path, deformators, c.policy);
    EXPECT_EQ(out.str(), c.printed) << c.path;
    EXPECT_TRUE(opening.opened == c.opened && opening.check == c.check) << c.path;
    EXPECT_EQ(player.Playing(), opening.Plays()) << c.path;
    EXPECT_FALSE(player.FrameDue()) << c.path;
  }
  // A script that cannot start ends the one playing before.
  file.write("0.1 0.2\n0.3 0.4\n0.5 0.6\n");
  AnimationPlayer player;
  CoutCapture out;
  ASSERT_TRUE(player.Open(file.path(), deformators, AnimationPlayer::Folder::kRefuse).Plays());
  EXPECT_FALSE(player.Open(missing, deformators, AnimationPlayer::Folder::kRefuse).Plays());
  EXPECT_FALSE(player.Playing() || player.FrameDue());
}

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

TEST_F(AnimationPlayerTest, StartReplacesThePointsAndApplyKeepsHandAddedOnes) {
  Warpixator& a = deformator;
  Warpixator b(image, "b");
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
