#include "deform/Warpixator.h"

#include <algorithm>
#include <climits>
#include <cfloat>
#include <cmath>
#include <iostream>
#include <sstream>
#include <string>

#include "image/RNError.h"
#include "support/WarpixAssert.h"

unsigned int Warpixator::s_GlobalTextureID = 0;

namespace {

long long s_TableByteLimit = 1LL << 30;

// A whole token as one integer (no trailing characters).
long long ParseWholeInteger(const ZelString& token, bool& ok) {
  std::istringstream in(token.toStdString());
  long long value = 0;
  in >> value;
  ok = !in.fail() && (in >> std::ws).eof();
  return ok ? value : 0;
}

// A whole token as one finite double (no trailing characters).
double ParseWholeDouble(const ZelString& token, bool& ok) {
  std::istringstream in(token.toStdString());
  double value = 0.0;
  in >> value;
  ok = !in.fail() && (in >> std::ws).eof() && std::isfinite(value);
  return ok ? value : 0.0;
}

// One replay step read from a history: N original and N target coordinates.
struct HistoryStep {
  std::vector<double> m_OrigPos;
  std::vector<double> m_NewPos;
};

// A picture with an alpha channel (2 or 4 components) is transparent where
// its own alpha is below half; x, y must lie inside the image.
bool IsAlphaTransparent(const R2Image& image, int x, int y) {
  const int nc = image.NComponents();
  if (nc != 2 && nc != 4) return false;
  return image.Pixels()[static_cast<size_t>(y) * image.RowSize() + static_cast<size_t>(x) * nc + nc - 1] < 128;
}

}  // namespace

Warpixator::Warpixator(R2Image& image, const ZelString& name)
    : m_Name(name),
      m_DeformationType(DEFORM_PIXEL),
      m_bDrawMesh(false),
      m_bWhiteToTransparent(false),
      m_bSnapToNonWhite(false),
      m_fControlPointRadius(0.01),
      m_iSelectedPoint(-1),
      m_Image(image),
      m_iTextureID(s_GlobalTextureID++),
      m_bLoadTexture(true),
      m_bNeedsUpdate(true),
      m_TransparentColor(0.0, 0.0, 0.0),
      m_fTransparencyThreshold(-1.0) {}

Warpixator::~Warpixator() = default;

void Warpixator::SwitchMeshBasedDeformation(int cols, int rows, bool drawMesh,
                                            bool whiteToTransparent, RNRgb transparentColor,
                                            double threshold, double x0, double x1, double y0,
                                            double y1) {
  m_TransparentColor = transparentColor;
  m_fTransparencyThreshold = threshold;
  m_bWhiteToTransparent = whiteToTransparent;
  std::cout << "Mesh Based Deformation" << std::endl;
  m_DeformationType = DEFORM_REGULAR_MESH;

  // Vertices column by column; a count of 0 puts the single column (row) on
  // the rectangle's lower edge instead of dividing by zero.
  const int base = static_cast<int>(m_Vertices.size());
  if (cols >= 0 && rows >= 0) {
    for (int i = 0; i <= cols; ++i) {
      for (int j = 0; j <= rows; ++j) {
        const double u = cols > 0 ? static_cast<double>(i) / cols : 0.0;
        const double v = rows > 0 ? static_cast<double>(j) / rows : 0.0;
        ImgVertex vertex;
        vertex.m_fX = vertex.m_fRestX = x0 + u * (x1 - x0);
        vertex.m_fY = vertex.m_fRestY = y0 + v * (y1 - y0);
        vertex.m_fTexU = u;
        vertex.m_fTexV = v;
        vertex.id = static_cast<int>(m_Vertices.size());
        m_Vertices.push_back(vertex);
      }
    }
  }

  // Two counter-clockwise triangles per cell, split along the diagonal from
  // the lower-left to the upper-right corner.
  if (cols >= 1 && rows >= 1) {
    auto index = [base, rows](int i, int j) { return base + i * (rows + 1) + j; };
    for (int j = 0; j < rows; ++j) {
      for (int i = 0; i < cols; ++i) {
        const int p00 = index(i, j);
        const int p10 = index(i + 1, j);
        const int p11 = index(i + 1, j + 1);
        const int p01 = index(i, j + 1);
        m_Faces.push_back(ImgFace{p00, p10, p11});
        m_Faces.push_back(ImgFace{p00, p11, p01});
      }
    }
  }
  m_bDrawMesh = drawMesh;
}

long long Warpixator::TableByteLimit() { return s_TableByteLimit; }

