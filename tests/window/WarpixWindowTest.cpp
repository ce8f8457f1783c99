// Input handling, cell coordinates and the animation of the window, driven
// through the member callbacks with recording deformators (no GL needed).
#include <GL/glut.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestCommon.h"
#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "window/WarpixWindow.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::TempFile;

// Base behaviour plus a log of the calls the window makes; AddControlPoint
// may report a shifted position, like a method that snaps its points.
class RecordingDeformator : public Warpixator {
 public:
  explicit RecordingDeformator(R2Image& image, double snapShift = 0.0)
      : Warpixator(image, "Recorder"), m_fSnapShift(snapShift) {}

  void SelectControlPoint(double x, double y) override {
    m_Selects.push_back({x, y});
    Warpixator::SelectControlPoint(x, y);
  }
  void MoveSelectedControlPoint(double x, double y) override {
    m_Moves.push_back({x, y});
    Warpixator::MoveSelectedControlPoint(x, y);
  }
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
  std::vector<std::vector<double>> m_Selects, m_Moves, m_Adds, m_Frames;
  std::vector<bool> m_Clears;
  std::vector<double> m_Tweaks;
  std::vector<int> m_Modes;
  int m_iPrints = 0;
};

// Records frame names instead of capturing, and takes its modifiers from the test.
class TestWindow : public WarpixWindow {
 public:
  using WarpixWindow::WarpixWindow;
  void PrintScreen(char const* fileName) override { m_Written.push_back(fileName); }
  int ReadModifiers() override { return m_iFakeModifiers; }
  std::vector<std::string> m_Written;
  int m_iFakeModifiers = 0;
};

struct Fixture : ::testing::Test {
  R2Image image{4, 4, 3};
};

// The drawing transform of cell (col, row), written out independently of the
// window: the unit square's corner and size in window coordinates.
void DrawnPosition(double u, double v, int col, int row, int cols, int rows, double zoom,
                   double tx, double ty, double& x, double& y) {
  const double fill = 0.8;
  const double margin = 0.1;
  x = (col + margin) / cols + tx + u * fill * zoom / cols;
  y = (row + margin) / rows + ty + v * fill * zoom / rows;
}

using WindowInput = Fixture;

TEST_F(WindowInput, CellCoordinatesOfTheDocumentedClick) {
  TestWindow window(800, 400, 2, 1);
  double u = 0, v = 0;
  EXPECT_EQ(window.ConvertToWarpixatorCoords(500.0 / 800, 300.0 / 400, u, v), 1);
  EXPECT_NEAR(u, 3.0 / 16, 1e-12);
  EXPECT_NEAR(v, 13.0 / 16, 1e-12);
  // A 3 x 2 grid: the cell index counts rows from the bottom.
  TestWindow grid(600, 400, 3, 2);
  EXPECT_EQ(grid.ConvertToWarpixatorCoords(0.5, 0.75, u, v), 4);
  EXPECT_NEAR(u, 0.5, 1e-12);
  EXPECT_NEAR(v, 0.5, 1e-12);
  // The margin maps just outside the unit square.
  EXPECT_EQ(grid.ConvertToWarpixatorCoords(0.01, 0.01, u, v), 0);
  EXPECT_LT(u, 0.0);
  EXPECT_LT(v, 0.0);
}

TEST_F(WindowInput, ZoomAndPanMapThroughTheDrawingOfTheCell) {
  TestWindow window(600, 300, 2, 1);
  // Control-drag 90 pixels up: zoom 1.3; shift-drag 30 right, 15 down.
  window.m_iFakeModifiers = GLUT_ACTIVE_CTRL;
  window.GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_DOWN, 150, 200);
  window.GLUTMotionCallback(150, 110);
  window.GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_UP, 150, 110);
  EXPECT_NEAR(window.Zoom(), 1.3, 1e-12);
  window.m_iFakeModifiers = GLUT_ACTIVE_SHIFT;
  window.GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_DOWN, 150, 200);
  window.GLUTMotionCallback(180, 215);
  EXPECT_NEAR(window.TranslateX(), 0.05, 1e-12);
  EXPECT_NEAR(window.TranslateY(), -0.05, 1e-12);
  EXPECT_NEAR(window.Zoom(), 1.3, 1e-12);

  for (double u0 : {0.1, 0.45, 0.7}) {
    double x = 0, y = 0;
    DrawnPosition(u0, 0.3, 0, 0, 2, 1, 1.3, 0.05, -0.05, x, y);
    double u = 0, v = 0;
    EXPECT_EQ(window.ConvertToWarpixatorCoords(x, y, u, v), 0);
    EXPECT_NEAR(u, u0, 1e-12);
    EXPECT_NEAR(v, 0.3, 1e-12);
  }
  CoutCapture quiet;
  window.GLUTKeyboardCallback('x', 0, 0);
  EXPECT_EQ(window.Zoom(), 1.0);
  EXPECT_EQ(window.TranslateX(), 0.0);
  EXPECT_EQ(window.TranslateY(), 0.0);
}

