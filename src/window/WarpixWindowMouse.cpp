#include "window/WarpixWindow.h"

// The pointer: window positions turned into cell coordinates (the inverse of
// a cell's drawing), control points selected, dragged and added at such a
// position in every deformator, and the mouse callbacks, which also zoom and
// pan the whole grid.
#include <GL/glut.h>

#include <climits>
#include <cmath>
#include <iostream>

#include "deform/Warpixator.h"

namespace {

// Truncation toward zero of a cell position, kept inside int range so that a
// far-away position cannot overflow the conversion.
int CellOf(double position) {
  const double limit = 1e9;
  if (!(position > -limit)) return static_cast<int>(-limit);
  if (!(position < limit)) return static_cast<int>(limit);
  return static_cast<int>(position);
}

}  // namespace

int WarpixWindow::ConvertToWarpixatorCoords(double x, double y, double& outX, double& outY) {
  const double f = m_fCellFill;
  const double margin = (1.0 - f) * 0.5;
  const double cellWidth = 1.0 / m_iCols;
  const double cellHeight = 1.0 / m_iRows;
  const int i = CellOf(x / cellWidth);
  const int j = CellOf(y / cellHeight);
  // Inverse of SetCoordSystemToDeformator for cell (i, j): with zoom 1 and no
  // pan this is the plain inner-part mapping of the unzoomed cell.
  outX = (x - ((i + margin) * cellWidth + m_fTranslateX)) / (cellWidth * f * m_fZoom);
  outY = (y - ((j + margin) * cellHeight + m_fTranslateY)) / (cellHeight * f * m_fZoom);
  // A position far outside a large grid has no cell whose index fits an int.
  const long long index = static_cast<long long>(m_iCols) * j + i;
  return index >= INT_MIN && index <= INT_MAX ? static_cast<int>(index) : -1;
}

void WarpixWindow::SelectControlPoint(double x, double y) {
  double u = x;
  double v = y;
  if (x >= 0 && y >= 0) {
    ConvertToWarpixatorCoords(x, y, u, v);
    // A zoom of 0 maps nothing: nothing can be under the cursor.
    if (!std::isfinite(u) || !std::isfinite(v)) u = v = -1.0;
  }
  for (Warpixator* deformator : m_Deformators) deformator->SelectControlPoint(u, v);
}

void WarpixWindow::MoveSelectedControlPoint(double x, double y) {
  double u = 0.0;
  double v = 0.0;
  ConvertToWarpixatorCoords(x, y, u, v);
  if (!std::isfinite(u) || !std::isfinite(v)) return;
  for (Warpixator* deformator : m_Deformators) deformator->MoveSelectedControlPoint(u, v);
}

void WarpixWindow::AddControlPoint(double x, double y) {
  double u = 0.0;
  double v = 0.0;
  const int k = ConvertToWarpixatorCoords(x, y, u, v);
  // Only a visible cell that holds a deformator takes a new point.
  const bool insideGrid = x >= 0.0 && x < 1.0 && y >= 0.0 && y < 1.0;
  if (!insideGrid || k < 0 || k >= static_cast<int>(m_Deformators.size())) return;
  if (!std::isfinite(u) || !std::isfinite(v)) return;

  double placedX = u;
  double placedY = v;
  m_Deformators[k]->AddControlPoint(u, v, &placedX, &placedY);
  for (size_t i = 0; i < m_Deformators.size(); ++i) {
    if (static_cast<int>(i) == k) continue;
    double otherX = placedX;
    double otherY = placedY;
    m_Deformators[i]->AddControlPoint(placedX, placedY, &otherX, &otherY);
    if (otherX != placedX || otherY != placedY) {
      std::cout << "[WARNING] Deformator " << i
                << " failed to add control point at a proper spot" << std::endl;
    }
  }
}

void WarpixWindow::RecordInputState(int x, int y) {
  m_iLastMouseX = x;
  m_iLastMouseY = m_iHeight - y;
  m_iModifiers = ReadModifiers();
}

void WarpixWindow::GLUTMouseCallback(int /*button*/, int state, int x, int y) {
  if (state == GLUT_DOWN) {
    SelectControlPoint(static_cast<double>(x) / m_iWidth,
                       static_cast<double>(m_iHeight - y) / m_iHeight);
  } else {
    SelectControlPoint(-1.0, -1.0);
  }
  RecordInputState(x, y);
  Update();
}

void WarpixWindow::GLUTMotionCallback(int x, int y) {
  const int yUp = m_iHeight - y;
  const int dy = yUp - m_iLastMouseY;
  if (m_iModifiers & GLUT_ACTIVE_CTRL) {
    m_fZoom += static_cast<double>(dy) / m_iHeight;
  } else if (m_iModifiers & GLUT_ACTIVE_SHIFT) {
    m_fTranslateX += static_cast<double>(x - m_iLastMouseX) / m_iWidth;
    m_fTranslateY += static_cast<double>(dy) / m_iHeight;
  } else {
    MoveSelectedControlPoint(static_cast<double>(x) / m_iWidth,
                             static_cast<double>(yUp) / m_iHeight);
  }
  Update();
  m_iLastMouseX = x;
  m_iLastMouseY = yUp;
}