void Warpixator::SetTableByteLimit(long long bytes) { s_TableByteLimit = bytes < 0 ? 0 : bytes; }

bool Warpixator::FitsTableLimit(double bytes, const char* what, const char* consequence) {
  // Compared as doubles: the products of counts that give the estimate may
  // not fit 64 bits.
  if (bytes <= static_cast<double>(s_TableByteLimit)) {
    m_bWarnedTableLimit = false;
    return true;
  }
  if (!m_bWarnedTableLimit) {
    m_bWarnedTableLimit = true;
    // Whole megabytes; an estimate beyond any machine is shown capped, never
    // converted out of the range of the integer type.
    const double megabytes = std::fmin(std::ceil(bytes / (1024.0 * 1024.0)), 1e15);
    std::cout << "[WARNING] " << m_Name << ": " << what << " would need about "
              << static_cast<long long>(megabytes) << " MB of tables (more than "
              << s_TableByteLimit / (1LL << 20) << " MB); " << consequence << std::endl;
  }
  return false;
}

void Warpixator::SwitchPixelBasedDeformation() { m_DeformationType = DEFORM_PIXEL; }

void Warpixator::TweakParameter(double) {}

void Warpixator::ChangeMode(int) {}

void Warpixator::ClearControls(bool save) {
  // A pixel-mode deformator has no mesh to carry a deformation into the next
  // step: keep its points and history rather than record a step it never shows.
  if (save && m_DeformationType != DEFORM_REGULAR_MESH) {
    std::cout << "[WARNING] " << m_Name
              << ": nothing saved, saving needs DEFORM_REGULAR_MESH mode "
                 "(control points and history kept)"
              << std::endl;
    return;
  }

  m_bNeedsUpdate = true;
  m_bDeformPending = false;
  m_iSelectedPoint = -1;
  Deform();

  if (save) {
    MapMeshVertices();
    for (ImgVertex& vertex : m_Vertices) {
      vertex.m_fRestX = vertex.m_fX;
      vertex.m_fRestY = vertex.m_fY;
    }
    m_History.push_back(ZelString::number(static_cast<int>(m_ControlPointsOrigPos.size())));
    for (double value : m_ControlPointsOrigPos) m_History.push_back(ZelString::number(value));
    for (double value : m_ControlPointsNewPos) m_History.push_back(ZelString::number(value));
    std::cout << "Deformation History:\n\tHistory [" << m_History.join(" ") << "]"
              << std::endl;
  }

  m_ControlPointsOrigPos.clear();
  m_ControlPointsNewPos.clear();
  PrepareDeformator();
}

void Warpixator::AddControlPoint(double x, double y, double* outX, double* outY) {
  AppendControlPoint(x, y, outX, outY);
  PrepareDeformator();
}

void Warpixator::AppendControlPoint(double x, double y, double* outX, double* outY) {
  if (outX != nullptr) *outX = x;
  if (outY != nullptr) *outY = y;
  m_ControlPointsOrigPos.push_back(x);
  m_ControlPointsOrigPos.push_back(y);
  m_ControlPointsNewPos.push_back(x);
  m_ControlPointsNewPos.push_back(y);
}

void Warpixator::MoveByMeanDisplacement(const std::vector<double>& orig,
                                        const std::vector<double>& target, double x, double y,
                                        double& outX, double& outY) {
  const int n = static_cast<int>(std::min(orig.size(), target.size()) / 2);
  double shiftX = 0.0;
  double shiftY = 0.0;
  for (int k = 0; k < n; ++k) {
    shiftX += target[2 * k] - orig[2 * k];
    shiftY += target[2 * k + 1] - orig[2 * k + 1];
  }
  outX = n > 0 ? x + shiftX / n : x;
  outY = n > 0 ? y + shiftY / n : y;
}

void Warpixator::PrepareDeformator() {}

void Warpixator::Deform() {}

void Warpixator::MapPoint(double x, double y, double& outX, double& outY) {
  outX = x;
  outY = y;
}

bool Warpixator::MapsPoints() const { return true; }

void Warpixator::MapMeshVertices() {
  for (ImgVertex& vertex : m_Vertices) {
    MapPoint(vertex.m_fRestX, vertex.m_fRestY, vertex.m_fX, vertex.m_fY);
  }
}

const char* Warpixator::GetDeformatorName() { return m_Name.c_str(); }

