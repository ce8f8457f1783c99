#include "render/DistortionMetrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "render/DistortionMetricsKernel.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A K that is not below it (or not a number) belongs to a collapsed face, as
// in DistortionMetrics::Distortion.
constexpr double kLargest = std::numeric_limits<double>::max();

// Whether every pixel of the picture whose centre lies in the triangle (in
// pixel units) is transparent; a triangle that holds no pixel centre is
// judged by the pixel under its centroid.
bool WhollyTransparent(Warpixator& deformator, const double x[3], const double y[3]) {
  const int width = deformator.m_Image.Width(), height = deformator.m_Image.Height();
  const double area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
  const int i0 = std::max(0, static_cast<int>(std::floor(std::min({x[0], x[1], x[2]}))));
  const int i1 = std::min(width - 1, static_cast<int>(std::ceil(std::max({x[0], x[1], x[2]}))));
  const int j0 = std::max(0, static_cast<int>(std::floor(std::min({y[0], y[1], y[2]}))));
  const int j1 = std::min(height - 1, static_cast<int>(std::ceil(std::max({y[0], y[1], y[2]}))));
  bool anyInside = false;
  for (int j = j0; j <= j1; ++j) {
    for (int i = i0; i <= i1; ++i) {
      const double px = i + 0.5, py = j + 0.5;
      bool inside = true;
      for (int e = 0; e < 3 && inside; ++e) {
        const int n = (e + 1) % 3;
        const double side = (x[n] - x[e]) * (py - y[e]) - (y[n] - y[e]) * (px - x[e]);
        inside = area > 0.0 ? side >= 0.0 : side <= 0.0;
      }
      if (!inside) continue;
      anyInside = true;
      if (!deformator.IsTextureTransparent(i, j)) return false;
    }
  }
  if (anyInside) return true;
  const int cx = std::min(width - 1, std::max(0, static_cast<int>((x[0] + x[1] + x[2]) / 3.0)));
  const int cy = std::min(height - 1, std::max(0, static_cast<int>((y[0] + y[1] + y[2]) / 3.0)));
  return deformator.IsTextureTransparent(cx, cy);
}

// Current positions of the vertices in pixels into x and y, and the largest
// displacement of a vertex of a counted face from its rest position (a
// vertex that is not a number has moved beyond measure: infinity).
double PackPositions(const std::vector<Warpixator::ImgVertex>& vertices, double w, double h,
                     const std::vector<char>& vertexCounted, std::vector<double>& packedX,
                     std::vector<double>& packedY) {
  const size_t numVertices = vertices.size();
  packedX.resize(numVertices);
  packedY.resize(numVertices);
  double maxShift2 = 0.0;
  bool shiftNaN = false;
  for (size_t v = 0; v < numVertices; ++v) {
    const double x = vertices[v].m_fX * w, y = vertices[v].m_fY * h;
    packedX[v] = x;
    packedY[v] = y;
    if (!vertexCounted[v]) continue;
    const double dx = x - vertices[v].m_fTexU * w, dy = y - vertices[v].m_fTexV * h;
    const double shift2 = dx * dx + dy * dy;
    maxShift2 = shift2 > maxShift2 ? shift2 : maxShift2;
    shiftNaN = shiftNaN || shift2 != shift2;
  }
  return shiftNaN ? kInfinity : std::sqrt(maxShift2);
}

