#include "window/WarpixWindow.h"

// The window as the deformators' canvas: every cell drawn with OpenGL in its
// part of the grid (with zoom and pan), the distortion heat map in place of a
// cell's picture, and the capture of the whole drawing into a file.
#include <GL/glu.h>
#include <GL/glut.h>

#include <cstring>
#include <memory>
#include <string>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "render/DistortionHeatMap.h"

namespace {

// The one quadric that draws every control-point marker, made on first use.
GLUquadric* MarkerQuadric() {
  static GLUquadric* s_Quadric = nullptr;
  if (s_Quadric == nullptr) {
    s_Quadric = gluNewQuadric();
    gluQuadricDrawStyle(s_Quadric, GLU_FILL);
    gluQuadricNormals(s_Quadric, GLU_SMOOTH);
    gluQuadricTexture(s_Quadric, GL_TRUE);
  }
  return s_Quadric;
}

// Binds textureID with the filtering and wrapping every cell texture uses.
void BindCellTexture(unsigned int textureID) {
  glBindTexture(GL_TEXTURE_2D, textureID);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

// Texturing on with textureID, lighting off, white so the texture shows as it is.
void BeginTexturing(unsigned int textureID) {
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, textureID);
  glDisable(GL_LIGHTING);
  glDisable(GL_BLEND);
  glColor3f(1.0f, 1.0f, 1.0f);
}

}  // namespace

void WarpixWindow::InitializeGL() { glClearColor(1.0f, 1.0f, 1.0f, 1.0f); }

void WarpixWindow::SetCoordSystemToDeformator(int index) {
  const double f = m_fCellFill;
  const double margin = (1.0 - f) * 0.5;
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0.0, 1.0, 0.0, 1.0, 0.0, 10.0);
  glTranslated((index % m_iCols + margin) / m_iCols + m_fTranslateX,
               (index / m_iCols + margin) / m_iRows + m_fTranslateY, 0.0);
  glScaled(f * m_fZoom / m_iCols, f * m_fZoom / m_iRows, 1.0);

  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();

  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_BLEND);
  glColor3d(1.0, 1.0, 1.0);

  if (!m_bHideControlPoints) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4d(0.7, 0.7, 0.7, 1.0);
    glBegin(GL_QUADS);
    glVertex2d(0.0, 0.0);
    glVertex2d(1.0, 0.0);
    glVertex2d(1.0, 1.0);
    glVertex2d(0.0, 1.0);
    glEnd();
    glColor3d(0.0, 0.2, 0.5);
    glBegin(GL_LINE_STRIP);
    glVertex2d(0.0, 0.0);
    glVertex2d(1.0, 0.0);
    glVertex2d(1.0, 1.0);
    glVertex2d(0.0, 1.0);
    glVertex2d(0.0, 0.0);
    glEnd();
  }
  glEnable(GL_DEPTH_TEST);
}

void WarpixWindow::UnsetCoordSystem() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

void WarpixWindow::RenderText(char const* text, double x, double y, double r, double g,
                              double b, int font) {
  void* glutFont = nullptr;
  switch (font) {
    case 0: glutFont = GLUT_BITMAP_HELVETICA_10; break;
    case 1: glutFont = GLUT_BITMAP_HELVETICA_12; break;
    case 2: glutFont = GLUT_BITMAP_TIMES_ROMAN_24; break;
    default: break;
  }
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glColor3d(r, g, b);
  glRasterPos3d(x, y, 0.0);
  if (glutFont == nullptr || text == nullptr) return;
  for (const char* c = text; *c != '\0'; ++c) glutBitmapCharacter(glutFont, *c);
  // While the heat map shows, the name of the cell being drawn gains its numbers
  const int k = m_iDrawingCell;
  if (m_bShowDistortion && k >= 0 && k < static_cast<int>(m_CellDistortion.size()) &&
      std::strcmp(text, m_Deformators[k]->GetDeformatorName()) == 0) {
    // in the small font, so that they stay near their own cell.
    const std::string label = "  " + DistortionMetrics::NameLabel(m_CellDistortion[k]);
    for (char c : label) glutBitmapCharacter(GLUT_BITMAP_HELVETICA_12, c);
  }
}