TEST_F(WindowInput, MouseReachesEveryDeformatorAtTheSameCellCoordinates) {
  TestWindow window(800, 400, 2, 1);
  RecordingDeformator a(image), b(image), hidden(image);
  window.AddDeformator(&a);
  window.AddDeformator(&b);
  window.AddDeformator(&hidden);
  window.GLUTMouseCallback(GLUT_RIGHT_BUTTON, GLUT_DOWN, 500, 100);
  window.GLUTMotionCallback(520, 80);
  window.GLUTMouseCallback(GLUT_MIDDLE_BUTTON, GLUT_UP, 520, 80);
  for (RecordingDeformator* d : {&a, &b, &hidden}) {
    ASSERT_EQ(d->m_Selects.size(), 2u);
    EXPECT_NEAR(d->m_Selects[0][0], 0.1875, 1e-12);
    EXPECT_NEAR(d->m_Selects[0][1], 0.8125, 1e-12);
    EXPECT_EQ(d->m_Selects[1], (std::vector<double>{-1.0, -1.0}));
    ASSERT_EQ(d->m_Moves.size(), 1u);
    EXPECT_NEAR(d->m_Moves[0][0], 0.25, 1e-12);
    EXPECT_NEAR(d->m_Moves[0][1], 0.875, 1e-12);
  }
  // Modifiers are read at the press and kept through the drag.
  window.m_iFakeModifiers = GLUT_ACTIVE_CTRL;
  window.GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_DOWN, 100, 300);
  window.m_iFakeModifiers = 0;
  window.GLUTMotionCallback(100, 100);
  EXPECT_NEAR(window.Zoom(), 1.5, 1e-12);
  EXPECT_EQ(a.m_Moves.size(), 1u);
  // Alt alone drags points.
  window.m_iFakeModifiers = GLUT_ACTIVE_ALT;
  window.GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_DOWN, 100, 300);
  window.GLUTMotionCallback(110, 300);
  EXPECT_EQ(a.m_Moves.size(), 2u);
}

TEST_F(WindowInput, SpaceAddsUnderTheMouseThenEverywhereAtTheReportedSpot) {
  TestWindow window(800, 400, 2, 1);
  RecordingDeformator first(image), snapping(image, 0.01);
  window.AddDeformator(&first);
  window.AddDeformator(&snapping);
  CoutCapture out;
  // Over cell 1 (the snapping one): it reports x + 0.01, which the first gets.
  window.GLUTKeyboardCallback(' ', 500, 100);
  ASSERT_EQ(snapping.m_Adds.size(), 1u);
  ASSERT_EQ(first.m_Adds.size(), 1u);
  EXPECT_NEAR(first.m_Adds[0][0], 0.1875 + 0.01, 1e-12);
  EXPECT_EQ(out.str(), "");
  // Over cell 0: the snapping deformator places the point elsewhere.
  window.GLUTKeyboardCallback(' ', 200, 200);
  EXPECT_EQ(out.str(), "[WARNING] Deformator 1 failed to add control point at a proper spot\n");
  EXPECT_EQ(first.m_ControlPointsOrigPos.size(), 4u);
  EXPECT_EQ(snapping.m_ControlPointsOrigPos.size(), 4u);
}

TEST_F(WindowInput, SpaceOutsideTheDeformatorsIsIgnored) {
  TestWindow window(800, 400, 2, 2);
  RecordingDeformator only(image);
  CoutCapture out;
  window.GLUTKeyboardCallback(' ', 100, 300);  // no deformator at all
  window.GLUTKeyboardCallback('n', 100, 300);
  window.GLUTKeyboardCallback('p', 100, 300);
  window.AddDeformator(&only);
  window.GLUTKeyboardCallback(' ', 500, 300);  // cell 1: empty
  window.GLUTKeyboardCallback(' ', 100, 100);  // cell 2: empty
  window.GLUTKeyboardCallback(' ', -50, 300);  // left of the window
  window.GLUTKeyboardCallback(' ', 100, 0);    // top edge: y = 1
  EXPECT_TRUE(only.m_Adds.empty());
  EXPECT_EQ(out.str(), "");
  window.GLUTKeyboardCallback(' ', 100, 300);
  EXPECT_EQ(only.m_Adds.size(), 1u);
}