// The numbers of the cell (all but the shift) from K and det J of every
// counted face; each face's own into perFace (at the face's mesh index) when given.
CellDistortion Summarise(const std::vector<DistortionRestFace>& counted,
                         const std::vector<int>& countedIndex, const std::vector<double>& k,
                         const std::vector<double>& dets, std::vector<FaceDistortion>* perFace) {
  double areaMin = kInfinity, areaMax = -kInfinity, conformalMax = 1.0;
  double weightedK = 0.0, keptArea = 0.0, countedArea = 0.0, flippedArea = 0.0;
  int flipped = 0;
  for (size_t c = 0; c < counted.size(); ++c) {
    const double det = dets[c], restArea = counted[c].m_fRestArea;
    const double conformal = k[c] < kLargest ? (k[c] > 1.0 ? k[c] : 1.0) : kInfinity;
    const double area = det == det ? det : 0.0;
    if (perFace != nullptr) {
      FaceDistortion& face = (*perFace)[countedIndex[c]];
      face.m_fConformal = conformal;
      face.m_fArea = area;
      face.m_bFlipped = det < 0.0;
    }
    countedArea += restArea;
    areaMin = area < areaMin ? area : areaMin;
    areaMax = area > areaMax ? area : areaMax;
    if (det < 0.0) {
      ++flipped;
      flippedArea += restArea;
      continue;
    }
    conformalMax = conformal > conformalMax ? conformal : conformalMax;
    weightedK += restArea * conformal;
    keptArea += restArea;
  }
  CellDistortion cell;
  cell.m_iFaces = static_cast<int>(counted.size());
  cell.m_iFlipped = flipped;
  cell.m_fConformalMax = conformalMax;
  cell.m_fAreaMin = cell.m_iFaces > 0 ? areaMin : 1.0;
  cell.m_fAreaMax = cell.m_iFaces > 0 ? areaMax : 1.0;
  cell.m_fConformalMean = keptArea > 0.0 ? weightedK / keptArea : 1.0;
  cell.m_fFlippedShare = countedArea > 0.0 ? flippedArea / countedArea : 0.0;
  return cell;
}

}  // namespace

FaceDistortion DistortionMetrics::OfMatrix(double a, double b, double c, double d) {
  FaceDistortion face;
  double conformal = 0.0, det = 0.0;
  Distortion(a, b, c, d, conformal, det);
  face.m_fConformal = conformal;
  face.m_fArea = std::isnan(det) ? 0.0 : det;  // a corner that is not a number has no area
  face.m_bFlipped = det < 0.0;
  return face;
}

DistortionMetrics::DistortionMetrics(Warpixator& deformator, int gridSize)
    : m_Deformator(deformator),
      m_bOwnGrid(deformator.m_DeformationType != Warpixator::DEFORM_REGULAR_MESH),
      m_fWidth(deformator.m_Image.Width()),
      m_fHeight(deformator.m_Image.Height()) {
  if (m_bOwnGrid) {
    const int n = std::max(1, gridSize);
    for (int i = 0; i <= n; ++i) {
      for (int j = 0; j <= n; ++j) {
        Warpixator::ImgVertex v;
        v.m_fX = v.m_fTexU = v.m_fRestX = static_cast<double>(i) / n;
        v.m_fY = v.m_fTexV = v.m_fRestY = static_cast<double>(j) / n;
        v.id = static_cast<int>(m_GridVertices.size());
        m_GridVertices.push_back(v);
      }
    }
    // Vertex (i, j) at i (n + 1) + j, two counter-clockwise halves per cell,
    // row by row, as the deformators' own meshes.
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        const int v00 = i * (n + 1) + j, v10 = (i + 1) * (n + 1) + j;
        m_GridFaces.push_back({v00, v10, v10 + 1});
        m_GridFaces.push_back({v00, v10 + 1, v00 + 1});
      }
    }
  }
  CacheRest();
}

const std::vector<Warpixator::ImgFace>& DistortionMetrics::Faces() const {
  return m_bOwnGrid ? m_GridFaces : m_Deformator.m_Faces;
}

const std::vector<Warpixator::ImgVertex>& DistortionMetrics::Vertices() const {
  return m_bOwnGrid ? m_GridVertices : m_Deformator.m_Vertices;
}

