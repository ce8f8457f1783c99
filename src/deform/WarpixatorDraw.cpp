// Warpixator's drawing, through the canvas the window hands in: the frame's
// update, the texture upload, the textured mesh and the markers.
#include <iostream>
#include <new>

#include "deform/Warpixator.h"
#include "deform/WarpixatorCanvas.h"
#include "support/WarpixAssert.h"

void Warpixator::PrepareFrame() {
  m_bNeedsUpdate = true;
  if (!m_bDeformPending) return;
  m_bDeformPending = false;
  Deform();
}

void Warpixator::Draw(WarpixatorCanvas* window) {
  PrepareFrame();
  if (m_bLoadTexture) LoadIntoTexture(window);
  DrawAsTexture(window);
  DrawControlPoints(window);
  if (window != nullptr) window->RenderText(GetDeformatorName(), 0.2, 1.01, 0.5, 0.0, 0.0, 2);
}

void Warpixator::LoadIntoTexture(WarpixatorCanvas* window) {
  if (window == nullptr) return;  // nothing to upload to; tried again on the next draw
  m_bLoadTexture = false;
  const int width = m_Image.Width();
  const int height = m_Image.Height();
  if (!m_Image.IsValid()) {
    std::cout << "[WARNING] " << m_Name << ": no image to show" << std::endl;
    return;
  }
  const int maxSize = window->MaxTextureSize();
  if (maxSize > 0 && (width > maxSize || height > maxSize)) {
    std::cout << "[WARNING] " << m_Name << ": image " << width << "x" << height
              << " exceeds the largest texture " << maxSize << "x" << maxSize
              << "; it is not shown" << std::endl;
    return;
  }

  const bool hasAlpha = m_Image.NComponents() == 2 || m_Image.NComponents() == 4;
  if (!m_bWhiteToTransparent && !hasAlpha) {
    window->LoadTexture(m_iTextureID, m_Image);
    return;
  }

  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  float* buffer = new (std::nothrow) float[count * 4];
  if (buffer == nullptr) {
    std::cout << "[WARNING] " << m_Name << ": no memory for the transparent texture" << std::endl;
    return;
  }
  bool anyTransparent = false;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const RNRgb colour = m_Image.PixelRGB(x, y);
      float* texel = buffer + 4 * (static_cast<size_t>(y) * width + x);
      texel[0] = static_cast<float>(colour.R());
      texel[1] = static_cast<float>(colour.G());
      texel[2] = static_cast<float>(colour.B());
      const bool transparent = IsTextureTransparent(x, y);
      texel[3] = transparent ? 0.0f : 1.0f;
      anyTransparent = anyTransparent || transparent;
    }
  }
  window->LoadTexture(m_iTextureID, width, height, buffer);
  delete[] buffer;
  std::cout << "NTransparent: " << (anyTransparent ? 1 : 0) << std::endl;
}

void Warpixator::DrawAsTexture(WarpixatorCanvas* window) {
  if (m_DeformationType == DEFORM_REGULAR_MESH) {
    MapMeshVertices();
    if (window == nullptr) return;
    const int numVertices = static_cast<int>(m_Vertices.size());
    m_DrawCorners.clear();
    m_DrawCorners.reserve(m_Faces.size() * 12);
    for (const ImgFace& face : m_Faces) {
      const int corners[3] = {face.m_iV0, face.m_iV1, face.m_iV2};
      bool inside = true;
      for (int c : corners) inside = inside && c >= 0 && c < numVertices;
      if (!inside) continue;
      for (int c : corners) {
        const ImgVertex& vertex = m_Vertices[c];
        m_DrawCorners.push_back(static_cast<float>(vertex.m_fTexU));
        m_DrawCorners.push_back(static_cast<float>(vertex.m_fTexV));
        m_DrawCorners.push_back(static_cast<float>(vertex.m_fX));
        m_DrawCorners.push_back(static_cast<float>(vertex.m_fY));
      }
    }
    window->DrawTexturedTriangles(m_iTextureID, m_DrawCorners, m_bDrawMesh);
  } else if (m_DeformationType == DEFORM_PIXEL) {
    if (window != nullptr) window->DrawTexturedSquare(m_iTextureID);
  } else {
    WARPIX_ASSERT(false);
  }
}

void Warpixator::DrawControlPoints(WarpixatorCanvas* window) {
  if (window == nullptr || window->m_bHideControlPoints) return;
  DrawControlPoints(window, m_ControlPointsOrigPos, 0.0, 1.0, 0.0);
  DrawControlPoints(window, m_ControlPointsNewPos, 0.0, 0.0, 1.0);
}

void Warpixator::DrawControlPoints(WarpixatorCanvas* window, std::vector<double>& points, double r,
                                   double g, double b) {
  if (window == nullptr || window->m_bHideControlPoints) return;
  for (size_t k = 0; k + 1 < points.size(); k += 2) {
    const bool selected = static_cast<int>(k / 2) == m_iSelectedPoint;
    const double divisor = selected ? 1.5 : 1.0;
    window->DrawMarker(points[k], points[k + 1], m_fControlPointRadius, r / divisor, g / divisor,
                       b / divisor);
  }
}