TEST_F(WindowInput, KeysReachEveryDeformator) {
  TestWindow window(400, 400, 1, 1);
  RecordingDeformator a(image), b(image);
  window.AddDeformator(&a);
  window.AddDeformator(&b);
  CoutCapture out;
  for (char key : std::string("+_=-09cspmhlQ")) window.GLUTKeyboardCallback(key, 10, 10);
  for (RecordingDeformator* d : {&a, &b}) {
    EXPECT_EQ(d->m_Tweaks, (std::vector<double>{0.1, -0.1, 0.01, -0.01}));
    EXPECT_EQ(d->m_Modes, (std::vector<int>{0, 9}));
    EXPECT_EQ(d->m_Clears, (std::vector<bool>{false, true}));
    EXPECT_TRUE(d->m_bDrawMesh);
  }
  EXPECT_EQ(a.m_iPrints, 1);
  EXPECT_EQ(b.m_iPrints, 0);
  EXPECT_TRUE(window.m_bHideControlPoints);
  EXPECT_FALSE(window.m_bShowLines);

  b.m_bSnapToNonWhite = true;  // each deformator inverts its own flag
  window.GLUTKeyboardCallback('n', 10, 10);
  EXPECT_TRUE(a.m_bSnapToNonWhite);
  EXPECT_FALSE(b.m_bSnapToNonWhite);
  EXPECT_NE(out.str().find("[WARNING]"), std::string::npos);  // pixel-mode save
  const std::string text = out.str();
  EXPECT_EQ(text.substr(text.find("Key pressed")),
            "Key pressed = Q\nSnap Vertex To Non-White: 1\n");
}

TEST_F(WindowInput, HelpTextAndResizeWarning) {
  TestWindow window(640, 480, 1, 1);
  CoutCapture out;
  window.GLUTKeyboardCallback('?', 0, 0);
  const std::string help = out.str();
  EXPECT_EQ(help.find("Warpix Controls: \n\t'h' - Show/Hide control points\n"), 0u);
  EXPECT_NE(help.find("\t's' - Save deformation and clear control points\n\t\t(for iterative "
                      "deformations)\n"),
            std::string::npos);
  EXPECT_NE(help.find("\t\t'+'/'_' (increase by .1)\n\t\t'='/'-' (increase by 0.01)\n"),
            std::string::npos);
  EXPECT_EQ(help.size() - help.rfind("\t'6'"),
            std::string("\t'6' - Thin plate splines with line constraints\n"
                        "\t'7..0' - Toggle lines \n")
                .size());
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 23);
  window.GLUTKeyboardCallback('`', 0, 0);
  EXPECT_EQ(out.str(), help + help);

  CoutCapture resize;
  window.Resize(640, 480);
  window.GLUTResizeCallback(800, 600);
  EXPECT_EQ(resize.str(), "[WARNING] Cannot resize - not implemented. 800 x 600\n");
  EXPECT_EQ(window.Width(), 640);
  EXPECT_EQ(window.Height(), 480);
}

TEST_F(WindowInput, EscapeEndsWithStatusZero) {
  TestWindow window(100, 100, 1, 1);
  EXPECT_EXIT(window.GLUTKeyboardCallback(27, 0, 0), ::testing::ExitedWithCode(0), "");
}

TEST_F(WindowInput, HiddenDeformatorsAreCounted) {
  TestWindow window(100, 100, 2, 1);
  RecordingDeformator a(image), b(image), c(image);
  CoutCapture out;
  window.AddDeformator(&a);
  window.AddDeformator(&b);
  EXPECT_EQ(window.WarnAboutHiddenDeformators(), 0);
  EXPECT_EQ(out.str(), "");
  window.AddDeformator(&c);
  EXPECT_EQ(window.WarnAboutHiddenDeformators(), 1);
  EXPECT_EQ(out.str().rfind("[WARNING] 3 deformators for 2 cells: 1 not visible", 0), 0u);
}

using WindowAnimation = Fixture;