bool WarpixWindow::DrawHeatMap() {
  const int k = m_iDrawingCell;
  if (k < 0 || k >= static_cast<int>(m_Deformators.size())) return false;
  // A cell that is not measured shows its picture.
  if (!MeasureCell(k, &m_FaceDistortion).m_bMeasured) return false;
  const DistortionMetrics& metrics = *m_Metrics[k];
  const std::vector<Warpixator::ImgVertex>& vertices = metrics.Vertices();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_LIGHTING);
  glDisable(GL_BLEND);
  glBegin(GL_TRIANGLES);
  for (int f = 0; f < metrics.NumFaces(); ++f) {
    if (metrics.IsLeftOut(f)) continue;
    unsigned char rgb[3];
    DistortionHeatMap::FaceColour(m_FaceDistortion[f], rgb);
    glColor3ub(rgb[0], rgb[1], rgb[2]);
    const Warpixator::ImgFace& face = metrics.Faces()[f];
    for (int v : {face.m_iV0, face.m_iV1, face.m_iV2}) {
      glVertex3d(vertices[v].m_fX, vertices[v].m_fY, 0.0);
    }
  }
  glEnd();
  // The legend: the scale from K = 1 at the bottom to K = 4 and above at the top.
  const int steps = 16;
  glBegin(GL_QUAD_STRIP);
  for (int s = 0; s <= steps; ++s) {
    unsigned char rgb[3];
    DistortionHeatMap::ScaleColour(static_cast<double>(s) / steps, rgb);
    glColor3ub(rgb[0], rgb[1], rgb[2]);
    glVertex3d(1.02, static_cast<double>(s) / steps, 0.0);
    glVertex3d(1.05, static_cast<double>(s) / steps, 0.0);
  }
  glEnd();
  m_iDrawingCell = -1;  // the labels are not the cell's name
  RenderText("1", 1.055, 0.0, 0.0, 0.0, 0.0, 0);
  RenderText("4+", 1.055, 0.97, 0.0, 0.0, 0.0, 0);
  m_iDrawingCell = k;
  return true;
}

int WarpixWindow::MaxTextureSize() {
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  return maxSize;
}

void WarpixWindow::LoadTexture(unsigned int textureID, const R2Image& image) {
  BindCellTexture(textureID);
  GLenum format = GL_RGB;
  switch (image.NComponents()) {
    case 1: format = GL_LUMINANCE; break;
    case 2: format = GL_LUMINANCE_ALPHA; break;
    case 4: format = GL_RGBA; break;
    default: format = GL_RGB; break;
  }
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, image.Width(), image.Height(), 0, format,
               GL_UNSIGNED_BYTE, image.Pixels());
}

void WarpixWindow::LoadTexture(unsigned int textureID, int width, int height,
                               const float* rgba) {
  BindCellTexture(textureID);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_FLOAT, rgba);
}

void WarpixWindow::DrawTexturedTriangles(unsigned int textureID,
                                         const std::vector<float>& corners, bool outlines) {
  if (m_bShowDistortion && DrawHeatMap()) return;
  BeginTexturing(textureID);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
  glDisable(GL_COLOR_MATERIAL);
  for (size_t t = 0; t + 12 <= corners.size(); t += 12) {
    const float* c = corners.data() + t;
    // White again after the previous triangle's outline.
    glEnable(GL_TEXTURE_2D);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBegin(GL_TRIANGLES);
    for (int k = 0; k < 3; ++k) {
      glTexCoord2f(c[4 * k], c[4 * k + 1]);
      glVertex3f(c[4 * k + 2], c[4 * k + 3], 0.0f);
    }
    glEnd();
    if (outlines) {
      glDisable(GL_TEXTURE_2D);
      glLineWidth(2.0f);
      glColor3f(1.0f, 0.0f, 0.0f);
      glBegin(GL_LINE_STRIP);
      for (int k : {0, 1, 2, 0}) glVertex3f(c[4 * k + 2], c[4 * k + 3], 0.0f);
      glEnd();
    }
  }
  glDisable(GL_TEXTURE_2D);
}

void WarpixWindow::DrawTexturedSquare(unsigned int textureID) {
  if (m_bShowDistortion && DrawHeatMap()) return;
  BeginTexturing(textureID);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(0.0f, 0.0f, 0.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex3f(1.0f, 0.0f, 0.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex3f(1.0f, 1.0f, 0.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex3f(0.0f, 1.0f, 0.0f);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void WarpixWindow::DrawMarker(double x, double y, double radius, double r, double g, double b) {
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_LIGHTING);
  glColor3d(r, g, b);
  glPushMatrix();
  glTranslated(x, y, 0.0);
  gluSphere(MarkerQuadric(), radius, 8, 8);
  glPopMatrix();
}

void WarpixWindow::DrawSegments(const std::vector<double>& segments, float width) {
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_LIGHTING);
  glLineWidth(width);
  glBegin(GL_LINES);
  for (size_t k = 0; k + 7 <= segments.size(); k += 7) {
    const double* s = segments.data() + k;
    glColor3d(s[4], s[5], s[6]);
    glVertex3d(s[0], s[1], 0.0);
    glVertex3d(s[2], s[3], 0.0);
  }
  glEnd();
}

void WarpixWindow::Draw() {
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  for (size_t k = 0; k < m_Deformators.size(); ++k) {
    SetCoordSystemToDeformator(static_cast<int>(k));
    m_iDrawingCell = static_cast<int>(k);
    m_Deformators[k]->Draw(this);
    m_iDrawingCell = -1;
    UnsetCoordSystem();
  }
  if (m_Animation.Playing()) {
    if (AnimationUpdate()) Update();
  }
}

void WarpixWindow::PrintScreen(char const* fileName) {
  R2Image frame(m_iWidth, m_iHeight, 3);
  frame.Capture();
  frame.WriteJPEG(fileName);
}