void DistortionMetrics::CacheRest() {
  const std::vector<Warpixator::ImgFace>& faces = Faces();
  const std::vector<Warpixator::ImgVertex>& vertices = Vertices();
  const int numVertices = static_cast<int>(vertices.size());
  const bool mayBeTransparent =
      m_Deformator.m_Image.IsValid() &&
      (m_Deformator.m_bWhiteToTransparent || m_Deformator.m_Image.NComponents() == 2 ||
       m_Deformator.m_Image.NComponents() == 4);
  m_Faces.clear();
  m_Faces.reserve(faces.size());
  m_Counted.clear();
  m_CountedIndex.clear();
  m_VertexCounted.assign(vertices.size(), 0);
  for (const Warpixator::ImgFace& face : faces) {
    DistortionRestFace rest{face.m_iV0, face.m_iV1, face.m_iV2, 0.0, 0.0, 0.0, 0.0, 0.0, true};
    const int corners[3] = {face.m_iV0, face.m_iV1, face.m_iV2};
    bool valid = true;
    for (int c : corners) valid = valid && c >= 0 && c < numVertices;
    if (valid) {
      double x[3], y[3];
      for (int k = 0; k < 3; ++k) {
        x[k] = vertices[corners[k]].m_fTexU * m_fWidth;
        y[k] = vertices[corners[k]].m_fTexV * m_fHeight;
      }
      const double e1x = x[1] - x[0], e1y = y[1] - y[0], e2x = x[2] - x[0], e2y = y[2] - y[0];
      const double det = e1x * e2y - e2x * e1y;
      if (det != 0.0 && std::isfinite(det)) {
        rest.m_fInv00 = e2y / det, rest.m_fInv01 = -e2x / det;
        rest.m_fInv10 = -e1y / det, rest.m_fInv11 = e1x / det;
        rest.m_fRestArea = 0.5 * std::fabs(det);
        rest.m_bLeftOut = mayBeTransparent && WhollyTransparent(m_Deformator, x, y);
      }
    }
    if (!rest.m_bLeftOut) {
      for (int c : corners) m_VertexCounted[c] = 1;
      m_CountedIndex.push_back(static_cast<int>(m_Faces.size()));
      m_Counted.push_back(rest);
    }
    m_Faces.push_back(rest);
  }
}

CellDistortion DistortionMetrics::Measure(std::vector<FaceDistortion>* perFace) {
  if (perFace != nullptr) perFace->assign(m_Faces.size(), FaceDistortion());
  if (m_bOwnGrid && !m_Deformator.MapsPoints()) {
    // No point map: the cell shows its picture undeformed, and there is no
    // map to measure it by.
    for (Warpixator::ImgVertex& v : m_GridVertices) {
      v.m_fX = v.m_fRestX;
      v.m_fY = v.m_fRestY;
    }
    CellDistortion cell;
    cell.m_bMeasured = false;
    return cell;
  }
  if (m_bOwnGrid) {
    for (Warpixator::ImgVertex& v : m_GridVertices) {
      m_Deformator.MapPoint(v.m_fRestX, v.m_fRestY, v.m_fX, v.m_fY);
    }
  }
  const double maxShift =
      PackPositions(Vertices(), m_fWidth, m_fHeight, m_VertexCounted, m_PackedX, m_PackedY);

  // K and det J of every counted face, a vector of faces at a time (the same
  // operations as Distortion, lane by lane).
  const size_t counted = m_Counted.size();
  m_K.resize(counted);
  m_Det.resize(counted);
  warpix::DistortionOfFaces(m_Counted.data(), counted, m_PackedX.data(), m_PackedY.data(),
                            m_K.data(), m_Det.data());

  CellDistortion cell = Summarise(m_Counted, m_CountedIndex, m_K, m_Det, perFace);
  cell.m_fMaxShift = maxShift;
  return cell;
}

const char* DistortionMetrics::NotMeasuredReason() {
  return "pixel mode, and the method maps mesh vertices only";
}

std::string DistortionMetrics::ConsoleLine(const char* name, const CellDistortion& cell) {
  const std::string head = std::string("Distortion ") + (name != nullptr ? name : "");
  if (!cell.m_bMeasured) return head + ": not measured (" + NotMeasuredReason() + ")";
  char text[512];
  std::snprintf(text, sizeof(text),
                ": K max %.4f, mean %.4f, area [%.4f, %.4f], flipped %d (%.1f%%), max shift %.2f px",
                cell.m_fConformalMax, cell.m_fConformalMean, cell.m_fAreaMin, cell.m_fAreaMax,
                cell.m_iFlipped, 100.0 * cell.m_fFlippedShare, cell.m_fMaxShift);
  return head + text;
}

std::string DistortionMetrics::NameLabel(const CellDistortion& cell) {
  if (!cell.m_bMeasured) return "not measured";
  char text[160];
  std::snprintf(text, sizeof(text), "K max %.2f mean %.2f, flips %d", cell.m_fConformalMax,
                cell.m_fConformalMean, cell.m_iFlipped);
  return text;
}