void Warpixator::SelectControlPoint(double x, double y) {
  if (x < 0 && y < 0) {
    m_iSelectedPoint = -1;
    return;
  }
  double best = RN_INFINITY;
  m_iSelectedPoint = -1;
  for (int k = 0; k < NumControlPoints(); ++k) {
    const double dx = m_ControlPointsNewPos[2 * k] - x;
    const double dy = m_ControlPointsNewPos[2 * k + 1] - y;
    const double distance2 = dx * dx + dy * dy;
    if (distance2 < best) {
      best = distance2;
      m_iSelectedPoint = k;
    }
  }
  if (best > m_fControlPointRadius * m_fControlPointRadius) m_iSelectedPoint = -1;
}

void Warpixator::MoveSelectedControlPoint(double x, double y) {
  if (m_iSelectedPoint < 0 || m_iSelectedPoint >= NumControlPoints()) return;
  if (!(x > 0.0 && x < 1.0 && y > 0.0 && y < 1.0)) return;
  m_ControlPointsNewPos[2 * m_iSelectedPoint] = x;
  m_ControlPointsNewPos[2 * m_iSelectedPoint + 1] = y;
  m_bDeformPending = !m_bNeedsUpdate;
  Deform();
}

void Warpixator::MoveAllControlPoints(std::vector<double>& ctrlpnts) {
  WARPIX_ASSERT(ctrlpnts.size()==m_ControlPointsNewPos.size());
  m_ControlPointsNewPos = ctrlpnts;
  m_bDeformPending = !m_bNeedsUpdate;
  Deform();
}

void Warpixator::InitializeCtrlPntState(std::vector<double>& origVals,
                                        std::vector<double>& newVals) {
  WARPIX_ASSERT(origVals.size() % 2 == 0);
  WARPIX_ASSERT(newVals.size() % 2 == 0);
  WARPIX_ASSERT(newVals.size() <= origVals.size());
  // One preparation for the whole set, at the end, not one per point.
  m_bPlacingPointSet = true;
  for (size_t k = 0; k + 1 < origVals.size(); k += 2) {
    double placedX = 0.0;
    double placedY = 0.0;
    AddControlPoint(origVals[k], origVals[k + 1], &placedX, &placedY);
  }
  m_bPlacingPointSet = false;
  // MoveSelectedControlPoint ignores an index the method did not add.
  for (size_t k = 0; k + 1 < newVals.size(); k += 2) {
    m_iSelectedPoint = static_cast<int>(k / 2);
    MoveSelectedControlPoint(newVals[k], newVals[k + 1]);
  }
  m_iSelectedPoint = -1;
  m_bNeedsUpdate = true;
  m_bDeformPending = false;
  PrepareDeformator();
  Deform();
}

void Warpixator::PrintCtrlPntState() {
  ZelString line("\tInitCtrlPnts\t[");
  for (double value : m_ControlPointsOrigPos) line += ZelString::number(value) + " ";
  std::cout << line << "]" << std::endl;
  line = "\tDeformCtrlPnts\t[";
  for (double value : m_ControlPointsNewPos) line += ZelString::number(value) + " ";
  std::cout << line << "]" << std::endl;
}

void Warpixator::DeformUsingHistory() {
  // Read and check every entry before replaying any, so a malformed history
  // ends the start-up before anything is printed as saved.
  const ZelStringList historyCopy = m_History;
  std::vector<HistoryStep> steps;
  long long i = 0;
  while (i < historyCopy.count()) {
    bool ok = false;
    const long long numPnts = ParseWholeInteger(historyCopy[static_cast<int>(i)], ok);
    if (!ok || numPnts < 0 || numPnts > INT_MAX || numPnts % 2 != 0) {
      std::cout << "[ERROR] History: token " << i << " (\"" << historyCopy[static_cast<int>(i)]
                << "\") is not a count of coordinates (a non-negative even integer)"
                << std::endl;
      ok = false;
    }
    WARPIX_CONFIG_ASSERT(ok);
    if (!(i + 2*numPnts < historyCopy.count())) {
      std::cout << "[ERROR] History: the entry at token " << i << " announces " << 2 * numPnts
                << " coordinates but only " << (historyCopy.count() - i - 1) << " follow"
                << std::endl;
    }
    WARPIX_CONFIG_ASSERT(i + 2*numPnts < historyCopy.count());

    HistoryStep step;
    for (long long t = i + 1; t <= i + 2 * numPnts; ++t) {
      const ZelString& token = historyCopy[static_cast<int>(t)];
      const double value = ParseWholeDouble(token, ok);
      if (!ok) {
        std::cout << "[ERROR] History: token " << t << " (\"" << token
                  << "\") is not a finite number" << std::endl;
      }
      WARPIX_CONFIG_ASSERT(ok);
      (t <= i + numPnts ? step.m_OrigPos : step.m_NewPos).push_back(value);
    }
    steps.push_back(step);
    i += 2 * numPnts + 1;
  }

  // Each replayed save appends its own entry again, so start from an empty
  // history: afterwards it holds each step exactly once.
  m_History.clear();
  if (m_DeformationType != DEFORM_REGULAR_MESH) {
    std::cout << "[WARNING] " << m_Name
              << ": History not replayed, replaying needs DEFORM_REGULAR_MESH mode" << std::endl;
    return;
  }
  for (HistoryStep& step : steps) {
    m_ControlPointsOrigPos = step.m_OrigPos;
    m_ControlPointsNewPos = step.m_NewPos;
    m_bNeedsUpdate = true;
    PrepareDeformator();
    ClearControls(true);
  }
}