TEST_F(WindowAnimation, FrameNamesArePaddedToSixDigits) {
  EXPECT_EQ(WarpixWindow::AnimationFrameName("out/Anim", 0), "out/Anim000000.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("frames/run1_Anim", 3),
            "frames/run1_Anim000003.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("Anim", 1000000), "Anim1000000.jpg");
}

// Runs the animation to its end; returns the written frame names.
std::vector<std::string> RunScript(TestWindow& window, const std::string& script,
                                   std::string& console) {
  TempFile file("anim_script.anim");
  file.write(script);
  CoutCapture out;
  window.Animation(file.c_str(), "f/", "Anim");
  for (int step = 0; step < 100 && window.AnimationUpdate(); ++step) {
  }
  console = out.str();
  return window.m_Written;
}

TEST_F(WindowAnimation, OneFramePerAcceptedLine) {
  TestWindow window(100, 100, 1, 1);
  RecordingDeformator d(image);
  window.AddDeformator(&d);
  std::vector<double> start = {0.5, 0.5, 0.7, 0.7};
  d.InitializeCtrlPntState(start, start);  // replaced by the script's points
  std::string console;
  // A blank line and a short line add no frame; extra values are dropped.
  const auto names = RunScript(
      window, "0.1 0.2\n0.3 0.4\n0.5 0.6\n\n0.7\n0.8 0.9 0.95\n", console);
  EXPECT_EQ(console, "Initializing anim: 2 2\nAnimation Terminated!\n");
  EXPECT_EQ(names, (std::vector<std::string>{"f/Anim000000.jpg", "f/Anim000001.jpg",
                                             "f/Anim000001.jpg", "f/Anim000001.jpg",
                                             "f/Anim000002.jpg"}));
  EXPECT_EQ(d.m_Frames, (std::vector<std::vector<double>>{{0.5, 0.6}, {0.8, 0.9}}));
  EXPECT_EQ(d.m_ControlPointsOrigPos, (std::vector<double>{0.1, 0.2}));
  EXPECT_EQ(window.AnimationFrame(), -1);
  EXPECT_FALSE(window.AnimationUpdate());
}

TEST_F(WindowAnimation, LastLineWithoutNewlineIsWritten) {
  TestWindow window(100, 100, 1, 1);
  RecordingDeformator d(image);
  window.AddDeformator(&d);
  std::string console;
  EXPECT_EQ(RunScript(window, "0.1 0.2\n0.3 0.4\n0.5 0.6", console),
            (std::vector<std::string>{"f/Anim000000.jpg", "f/Anim000001.jpg"}));
  TestWindow twoLines(100, 100, 1, 1);
  EXPECT_EQ(RunScript(twoLines, "0.1 0.2\n0.3 0.4\n", console),
            (std::vector<std::string>{"f/Anim000000.jpg"}));
}

TEST_F(WindowAnimation, WordOnAFrameLineSkipsThatLine) {
  TestWindow window(100, 100, 1, 1);
  RecordingDeformator d(image);
  window.AddDeformator(&d);
  std::string console;
  const auto names = RunScript(window, "0.1 0.2\n0.1 0.2\n0.3 x\n0.4 0.5\n", console);
  EXPECT_NE(console.find("[WARNING] Animation line skipped: 'x' is not a number\n"),
            std::string::npos);
  EXPECT_EQ(names.size(), 3u);
  EXPECT_EQ(d.m_Frames, (std::vector<std::vector<double>>{{0.4, 0.5}}));
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
  EXPECT_EQ(d.m_ControlPointsNewPos[0], 0.35);
  EXPECT_EQ(d.m_ControlPointsNewPos[1], 0.45);
  window.GLUTKeyboardCallback('c', 0, 0);  // no points at all
  window.AnimationUpdate();
  EXPECT_TRUE(d.m_ControlPointsNewPos.empty());
  EXPECT_EQ(d.m_Frames.back(), std::vector<double>{});
}

TEST_F(WindowAnimation, MalformedScriptsAreFatalAtStart) {
  TestWindow window(100, 100, 1, 1);
  TempFile file("anim_bad.anim");
  EXPECT_DEATH(window.Animation("/nonexistent/x.anim", "", "Anim"),
               "inTextStream.is_open\\(\\)");
  file.write("0.1 0.2\n0.1\n");
  EXPECT_DEATH(window.Animation(file.c_str(), "", "Anim"),
               "oldPoints.count\\(\\)==newPoints.count\\(\\)");
  file.write("0.1 0.2\n0.1 y\n");
  EXPECT_DEATH(window.Animation(file.c_str(), "", "Anim"), "\\(ok\\), function Animation");
  file.write("0.1 0.2 0.3\n0.1 0.2 0.3\n");
  EXPECT_DEATH(window.Animation(file.c_str(), "", "Anim"), "%2==0");
}

}  // namespace
