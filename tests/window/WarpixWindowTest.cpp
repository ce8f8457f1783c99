// Input handling, cell coordinates and the animation of the window, driven
// through the member callbacks with recording deformators (no GL needed).
#include <GL/glut.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "TestCommon.h"
#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "window/WarpixWindow.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::TempFile;
using Values = std::vector<double>;
using Names = std::vector<std::string>;

// Base behaviour plus a log of the calls the window makes; AddControlPoint
// may report a shifted position, like a method that snaps its points.
class RecordingDeformator : public Warpixator {
 public:
  explicit RecordingDeformator(R2Image& image, double snapShift = 0.0)
      : Warpixator(image, "Recorder"), m_fSnapShift(snapShift) {}
  // Selection itself is the base class's affair: only the arguments matter here.
  void SelectControlPoint(double x, double y) override { m_Selects.push_back({x, y}); }
  void MoveSelectedControlPoint(double x, double y) override { m_Moves.push_back({x, y}); }
  void AddControlPoint(double x, double y, double* outX, double* outY) override {
    m_Adds.push_back({x, y});
    Warpixator::AddControlPoint(x + m_fSnapShift, y, outX, outY);
  }
  void ClearControls(bool save) override {
    m_Clears.push_back(save);
    Warpixator::ClearControls(save);
  }
  void TweakParameter(double step) override { m_Tweaks.push_back(step); }
  void ChangeMode(int mode) override { m_Modes.push_back(mode); }
  void PrintCtrlPntState() override { ++m_iPrints; }
  void MoveAllControlPoints(std::vector<double>& values) override {
    m_Frames.push_back(values);
    Warpixator::MoveAllControlPoints(values);
  }
  double m_fSnapShift;
  std::vector<Values> m_Selects, m_Moves, m_Adds, m_Frames;
  std::vector<bool> m_Clears;
  Values m_Tweaks;
  std::vector<int> m_Modes;
  int m_iPrints = 0;
};

// Records frame names instead of capturing, and takes its modifiers from the test.
class TestWindow : public WarpixWindow {
 public:
  using WarpixWindow::WarpixWindow;
  void PrintScreen(char const* fileName) override { m_Written.push_back(fileName); }
  int ReadModifiers() override { return m_iFakeModifiers; }
  // A press at (x0, y0) with the given modifiers, a drag to (x1, y1), a release.
  void Drag(int modifiers, int x0, int y0, int x1, int y1) {
    m_iFakeModifiers = modifiers;
    GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_DOWN, x0, y0);
    m_iFakeModifiers = 0;  // modifiers released mid-drag must not count
    GLUTMotionCallback(x1, y1);
    GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_UP, x1, y1);
  }
  Names m_Written;
  int m_iFakeModifiers = 0;
};

struct Fixture : ::testing::Test {
  R2Image image{4, 4, 3};
};

void ExpectPoint(const Values& actual, double u, double v) {
  warpix_test::expectNear(actual, {u, v}, 1e-12);
}

using WindowInput = Fixture;

TEST_F(WindowInput, CellCoordinatesAgainstTheInnerPartOfEachCell) {
  // {width, height, cols, rows, x, y, cell, u, v}: (u, v) computed by hand from
  // the cell's inner 0.8 part; the margin maps just outside [0, 1].
  const struct { int w, h, cols, rows; double x, y; int cell; double u, v; } cases[] = {
      {800, 400, 2, 1, 500.0 / 800, 300.0 / 400, 1, 3.0 / 16, 13.0 / 16},
      {600, 400, 3, 2, 0.5, 0.75, 4, 0.5, 0.5},
      {600, 400, 3, 2, 0.01, 0.01, 0, (0.01 - 0.1 / 3) / (0.8 / 3), (0.01 - 0.05) / 0.4},
      {100, 100, 1, 1, -0.5, 0.5, 0, -0.75, 0.5},  // truncated toward zero
  };
  for (const auto& c : cases) {
    TestWindow window(c.w, c.h, c.cols, c.rows);
    double u = 0, v = 0;
    EXPECT_EQ(window.ConvertToWarpixatorCoords(c.x, c.y, u, v), c.cell) << c.x << "," << c.y;
    ExpectPoint({u, v}, c.u, c.v);
  }
  // Far outside a huge grid: no cell index that overflows, no warning overflow.
  TestWindow huge(100, 100, 100000, 100000);
  double u = 0, v = 0;
  EXPECT_EQ(huge.ConvertToWarpixatorCoords(1e12, 1e12, u, v), -1);
  EXPECT_EQ(huge.WarnAboutHiddenDeformators(), 0);
}

