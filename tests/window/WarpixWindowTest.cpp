// Input handling, cell coordinates and the animation of the window, driven
// through the member callbacks with recording deformators (no GL needed).
#include <GL/glut.h>

#include <climits>

#include "TestCommon.h"
#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "window/WarpixWindow.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::expectNear;
using Values = std::vector<double>;

// Base behaviour plus a log "call value ...;" of the calls the window makes
// (numbers to 6 digits); AddControlPoint may report a shifted position, like a
// method that snaps its points. Selection itself is the base class's affair.
class RecordingDeformator : public Warpixator {
 public:
  explicit RecordingDeformator(R2Image& image, double snapShift = 0.0)
      : Warpixator(image, "Recorder"), m_fSnapShift(snapShift) {}
  void SelectControlPoint(double x, double y) override { Record("select", {x, y}); }
  void MoveSelectedControlPoint(double x, double y) override { Record("move", {x, y}); }
  void AddControlPoint(double x, double y, double* outX, double* outY) override {
    Record("add", {x, y});
    Warpixator::AddControlPoint(x + m_fSnapShift, y, outX, outY);
  }
  void ClearControls(bool save) override {
    Record("clear", {save ? 1.0 : 0.0});
    Warpixator::ClearControls(save);
  }
  void TweakParameter(double step) override { Record("tweak", {step}); }
  void ChangeMode(int mode) override { Record("mode", {static_cast<double>(mode)}); }
  void PrintCtrlPntState() override { Record("print", {}); }
  void Record(const char* call, const Values& values) {
    m_Log << call;
    for (double value : values) m_Log << ' ' << value;
    m_Log << ';';
  }
  std::string Log() const { return m_Log.str(); }
  double m_fSnapShift;
  std::ostringstream m_Log;
};

// Takes its modifiers from the test.
class TestWindow : public WarpixWindow {
 public:
  using WarpixWindow::WarpixWindow;
  int ReadModifiers() override { return m_iFakeModifiers; }
  // A press at (x0, y0) with the given modifiers, a drag to (x1, y1), a release.
  void Drag(int modifiers, int x0, int y0, int x1, int y1) {
    m_iFakeModifiers = modifiers;
    GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_DOWN, x0, y0);
    m_iFakeModifiers = 0;  // modifiers released mid-drag must not count
    GLUTMotionCallback(x1, y1);
    GLUTMouseCallback(GLUT_LEFT_BUTTON, GLUT_UP, x1, y1);
  }
  int m_iFakeModifiers = 0;
};

struct WindowTest : ::testing::Test {
  R2Image image{4, 4, 3};
};

TEST_F(WindowTest, CellCoordinatesAgainstTheInnerPartOfEachCell) {
  // {cols, rows, x, y, cell, u, v}: (u, v) computed by hand from the cell's inner
  // 0.8 part; the margin maps just outside [0, 1]. First: (500, 100) in 800 x 400.
  const struct { int cols, rows; double x, y; int cell; double u, v; } cases[] = {
      {2, 1, 500.0 / 800, 300.0 / 400, 1, 3.0 / 16, 13.0 / 16},
      {3, 2, 0.5, 0.75, 4, 0.5, 0.5},
      {3, 2, 0.01, 0.01, 0, (0.01 - 0.1 / 3) / (0.8 / 3), (0.01 - 0.05) / 0.4},
      {1, 1, -0.5, 0.5, 0, -0.75, 0.5},  // truncated toward zero
  };
  double u = 0, v = 0;
  for (const auto& c : cases) {
    TestWindow window(800, 400, c.cols, c.rows);
    EXPECT_EQ(window.ConvertToWarpixatorCoords(c.x, c.y, u, v), c.cell) << c.x << "," << c.y;
    expectNear({u, v}, {c.u, c.v}, 1e-12);
  }
  // Far outside a huge grid: no cell index that overflows, no warning overflow.
  TestWindow huge(100, 100, 100000, 100000);
  EXPECT_EQ(huge.ConvertToWarpixatorCoords(1e12, 1e12, u, v), -1);
  EXPECT_EQ(huge.WarnAboutHiddenDeformators(), 0);
}

TEST_F(WindowTest, MouseReachesEveryDeformatorAndDragsZoomAndPanTheDrawing) {
  RecordingDeformator a(image), b(image), hidden(image);
  TestWindow window(800, 400, 2, 1);
  for (RecordingDeformator* d : {&a, &b, &hidden}) window.AddDeformator(d);  // the third is not shown
  window.GLUTMouseCallback(GLUT_RIGHT_BUTTON, GLUT_DOWN, 500, 100);
  window.GLUTMotionCallback(520, 80);
  window.GLUTMouseCallback(GLUT_MIDDLE_BUTTON, GLUT_UP, 520, 80);
  const std::string each = "select 0.1875 0.8125;move 0.25 0.875;select -1 -1;";
  EXPECT_EQ(a.Log() + b.Log() + hidden.Log(), each + each + each);

  window.Drag(GLUT_ACTIVE_CTRL, 200, 300, 200, 180);   // 120 up: zoom 1.3
  window.Drag(GLUT_ACTIVE_SHIFT, 200, 300, 240, 320);  // 40 right, 20 down: pan (0.05, -0.05)
  // Only alt alone moves points (the first move after the mouse calls above),
  // under the zoom and pan: to ((0.3 - 0.1) / 0.52, (0.5 - 0.05) / 1.04). (What
  // zoom and pan draw, and "x": the e2e zoom_pan test.)
  window.Drag(GLUT_ACTIVE_ALT, 200, 200, 240, 200);
  EXPECT_EQ(a.Log().substr(a.Log().find("move", each.size())),
            "move 0.384615 0.432692;select -1 -1;");
}