bool Warpixator::IsTransparent(double r, double g, double b) {
  if (!m_bWhiteToTransparent) return false;
  const double dr = r - m_TransparentColor.R();
  const double dg = g - m_TransparentColor.G();
  const double db = b - m_TransparentColor.B();
  return std::sqrt(dr * dr + dg * dg + db * db) <= m_fTransparencyThreshold;
}

int Warpixator::NearestVertex(double x, double y, bool onlyOpaque, bool restPositions) {
  const int width = m_Image.Width();
  const int height = m_Image.Height();
  double best = FLT_MAX;
  int chosen = -1;
  for (const ImgVertex& vertex : m_Vertices) {
    if (onlyOpaque) {
      // The pixel under the vertex; u or v = 1 reads the last column or row.
      int column = static_cast<int>(width * vertex.m_fTexU);
      int row = static_cast<int>(height * vertex.m_fTexV);
      column = column < 0 ? 0 : (column >= width ? width - 1 : column);
      row = row < 0 ? 0 : (row >= height ? height - 1 : row);
      if (IsTransparent(column, row)) continue;
    }
    const double dx = (restPositions ? vertex.m_fRestX : vertex.m_fX) - x;
    const double dy = (restPositions ? vertex.m_fRestY : vertex.m_fY) - y;
    const double distance2 = dx * dx + dy * dy;
    if (distance2 < best) {
      best = distance2;
      chosen = vertex.id;
    }
  }
  return chosen;
}

int Warpixator::SnapToVertex(double x, double y, const SnapOptions& options) {
  if (m_DeformationType != DEFORM_REGULAR_MESH || m_Vertices.empty()) return -1;
  int chosen = NearestVertex(x, y, options.onlyOpaque, options.restPositions);
  if (chosen < 0 && options.onlyOpaque) {
    chosen = NearestVertex(x, y, false, options.restPositions);
    if (chosen >= 0 && options.warnFallback) {
      std::cout << "[WARNING] " << m_Name
                << ": no opaque mesh vertex; the point goes to the nearest vertex" << std::endl;
    }
  }
  // Every finite distance is below FLT_MAX; only NaN positions find nothing.
  return chosen < static_cast<int>(m_Vertices.size()) ? chosen : -1;
}

int Warpixator::SnapControlPoint(double x, double y, const SnapOptions& options, double& placedX,
                                 double& placedY) {
  const int chosen = SnapToVertex(x, y, options);
  placedX = x;
  placedY = y;
  if (chosen < 0) return -1;
  const ImgVertex& vertex = m_Vertices[chosen];
  placedX = options.restPositions ? vertex.m_fRestX : vertex.m_fX;
  placedY = options.restPositions ? vertex.m_fRestY : vertex.m_fY;
  std::cout << "actual=[" << placedX << ", " << placedY << "]" << std::endl;
  return chosen;
}

bool Warpixator::IsTransparent(int x, int y) {
  if (!m_Image.IsValid() || x < 0 || y < 0 || x >= m_Image.Width() || y >= m_Image.Height()) {
    return false;
  }
  if (IsAlphaTransparent(m_Image, x, y)) return true;
  const RNRgb colour = m_Image.PixelRGB(x, y);
  return IsTransparent(colour.R(), colour.G(), colour.B());
}

bool Warpixator::IsTextureTransparent(int x, int y) {
  if (!m_Image.IsValid() || x < 0 || y < 0 || x >= m_Image.Width() || y >= m_Image.Height()) {
    return false;
  }
  if (IsAlphaTransparent(m_Image, x, y)) return true;
  const RNRgb colour = m_Image.PixelRGB(x, y);
  return IsTransparent(static_cast<double>(static_cast<float>(colour.R())),
                       static_cast<double>(static_cast<float>(colour.G())),
                       static_cast<double>(static_cast<float>(colour.B())));
}