TEST_F(WindowInput, ZoomAndPanByDragMapThroughTheDrawingOfTheCell) {
  TestWindow window(600, 300, 2, 1);
  RecordingDeformator d(image);
  window.AddDeformator(&d);
  window.Drag(GLUT_ACTIVE_CTRL, 150, 200, 150, 110);  // 90 up: zoom + 0.3
  window.Drag(GLUT_ACTIVE_SHIFT, 150, 200, 180, 215);  // 30 right, 15 down
  warpix_test::expectNear({window.Zoom(), window.TranslateX(), window.TranslateY()},
                          {1.3, 0.05, -0.05}, 1e-12);
  EXPECT_TRUE(d.m_Moves.empty());
  window.Drag(GLUT_ACTIVE_ALT, 150, 200, 160, 200);  // alt alone moves points
  EXPECT_EQ(d.m_Moves.size(), 1u);
  // The drawing transform of cell 0, written out independently: corner
  // (0.1 / 2 + pan) and size 0.8 * zoom / 2 across, 0.8 * zoom up.
  for (double u0 : {0.1, 0.45, 0.7}) {
    const double x = 0.05 + 0.05 + u0 * 0.8 * 1.3 / 2, y = 0.1 - 0.05 + 0.3 * 0.8 * 1.3;
    double u = 0, v = 0;
    EXPECT_EQ(window.ConvertToWarpixatorCoords(x, y, u, v), 0);
    ExpectPoint({u, v}, u0, 0.3);
  }
  CoutCapture quiet;
  window.GLUTKeyboardCallback('x', 0, 0);
  EXPECT_EQ(Values({window.Zoom(), window.TranslateX(), window.TranslateY()}),
            Values({1.0, 0.0, 0.0}));
}

TEST_F(WindowInput, MouseReachesEveryDeformatorIncludingHiddenOnes) {
  TestWindow window(800, 400, 2, 1);
  RecordingDeformator a(image), b(image), hidden(image);
  CoutCapture out;
  window.AddDeformator(&a);
  window.AddDeformator(&b);
  EXPECT_EQ(window.WarnAboutHiddenDeformators(), 0);
  window.AddDeformator(&hidden);
  EXPECT_EQ(window.WarnAboutHiddenDeformators(), 1);
  EXPECT_EQ(out.str(), "[WARNING] 3 deformators for 2 cells: 1 not visible (they still receive "
                       "every input)\n");
  window.GLUTMouseCallback(GLUT_RIGHT_BUTTON, GLUT_DOWN, 500, 100);
  window.GLUTMotionCallback(520, 80);
  window.GLUTMouseCallback(GLUT_MIDDLE_BUTTON, GLUT_UP, 520, 80);
  for (RecordingDeformator* d : {&a, &b, &hidden}) {
    ASSERT_EQ(d->m_Selects.size(), 2u);
    ExpectPoint(d->m_Selects[0], 0.1875, 0.8125);
    EXPECT_EQ(d->m_Selects[1], Values({-1.0, -1.0}));
    ASSERT_EQ(d->m_Moves.size(), 1u);
    ExpectPoint(d->m_Moves[0], 0.25, 0.875);
  }
}

TEST_F(WindowInput, SpaceAddsUnderTheMouseThenEverywhereAtTheReportedSpot) {
  TestWindow window(800, 400, 2, 2);
  RecordingDeformator first(image), snapping(image, 0.01);
  CoutCapture out;
  // Without deformators, over empty cells or outside the grid: nothing, silently.
  for (char key : std::string(" np")) window.GLUTKeyboardCallback(key, 100, 300);
  window.AddDeformator(&first);
  window.AddDeformator(&snapping);
  for (auto at : {std::pair<int, int>{100, 100}, {-50, 300}, {100, 0}, {900, 300}}) {
    window.GLUTKeyboardCallback(' ', at.first, at.second);
  }
  EXPECT_TRUE(first.m_Adds.empty());
  EXPECT_EQ(out.str(), "");
  // Over cell 1 (the snapping one): it reports x + 0.01, which the first gets.
  window.GLUTKeyboardCallback(' ', 500, 300);
  ASSERT_EQ(first.m_Adds.size(), 1u);
  ExpectPoint(first.m_Adds[0], 0.1875 + 0.01, 0.5);
  EXPECT_EQ(out.str(), "");
  // Over cell 0: the snapping deformator places the point elsewhere; still added.
  window.GLUTKeyboardCallback(' ', 200, 300);
  EXPECT_EQ(out.str(), "[WARNING] Deformator 1 failed to add control point at a proper spot\n");
  EXPECT_EQ(snapping.m_ControlPointsOrigPos.size(), 4u);
}

