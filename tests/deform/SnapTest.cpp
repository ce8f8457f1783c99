#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "DeformTesting.h"
#include "deform/DeformAsRigidAsPossible.h"
#include "deform/DeformMLS.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/quasiconf/DeformQuasiConf.h"

namespace {

using deform_test::Points;
using warpix_test::CoutCapture;

// The base deformator with its snap in reach.
class SnapProbe : public Warpixator {
 public:
  using Warpixator::SnapToVertex;
  using Warpixator::Warpixator;
};

TEST(WarpixatorSnap, NearestVertexByRestOrCurrentPositionOpaqueFilterFallbackAndTies) {
  // A 4 x 4 picture, black (transparent) except its top-right pixel, under a
  // 4 x 4 mesh: vertex (i, j) at index 5 i + j, at rest at (i / 4, j / 4).
  R2Image image(4, 4, 3), black(4, 4, 3);
  image.SetPixelRGB(3, 3, RNRgb(1, 1, 1));
  SnapProbe d(image, "probe"), none(black, "probe");
  CoutCapture out;
  d.SwitchMeshBasedDeformation(4, 4, false, true, RNRgb(0, 0, 0), 0.1, 0, 1, 0, 1);
  none.SwitchMeshBasedDeformation(4, 4, false, true, RNRgb(0, 0, 0), 0.1, 0, 1, 0, 1);
  const size_t start = out.str().size();  // a snap alone prints nothing
  d.m_Vertices[6].m_fX = 0.9;  // vertex (1, 1) shown at (0.9, 0.25)
  d.m_Vertices[6].m_fY = 0.25;
  struct Case { double x, y; bool rest, opaque; int vertex; };
  const Case cases[] = {
      {0.2, 0.26, false, false, 1},   // (1, 1) moved away: (0, 1) is nearest now
      {0.2, 0.26, true, false, 6},    // at rest (1, 1) still is
      {0.88, 0.26, false, false, 6},  // and it is found where it is shown
      {0.125, 0.1, true, false, 0},   // (0, 0) and (1, 0) tie: the lower index
      {0.1, 0.1, true, true, 18},     // opaque only: the vertices at u, v in {0.75, 1}
      {NAN, 0.5, true, false, -1},    // not a number: no vertex
  };
  for (const Case& c : cases) {
    EXPECT_EQ(d.SnapToVertex(c.x, c.y, Warpixator::SnapOptions{c.rest, c.opaque, true}), c.vertex)
        << c.x << " " << c.y;
  }
  // Nothing opaque: every vertex qualifies again, silently unless asked to
  // warn (the warning: MethodSnap below).
  EXPECT_EQ(none.SnapToVertex(0.3, 0.3, Warpixator::SnapOptions{false, true, false}), 6);
  EXPECT_EQ(out.str().size(), start);
}

// Where each method puts a clicked point: a 4 x 4 picture, black
// (transparent) except maybe its top-right pixel, under a 4 x 4 mesh whose
// vertex (1, 1) is shown at (0.9, 0.25). A click near that vertex, a click
// at (0.1, 0.1) with "n" on, the same over an all-transparent picture, and a
// click in pixel mode; returns what was printed and where the points went.
std::string Clicks(const std::function<std::unique_ptr<Warpixator>(R2Image&)>& make, Points& placed) {
  struct Click { double x, y; bool opaqueKey, anyOpaque, mesh; };
  std::string printed;
  for (const Click& c : {Click{0.88, 0.26, false, true, true}, Click{0.1, 0.1, true, true, true},
                         Click{0.1, 0.1, true, false, true}, Click{0.3, 0.3, false, true, false}}) {
    R2Image image(4, 4, 3);
    if (c.anyOpaque) image.SetPixelRGB(3, 3, RNRgb(1, 1, 1));
    auto d = make(image);
    CoutCapture out;
    if (c.mesh) d->SwitchMeshBasedDeformation(4, 4, false, true, RNRgb(0, 0, 0), 0.1, 0, 1, 0, 1);
    if (c.mesh) d->m_Vertices[6].m_fX = 0.9;
    d->m_bSnapToNonWhite = c.opaqueKey;
    const size_t start = out.str().size();
    double x = 0, y = 0;
    d->AddControlPoint(c.x, c.y, &x, &y);
    EXPECT_EQ(d->m_ControlPointsOrigPos, Points({x, y}));
    placed.insert(placed.end(), {x, y});
    printed += out.str().substr(start);
  }
  return printed;
}

TEST(MethodSnap, ByCurrentPositionAndTheOpaqueKeyWhereTheMethodTakesIt) {
  const std::string warning = "[WARNING] m: no opaque mesh vertex; the point goes to the nearest vertex\n";
  struct Row {
    std::function<std::unique_ptr<Warpixator>(R2Image&)> make;
    std::string printed;
    Points placed;
  };
  const Row rows[] = {
      // Moving least squares: any vertex, "n" or not.
      {[](R2Image& i) { return std::make_unique<DeformMLS>(i, "m", DeformMLS::MLS_RIGID); },
       "actual=[0.9, 0.25]\nactual=[0, 0]\nactual=[0, 0]\n", {0.9, 0.25, 0, 0, 0, 0, 0.3, 0.3}},
      // Mean value coordinates: no snap.
      {[](R2Image& i) { return std::make_unique<DeformMeanValueCoords>(i, "m"); }, "",
       {0.88, 0.26, 0.1, 0.1, 0.1, 0.1, 0.3, 0.3}},
      // As rigid as possible and the quasi-conformal cells: opaque vertices with "n".
      {[](R2Image& i) { return std::make_unique<DeformAsRigidAsPossible>(false, true, i, "m"); },
       "actual=[0.9, 0.25]\nactual=[0.75, 0.75]\n" + warning + "actual=[0, 0]\n", {0.9, 0.25, 0.75, 0.75, 0, 0, 0.3, 0.3}},
      {[](R2Image& i) { return std::make_unique<DeformQuasiConf>(i, "m", DeformQuasiConf::OP_AFFINE_QUAD); },
       "actual=[0.9, 0.25]\nactual=[0.75, 0.75]\n" + warning + "actual=[0, 0]\n", {0.9, 0.25, 0.75, 0.75, 0, 0, 0.3, 0.3}}};
  for (const Row& row : rows) {
    Points placed;
    EXPECT_EQ(Clicks(row.make, placed), row.printed);
    EXPECT_EQ(placed, row.placed) << row.printed;
  }
}

}  // namespace
