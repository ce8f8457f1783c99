#include "deform/Warpixator.h"

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "DeformTesting.h"
#include "deform/WarpixatorCanvas.h"

namespace {

using deform_test::Mesh;
using deform_test::Points;
using deform_test::Positions;
using warpix_test::CoutCapture;

// Records the targets of every recomputation, honouring m_bNeedsUpdate like
// the mesh methods. Its map translates by the displacement of control point 0,
// so a save visibly moves the rest mesh.
class ProbeDeformator : public Warpixator {
 public:
  using Warpixator::PrepareFrame;
  using Warpixator::Warpixator;
  void Deform() override {
    if (m_bNeedsUpdate) m_Computed.push_back(m_ControlPointsNewPos);
    m_bNeedsUpdate = false;
  }
  void MapPoint(double x, double y, double& outX, double& outY) override {
    const bool any = NumControlPoints() > 0;
    outX = x + (any ? m_ControlPointsNewPos[0] - m_ControlPointsOrigPos[0] : 0.0);
    outY = y + (any ? m_ControlPointsNewPos[1] - m_ControlPointsOrigPos[1] : 0.0);
  }
  std::vector<Points> m_Computed;
};

// Sets the state, saves, and returns what was printed.
std::string Save(Warpixator& d, Points orig, Points moved) {
  CoutCapture out;
  d.InitializeCtrlPntState(orig, moved);
  d.ClearControls(true);
  return out.str();
}

// Writes down every primitive a deformator draws, in order.
class RecordingCanvas : public WarpixatorCanvas {
 public:
  void RenderText(char const* text, double x, double y, double, double, double, int font) override {
    Note({"text", text, Num(x), Num(y), Num(font)});
  }
  int MaxTextureSize() override { return m_iMaxTexture; }
  void LoadTexture(unsigned int id, const R2Image& image) override { Note({"bytes", Num(id), Num(image.NComponents())}); }
  void LoadTexture(unsigned int id, int, int, const float*) override { Note({"floats", Num(id)}); }
  void DrawTexturedTriangles(unsigned int id, const std::vector<float>& corners, bool outlines) override {
    Note({"triangles", Num(id), Num(corners.size() / 12), outlines ? "outlined" : ""});
  }
  void DrawTexturedSquare(unsigned int id) override { Note({"square", Num(id)}); }
  void DrawMarker(double, double, double, double, double, double) override { Note({"marker"}); }
  void DrawSegments(const std::vector<double>&, float) override { Note({"segments"}); }
  static std::string Num(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
  }
  void Note(const std::vector<std::string>& words) {
    for (const std::string& w : words) m_Log += (w == words[0] ? "" : " ") + w;
    m_Log += ";";
  }
  std::string m_Log;
  int m_iMaxTexture = 0;
};

class WarpixatorTest : public ::testing::Test {
 protected:
  R2Image m_Image{4, 4, 3};
  double m_fX = 0, m_fY = 0;
};

TEST_F(WarpixatorTest, MeshIndexingCountsAndCounterClockwiseHalfCells) {
  struct Case { int cols, rows; double x0, x1, y0, y1; size_t vertices, faces; };
  for (const Case& c : {Case{10, 10, 0, 1, 0, 1, 121, 200}, Case{3, 2, 0.2, 0.8, 0.1, 0.9, 12, 12}}) {
    Warpixator d(m_Image, "mesh");
    Mesh(d, c.cols, c.rows, c.x0, c.x1, c.y0, c.y1);
    ASSERT_TRUE(d.m_Vertices.size() == c.vertices && d.m_Faces.size() == c.faces) << c.cols;
    EXPECT_EQ(Positions(d, false), Positions(d));
    const double w = (c.x1 - c.x0) / c.cols, h = (c.y1 - c.y0) / c.rows;
    for (int k = 0; k < int(c.vertices); ++k) {  // vertex (i, j) at index k = i (rows + 1) + j
      const auto& v = d.m_Vertices[k];
      const int i = k / (c.rows + 1), j = k % (c.rows + 1);
      warpix_test::expectNear({double(v.id), v.m_fTexU, v.m_fTexV, v.m_fRestX, v.m_fRestY},
                              {double(k), i / double(c.cols), j / double(c.rows), c.x0 + i * w, c.y0 + j * h}, 1e-15);
    }
    for (const auto& f : d.m_Faces) {  // twice the area: half of one cell, counter-clockwise
      const auto &a = d.m_Vertices[f.m_iV0], &b = d.m_Vertices[f.m_iV1], &e = d.m_Vertices[f.m_iV2];
      EXPECT_NEAR((b.m_fRestX - a.m_fRestX) * (e.m_fRestY - a.m_fRestY) -
                  (e.m_fRestX - a.m_fRestX) * (b.m_fRestY - a.m_fRestY), w * h, 1e-12);
    }
  }
  // Counts below 1: no triangles, and no division by zero.
  Warpixator zeroCols(m_Image, "a"), negative(m_Image, "b");
  Mesh(zeroCols, 0, 3);
  Mesh(negative, 3, -1);
  EXPECT_TRUE(zeroCols.m_Faces.empty() && negative.m_Faces.empty() && negative.m_Vertices.empty());
  EXPECT_EQ(Positions(zeroCols), (Points{0, 0, 0, 1.0 / 3, 0, 2.0 / 3, 0, 1}));
}

TEST_F(WarpixatorTest, SelectionSearchesTargetsWithinRadius) {
  Warpixator d(m_Image, "s");
  for (double x : {0.0, 0.5, 0.5}) d.AddControlPoint(x, 0.5, &m_fX, &m_fY);
  // Exactly one radius from point 0, slightly farther, a tie (the lower index),
  // one negative coordinate (still searches), both negative (deselects).
  struct Case { double x, y; int selected; };
  for (const Case& c : {Case{0.01, 0.5, 0}, {0.01 + 1e-9, 0.5, -1}, {0.5, 0.505, 1}, {-0.005, 0.5, 0}, {-0.001, -0.001, -1}}) {
    d.SelectControlPoint(c.x, c.y);
    EXPECT_EQ(d.m_iSelectedPoint, c.selected) << c.x << ", " << c.y;
  }
  d.m_ControlPointsNewPos[2] = d.m_ControlPointsNewPos[4] = 0.8;
  d.SelectControlPoint(0.5, 0.5);  // originals cannot be picked
  EXPECT_EQ(d.m_iSelectedPoint, -1);
}

TEST_F(WarpixatorTest, EveryFrameShowsTheLatestTargets) {
  ProbeDeformator d(m_Image, "m");
  d.AddControlPoint(0.5, 0.5, &m_fX, &m_fY);
  d.MoveSelectedControlPoint(0.6, 0.6);  // nothing selected
  d.SelectControlPoint(0.5, 0.5);
  d.MoveSelectedControlPoint(1.0, 0.5);  // on the border: nothing computed (e2e/points.sh: beyond it)
  // At most one recomputation between two frames; what waits is computed by the frame.
  for (double x : {0.999, 0.7, 0.8}) d.MoveSelectedControlPoint(x, 0.001);
  d.PrepareFrame();
  d.PrepareFrame();  // nothing moved: nothing computed
  Points first{0.3, 0.4}, second{0.35, 0.45}, tooLong{0.1, 0.1, 0.2, 0.2};
  d.MoveAllControlPoints(first);  // after a frame without recomputation: at once
  d.MoveAllControlPoints(second);
  d.PrepareFrame();
  d.MoveSelectedControlPoint(0.2, 0.5);
  d.ClearControls(false);  // deforms the waiting targets itself
  d.PrepareFrame();
  EXPECT_EQ(d.m_Computed, (std::vector<Points>{{0.999, 0.001}, {0.8, 0.001}, first, second, {0.2, 0.5}}));
  EXPECT_DEATH(d.MoveAllControlPoints(tooLong), "ctrlpnts\\.size\\(\\)==m_ControlPointsNewPos\\.size\\(\\)");

  // An initial state: given pairs moved (a target on the border ignored), then deformed once more.
  ProbeDeformator i(m_Image, "i"), p(m_Image, "p");
  Points orig{0.5, 0.5, 0.2, 0.3}, moved{0.6, 0.5}, outside{1.0, 0.5};
  i.InitializeCtrlPntState(orig, moved);
  p.InitializeCtrlPntState(moved, outside);
  EXPECT_TRUE(i.m_Computed == std::vector<Points>(2, {0.6, 0.5, 0.2, 0.3}) && p.m_ControlPointsNewPos == moved);
  EXPECT_EQ(i.m_iSelectedPoint, -1);
  EXPECT_DEATH(p.InitializeCtrlPntState(moved, orig), "newVals\\.size\\(\\) <= origVals\\.size\\(\\)");
}

// (One step's history line and its replay from the parameter file:
// e2e/points.sh; the saved mesh as the rest mesh: DeformPropertiesTest.)
TEST_F(WarpixatorTest, HistoryGathersEverySaveAndReplaysEachStepOnce) {
  ProbeDeformator original(m_Image, "a"), replayed(m_Image, "b"), pixel(m_Image, "Pixel");
  Mesh(original, 3, 3);
  Mesh(replayed, 3, 3);
  Save(original, {0.25, 0.5}, {0.375, 0.5});
  const std::string printed = Save(original, {0.5, 0.5, 0.8, 0.2}, {0.5, 0.55, 0.8, 0.2});
  const std::string tokens = "2 0.25 0.5 0.375 0.5 4 0.5 0.5 0.8 0.2 0.5 0.55 0.8 0.2";
  EXPECT_EQ(printed, "Deformation History:\n\tHistory [" + tokens + "]\n");
  replayed.m_History = ZelString(tokens).split(" ");
  {
    CoutCapture out;
    replayed.DeformUsingHistory();
    EXPECT_EQ(out.str().substr(out.str().rfind("Deformation")), printed);  // each step once
  }
  EXPECT_EQ(Positions(replayed), Positions(original));
  EXPECT_NE(Save(original, {1.0 / 3.0, 0.00001}, {}).find(" 2 0.333333 1e-05 0.333333 1e-05]"), std::string::npos);

  // An empty save records "0", whose replay changes nothing; pixel mode saves and replays nothing.
  ProbeDeformator empty(m_Image, "zero");
  Mesh(empty, 2, 2);
  const Points rest = Positions(empty);
  EXPECT_EQ(Save(empty, {}, {}), "Deformation History:\n\tHistory [0]\n");
  CoutCapture out;
  empty.DeformUsingHistory();
  EXPECT_TRUE(empty.m_History.join(" ") == "0" && Positions(empty) == rest);
  EXPECT_EQ(Save(pixel, {0.5, 0.5}, {}).rfind("[WARNING] Pixel: nothing saved", 0), 0u);
  pixel.m_History = ZelString("2 0.1 0.1 0.2 0.2").split(" ");
  pixel.DeformUsingHistory();
  EXPECT_EQ(out.str(), "Deformation History:\n\tHistory [0]\n[WARNING] Pixel: History not "
                       "replayed, replaying needs DEFORM_REGULAR_MESH mode\n");
  EXPECT_TRUE(pixel.m_ControlPointsOrigPos.size() == 2 && pixel.m_Computed.size() == 1);
}

TEST_F(WarpixatorTest, MalformedHistoriesReportThenStop) {
  Warpixator d(m_Image, "bad");
  Mesh(d, 1, 1);
  const std::string shortEntry = "follow.*i \\+ 2\\*numPnts < historyCopy\\.count\\(\\)";
  const std::vector<std::pair<const char*, std::string>> cases{
      {"x 1 2 3 4", "token 0 \\(\"x\"\\) is not a count.*\\(ok\\)"},
      {"3 1 2 3 4 5 6", "not a count.*\\(ok\\)"},  // odd: no whole pairs
      {"2 1 0.2x 3 4", "token 2 .* is not a finite number.*\\(ok\\)"},
      {"2 1 2 3 4 4 5", "token 5 announces 8 coordinates but only 1 " + shortEntry},
      {"2147483646 1", shortEntry}};
  for (const auto& [history, expected] : cases) {
    d.m_History = ZelString(history).split(" ");
    // The child writes its console to standard error, where the matcher looks.
    EXPECT_DEATH((std::cout.rdbuf(std::cerr.rdbuf()), d.DeformUsingHistory()), "\\[ERROR\\] History: .*" + expected)
        << history;
  }
}

TEST_F(WarpixatorTest, TransparencyIsAnInclusiveColourDistance) {
  m_Image.SetPixelRGB(1, 0, RNRgb(0.2, 0.4, 0.6));
  Warpixator d(m_Image, "t");
  d.m_fTransparencyThreshold = 0.625;
  EXPECT_FALSE(d.IsTransparent(0.0, 0.0, 0.0));  // switched off
  d.m_bWhiteToTransparent = true;
  // (0, 0.375, 0.5) is exactly 0.625 from black (a 3-4-5 triangle of dyadic values); one step less excludes it.
  EXPECT_TRUE(d.IsTransparent(0.0, 0.375, 0.5));
  d.m_fTransparencyThreshold = std::nextafter(0.625, 0.0);
  EXPECT_FALSE(d.IsTransparent(0.0, 0.375, 0.5));
  d.m_fTransparencyThreshold = 0.0;
  d.m_TransparentColor = m_Image.PixelRGB(1, 0);  // the pixel's own colour only; nothing outside the image
  EXPECT_TRUE(d.IsTransparent(1, 0) && !d.IsTransparent(0, 0) && !d.IsTransparent(4, 0) && !d.IsTransparent(0, -1));
}

TEST_F(WarpixatorTest, AlphaBelowHalfIsTransparentWithOrWithoutTheColourRule) {
  // RGBA 3 x 2, grey but black at (2, 1), alpha 0, 127, 128, 255, 255, 255; grey and alpha 2 x 1; grey 2 x 1.
  const unsigned char rgba[24] = {128, 128, 128, 0, 128, 128, 128, 127, 128, 128, 128, 128, 128, 128, 128, 255, 128, 128, 128, 255, 0, 0, 0, 255};
  const unsigned char greyAlpha[4] = {200, 127, 200, 128}, grey[4] = {200, 0, 0, 0};
  R2Image images[3] = {R2Image(3, 2, 4, rgba), R2Image(2, 1, 2, greyAlpha), R2Image(2, 1, 1, grey)};
  auto transparent = [&](int k, bool colourRule) {
    Warpixator d(images[k], "alpha");
    d.m_bWhiteToTransparent = colourRule;
    d.m_fTransparencyThreshold = 0.1;  // around black, the default colour
    std::vector<int> flags;
    for (int i = 0; i < images[k].Width() * images[k].Height(); ++i) flags.push_back(d.IsTransparent(i % images[k].Width(), i / images[k].Width()));
    return flags.push_back(d.IsTransparent(images[k].Width(), 0)), flags;  // outside: never
  };
  EXPECT_EQ(transparent(0, false), std::vector<int>({1, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(transparent(0, true), std::vector<int>({1, 1, 0, 0, 0, 1, 0}));
  EXPECT_EQ(transparent(1, false), std::vector<int>({1, 0, 0}));
  EXPECT_EQ(transparent(2, false), std::vector<int>({0, 0, 0}));  // no alpha: byte 1 is a grey level
}

// (The markers, the selected one darker, hidden markers and the mesh: e2e
// points.sh, animation.sh and rigid.sh read them from the frames.)
TEST_F(WarpixatorTest, TextureIsUploadedOnceAndFacesOutsideTheVerticesAreSkipped) {
  Warpixator::s_GlobalTextureID = 8;
  Warpixator mesh(m_Image, "mesh");
  Mesh(mesh, 2, 1);
  mesh.m_bDrawMesh = true;
  mesh.m_Faces.push_back({0, 1, 99});
  RecordingCanvas canvas;
  canvas.m_bHideControlPoints = true;
  mesh.Draw(&canvas);
  mesh.Draw(&canvas);
  const std::string frame = "triangles 8 4 outlined;text mesh 0.2 1.01 2;";
  EXPECT_EQ(canvas.m_Log, "bytes 8 3;" + frame + frame);
}

// (The float texture's alpha on the transparent colour: e2e/transparency.sh.)
TEST_F(WarpixatorTest, TextureLargerThanTheCanvasTakesIsNotUploaded) {
  Warpixator d(m_Image, "big");
  RecordingCanvas canvas;
  canvas.m_iMaxTexture = 3;  // the 4 x 4 picture does not fit
  CoutCapture out;
  d.Draw(&canvas);
  EXPECT_NE(out.str().find("[WARNING] big: image 4x4 exceeds the largest texture 3x3; it is not shown"), std::string::npos);
  EXPECT_EQ(canvas.m_Log.find("bytes"), std::string::npos);
}

}  // namespace