TEST_F(WindowInput, KeysReachEveryDeformator) {
  TestWindow window(400, 400, 1, 1);
  RecordingDeformator a(image), b(image);
  window.AddDeformator(&a);
  window.AddDeformator(&b);
  b.m_bSnapToNonWhite = true;  // each deformator inverts its own flag
  CoutCapture out;
  for (char key : std::string("+_=-09cspmhlQn")) window.GLUTKeyboardCallback(key, 10, 10);
  for (RecordingDeformator* d : {&a, &b}) {
    EXPECT_EQ(d->m_Tweaks, Values({0.1, -0.1, 0.01, -0.01}));
    EXPECT_EQ(d->m_Modes, std::vector<int>({0, 9}));
    EXPECT_EQ(d->m_Clears, std::vector<bool>({false, true}));
    EXPECT_TRUE(d->m_bDrawMesh);
    EXPECT_NE(d->m_bSnapToNonWhite, d == &b);
  }
  EXPECT_EQ(std::vector<int>({a.m_iPrints, b.m_iPrints}), std::vector<int>({1, 0}));
  EXPECT_TRUE(window.m_bHideControlPoints);
  EXPECT_FALSE(window.m_bShowLines);
  const std::string text = out.str();
  EXPECT_EQ(text.substr(text.find("Key pressed")),
            "Key pressed = Q\nSnap Vertex To Non-White: 1\n");
}

TEST_F(WindowInput, HelpResizeAndEscape) {
  TestWindow window(640, 480, 1, 1);
  CoutCapture out;
  window.GLUTKeyboardCallback('?', 0, 0);
  window.GLUTKeyboardCallback('`', 0, 0);
  const std::string help =
      "Warpix Controls: \n\t'h' - Show/Hide control points\n\t'p' - Print control points\n"
      "\t's' - Save deformation and clear control points\n\t\t(for iterative deformations)\n"
      "\t'c' - Clear control points\n\t'm' - Show/Hide mesh\n"
      "\t' ' - (SPACE) Add control point (at a mouse location)\n"
      "\t'+' - Tweak a parameter (deformator-specific)\n\t\t'+'/'_' (increase by .1)\n"
      "\t\t'='/'-' (increase by 0.01)\n\t'l' - Show lines (for FPI-lines scheme)\n"
      "\tCTR - Hold CONTROL and move mouse (up/down) for zooming\n"
      "\tSHFT - Hold SHIFT and move mouse for translation\n\t'x' - Clear all zooming\n"
      "\t'n' - Snap control point to the nearest non-white\nIn Quasi-Conformal Mode:\n"
      "\t'1' - Standard FPI\n\t'2' - FPI + MVC\n\t'4' - FPI + MLS\n"
      "\t'5' - Quasi-conformal with line constraints\n"
      "\t'6' - Thin plate splines with line constraints\n\t'7..0' - Toggle lines \n";
  EXPECT_EQ(out.str(), help + help);

  CoutCapture resize;
  window.Resize(640, 480);
  window.GLUTResizeCallback(800, 600);
  EXPECT_EQ(resize.str(), "[WARNING] Cannot resize - not implemented. 800 x 600\n");
  EXPECT_EQ(std::vector<int>({window.Width(), window.Height()}), std::vector<int>({640, 480}));
  EXPECT_EXIT(window.GLUTKeyboardCallback(27, 0, 0), ::testing::ExitedWithCode(0), "");
}

using WindowAnimation = Fixture;

TEST_F(WindowAnimation, FrameNamesArePaddedToSixDigits) {
  EXPECT_EQ(WarpixWindow::AnimationFrameName("out/Anim", 0), "out/Anim000000.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("frames/run1_Anim", 3),
            "frames/run1_Anim000003.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("Anim", 1000000), "Anim1000000.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("", INT_MAX), "2147483647.jpg");
}