TEST_F(WindowTest, EveryKeyReachesEveryDeformatorOrTheWindow) {
  RecordingDeformator a(image), b(image, 0.01);  // b reports points 0.01 to the right
  TestWindow window(800, 400, 2, 2);
  CoutCapture out;
  // Without deformators, over empty cells or outside the grid: nothing, silently.
  for (char key : std::string(" np")) window.GLUTKeyboardCallback(key, 100, 300);
  for (RecordingDeformator* d : {&a, &b}) window.AddDeformator(d);
  const int misses[][2] = {{100, 100}, {-50, 300}, {100, 0}, {900, 300}};
  for (const auto& at : misses) window.GLUTKeyboardCallback(' ', at[0], at[1]);
  // Space over cell 1 (b): a gets the spot b reports; over cell 0 (a): b places
  // the point elsewhere, still added.
  window.GLUTKeyboardCallback(' ', 500, 300);
  window.GLUTKeyboardCallback(' ', 200, 300);
  EXPECT_EQ(out.str(), "[WARNING] Deformator 1 failed to add control point at a proper spot\n");
  b.m_bSnapToNonWhite = true;  // each deformator inverts its own flag
  for (char key : std::string("+_=-09cspmhlQn?`")) window.GLUTKeyboardCallback(key, 10, 10);
  // Both got the second point at (0.5, 0.5), then the keys.
  const std::string calls =
      "add 0.5 0.5;tweak 0.1;tweak -0.1;tweak 0.01;tweak -0.01;mode 0;mode 9;clear 0;clear 1;";
  EXPECT_EQ(a.Log() + "|" + b.Log(),  // only the first prints
            "add 0.1975 0.5;" + calls + "print;|add 0.1875 0.5;" + calls);
  EXPECT_EQ(std::vector<bool>({window.m_bHideControlPoints, window.m_bShowLines, a.m_bDrawMesh,
                               b.m_bDrawMesh, a.m_bSnapToNonWhite, b.m_bSnapToNonWhite}),
            std::vector<bool>({true, false, true, true, true, false}));
  // The help text, the key echo, the snap line, the resize warning and Escape's
  // status are the e2e start_keys test's.
}

// (The frames a script writes, skipped lines among them: AnimationPlayerTest
// and the e2e animation and bad_config tests.)
TEST(WindowAnimation, FrameNumbersArePaddedToSixDigitsOrMore) {
  EXPECT_EQ(WarpixWindow::AnimationFrameName("Anim", 1000000), "Anim1000000.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("f/Anim", 7), "f/Anim000007.jpg");
  EXPECT_EQ(WarpixWindow::AnimationFrameName("", INT_MAX), "2147483647.jpg");
}

// (The written files and their lines: the e2e export test; the file names:
// CellExportTest.)
TEST_F(WindowTest, ExportSaysWhichCellsItCouldNotWrite) {
  TestWindow window(100, 100, 2, 1);
  Warpixator a(image, "a"), b(image, "b");
  a.m_ModuleName = "First";
  b.m_ModuleName = "Odd/Name";
  window.AddDeformator(&a);
  window.AddDeformator(&b);
  warpix_test::TempFile file("export_blocker");
  file.write("x");  // a prefix under a regular file cannot be written
  const std::string blocker = file.path() + "/";
  window.SetExportPrefix(blocker);
  CoutCapture failed;
  EXPECT_EQ(window.ExportCells(), 0);
  EXPECT_EQ(failed.str(), "[ERROR] Cannot write " + blocker + "00_First.png\n[ERROR] Cannot write " + blocker + "01_Odd_Name.png\n");
}

TEST(WindowSize, TooLargeWindowsShrinkWholeToFitTheirLimits) {
  struct Case { int w, h, maxW, maxH; bool clamped; int outW, outH; };
  const Case cases[] = {
      {40000, 30000, 1600, 1200, true, 1600, 1200},  // both limits, same factor
      {3000, 1000, 1600, 1200, true, 1600, 533},     // width decides; 533.33 rounds down
      {1000, 3000, 1600, 1200, true, 400, 1200},
      {1500, 900, 1600, 1200, false, 1500, 900},     // fits: untouched
      {1600, 1200, 1600, 1200, false, 1600, 1200},   // exactly the limit
      {100000, 1, 1600, 1200, true, 1600, 1},        // never below 1
      {20000, 20000, 0, 0, false, 20000, 20000},     // no limit known
      {20000, 20000, 16384, -1, true, 16384, 16384},
  };
  for (const Case& c : cases) {
    int w = c.w, h = c.h;
    EXPECT_EQ(WarpixWindow::ClampWindowSize(w, h, c.maxW, c.maxH), c.clamped) << c.w << "x" << c.h;
    EXPECT_TRUE(w == c.outW && h == c.outH) << c.w << "x" << c.h << " -> " << w << "x" << h;
  }
}

}  // namespace
