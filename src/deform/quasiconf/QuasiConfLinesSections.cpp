// The sections of a line set: which mesh vertices lie behind which line
// (reached from its outer side without crossing another line or a wholly
// transparent face), and the free faces that the spline moves.
#include <algorithm>
#include <deque>
#include <iostream>

#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfLines.h"
#include "image/R2Image.h"

using quasiconf_detail::Dot;

void QuasiConfLines::FillVertexToSectionMap(R2Image& image, Warpixator* deformator,
                                            std::vector<ImgFace>& faces,
                                            std::vector<ImgVertex>& vertices) {
  m_pVertices = &vertices;
  m_FreeFaces.clear();
  m_VertexToSection.assign(vertices.size(), -1);
  std::vector<std::vector<int>> adjacent(vertices.size());
  std::vector<std::vector<int>> seeds(m_aLines.size());
  const int doubleCrossed = SortFaces(image, deformator, faces, vertices, seeds, adjacent);
  std::cout << "[WARNING] Number of double-crossed faces " << doubleCrossed << std::endl;
  FloodSections(seeds, adjacent);
}

bool QuasiConfLines::FaceTransparent(R2Image& image, Warpixator* deformator,
                                     const std::vector<ImgVertex>& vertices, const int* index) {
  const int width = image.Width(), height = image.Height();
  int lo[2] = {0, 0}, hi[2] = {0, 0};
  for (int c = 0; c < 3; ++c) {
    const ImgVertex& v = vertices[index[c]];
    const int column = static_cast<int>(v.m_fTexU * (width - 1));
    const int row = static_cast<int>(v.m_fTexV * (height - 1));
    if (c == 0 || column < lo[0]) lo[0] = column;
    if (c == 0 || column > hi[0]) hi[0] = column;
    if (c == 0 || row < lo[1]) lo[1] = row;
    if (c == 0 || row > hi[1]) hi[1] = row;
  }
  for (int x = std::max(0, lo[0] - 1); x <= std::min(hi[0] + 1, width - 1); ++x) {
    for (int y = std::max(0, lo[1] - 1); y <= std::min(hi[1] + 1, height - 1); ++y) {
      if (!deformator->IsTransparent(x, y)) return false;
    }
  }
  return true;
}

int QuasiConfLines::SortFaces(R2Image& image, Warpixator* deformator, std::vector<ImgFace>& faces,
                              std::vector<ImgVertex>& vertices,
                              std::vector<std::vector<int>>& seeds,
                              std::vector<std::vector<int>>& adjacent) {
  int doubleCrossed = 0;
  for (const ImgFace& face : faces) {
    const int index[3] = {face.m_iV0, face.m_iV1, face.m_iV2};
    LinAlgComplex corner[3];
    for (int c = 0; c < 3; ++c) {
      corner[c] = LinAlgComplex(vertices[index[c]].m_fX, vertices[index[c]].m_fY);
    }
    const bool transparent = FaceTransparent(image, deformator, vertices, index);
    // A face folded flat (two corners on one spot, possible after saving a
    // collapsing deformation) has no edges to cross: it is neither free nor
    // a boundary.
    if (corner[0] == corner[1] || corner[0] == corner[2] || corner[1] == corner[2]) continue;
    bool crossed = false;
    for (size_t k = 0; k < m_aLines.size(); ++k) {
      const QuasiConfDiscretizedLine& line = *m_aLines[k];
      const LinAlgComplex p1 = line.m_OldP1, p2 = line.m_OldP2;
      if (!Intersection(corner[0], corner[1], p1, p2) && !Intersection(corner[0], corner[2], p1, p2) &&
          !Intersection(corner[1], corner[2], p1, p2)) {
        continue;
      }
      if (crossed) {
        ++doubleCrossed;
        continue;
      }
      crossed = true;
      for (int c = 0; c < 3; ++c) {
        if (Dot(corner[c] - p1, line.m_Normal) >= 0.0) seeds[k].push_back(index[c]);
      }
    }
    if (!crossed && !transparent) {
      m_FreeFaces.push_back(face);
      for (int c = 0; c < 3; ++c) adjacent[index[c]].push_back(static_cast<int>(m_FreeFaces.size()) - 1);
    }
  }
  return doubleCrossed;
}

void QuasiConfLines::FloodSections(const std::vector<std::vector<int>>& seeds,
                                   const std::vector<std::vector<int>>& adjacent) {
  for (size_t k = 0; k < m_aLines.size(); ++k) {
    for (int seed : seeds[k]) {
      if (m_VertexToSection[seed] != -1) continue;
      std::deque<int> queue{seed};
      while (!queue.empty()) {
        const int v = queue.front();
        queue.pop_front();
        if (m_VertexToSection[v] != -1) continue;
        m_VertexToSection[v] = static_cast<int>(k);
        for (int f : adjacent[v]) {
          queue.push_back(m_FreeFaces[f].m_iV0);
          queue.push_back(m_FreeFaces[f].m_iV1);
          queue.push_back(m_FreeFaces[f].m_iV2);
        }
      }
    }
  }
}