// Runs a script to its end in a fresh 1 x 1 window with deformator d; returns
// the written frame names and the console text.
std::pair<Names, std::string> RunScript(RecordingDeformator& d, const std::string& script) {
  TestWindow window(100, 100, 1, 1);
  window.AddDeformator(&d);
  TempFile file("anim_script.anim");
  file.write(script);
  CoutCapture out;
  window.Animation(file.c_str(), "f/", "Anim");
  for (int step = 0; step < 100 && window.AnimationUpdate(); ++step) {
  }
  EXPECT_EQ(window.AnimationFrame(), -1);
  EXPECT_FALSE(window.AnimationUpdate());
  return {window.m_Written, out.str()};
}

Names Frames(std::vector<int> numbers) {
  Names names;
  for (int n : numbers) names.push_back(WarpixWindow::AnimationFrameName("f/Anim", n).c_str());
  return names;
}

TEST_F(WindowAnimation, OneFramePerAcceptedLine) {
  // {script, frames written, values applied per frame line, console}: a blank
  // or short line adds no frame (one more capture under the same number),
  // extra values are dropped, a word skips its line, a last line without a
  // newline is still written.
  const std::string start = "Initializing anim: 2 2\n", end = "Animation Terminated!\n";
  const struct { const char* script; std::vector<int> frames; std::vector<Values> applied;
                 std::string console; } cases[] = {
      {"0.1 0.2\n0.3 0.4\n0.5 0.6\n\n0.7\n0.8 0.9 0.95\n", {0, 1, 1, 1, 2},
       {{0.5, 0.6}, {0.8, 0.9}}, start + end},
      {"0.1 0.2\n0.3 0.4\n0.5 0.6", {0, 1}, {{0.5, 0.6}}, start + end},
      {"0.1 0.2\n0.3 0.4\n", {0}, {}, start + end},
      {"0.1 0.2\n0.1 0.2\n0.3 x\n0.4 0.5\n", {0, 0, 1}, {{0.4, 0.5}},
       start + "[WARNING] Animation line skipped: 'x' is not a number\n" + end},
  };
  for (const auto& c : cases) {
    RecordingDeformator d(image);
    Values factory = {0.5, 0.5, 0.7, 0.7};
    d.InitializeCtrlPntState(factory, factory);  // replaced by the script's points
    EXPECT_EQ(RunScript(d, c.script), std::make_pair(Frames(c.frames), c.console)) << c.script;
    EXPECT_EQ(d.m_Frames, c.applied) << c.script;
    EXPECT_EQ(d.m_ControlPointsOrigPos, Values({0.1, 0.2}));
  }
}

TEST_F(WindowAnimation, PointsChangedByHandDuringTheRunKeepTheirTargets) {
  TestWindow window(100, 100, 1, 1);
  RecordingDeformator d(image);
  window.AddDeformator(&d);
  TempFile file("anim_hand.anim");
  file.write("0.1 0.2\n0.1 0.2\n0.3 0.4\n0.35 0.45\n0.5 0.5\n");
  CoutCapture quiet;
  window.Animation(file.c_str(), "", "Anim");
  window.AnimationUpdate();
  window.GLUTKeyboardCallback(' ', 80, 20);  // a second point
  window.AnimationUpdate();
  ASSERT_EQ(d.m_ControlPointsNewPos.size(), 4u);
  EXPECT_EQ(Values(d.m_ControlPointsNewPos.begin(), d.m_ControlPointsNewPos.begin() + 2),
            Values({0.35, 0.45}));
  window.GLUTKeyboardCallback('c', 0, 0);  // no points at all
  window.AnimationUpdate();
  EXPECT_TRUE(d.m_ControlPointsNewPos.empty());
  EXPECT_EQ(d.m_Frames.back(), Values{});
}

TEST_F(WindowAnimation, MalformedScriptsAreFatalAtStart) {
  TestWindow window(100, 100, 1, 1);
  TempFile file("anim_bad.anim");
  EXPECT_DEATH(window.Animation("/nonexistent/x.anim", "", "Anim"),
               "inTextStream.is_open\\(\\)");
  const std::pair<const char*, const char*> cases[] = {
      {"0.1 0.2\n0.1\n", "oldPoints.count\\(\\)==newPoints.count\\(\\)"},
      {"0.1 0.2\n0.1 y\n", "\\(ok\\), function Animation"},
      {"0.1 0.2 0.3\n0.1 0.2 0.3\n", "%2==0"},
  };
  for (const auto& c : cases) {
    file.write(c.first);
    EXPECT_DEATH(window.Animation(file.c_str(), "", "Anim"), c.second) << c.first;
  }
}

}  // namespace
