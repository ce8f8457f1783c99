#include "window/WarpixWindow.h"

#include <GL/glu.h>
#include <GL/glut.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "render/CellExport.h"
#include "render/DistortionHeatMap.h"
#include "support/ZelStringList.h"
#include "support/WarpixAssert.h"
#include "render/AnimationScript.h"

WarpixWindow* WarpixWindow::s_MainGLUTWindow = nullptr;

namespace {

constexpr unsigned char kEscape = 27;

// Truncation toward zero of a cell position, kept inside int range so that a
// far-away position cannot overflow the conversion.
int CellOf(double position) {
  const double limit = 1e9;
  if (!(position > -limit)) return static_cast<int>(-limit);
  if (!(position < limit)) return static_cast<int>(limit);
  return static_cast<int>(position);
}

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

WarpixWindow::WarpixWindow(int width, int height, int cols, int rows)
    : m_iWidth(width), m_iHeight(height), m_iCols(cols), m_iRows(rows) {}

WarpixWindow::~WarpixWindow() { delete m_pAnimationStream; }

void WarpixWindow::AddDeformator(Warpixator* deformator) { m_Deformators.push_back(deformator); }

int WarpixWindow::WarnAboutHiddenDeformators() const {
  // In 64 bits: a large grid from the parameter file must not overflow.
  const long long cells = static_cast<long long>(m_iCols) * m_iRows;
  const long long hidden = static_cast<long long>(m_Deformators.size()) - cells;
  if (hidden <= 0) return 0;
  std::cout << "[WARNING] " << m_Deformators.size() << " deformators for " << cells
            << " cells: " << hidden << " not visible (they still receive every input)"
            << std::endl;
  return static_cast<int>(hidden);
}

void WarpixWindow::EnterGlutLoop(int argc, char const** argv, char const* animationFile,
                                 char const* animationOutput) {
  s_MainGLUTWindow = this;
  m_iGlutWindowID = 0;
  m_iModifiers = 0;
  m_iLastMouseX = 0;
  WarnAboutHiddenDeformators();

  // GLUT may take options of its own out of the argument vector.
  int glutArgc = argc;
  glutInit(&glutArgc, const_cast<char**>(argv));

  // A window larger than the screen, or than the largest viewport the driver
  // draws, never reaches the driver: it is scaled down whole, so that every
  // cell keeps its shape.
  const int askedWidth = m_iWidth, askedHeight = m_iHeight;
  ClampWindowSize(m_iWidth, m_iHeight, glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT));
  glutInitWindowPosition(100, 100);
  glutInitWindowSize(m_iWidth, m_iHeight);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  m_iGlutWindowID = glutCreateWindow("Warpix (GLUT)");
  GLint viewport[2] = {0, 0};
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
  if (ClampWindowSize(m_iWidth, m_iHeight, viewport[0], viewport[1])) {
    glutReshapeWindow(m_iWidth, m_iHeight);
  }
  if (m_iWidth != askedWidth || m_iHeight != askedHeight) {
    std::cout << "[WARNING] WindowDims " << askedWidth << " " << askedHeight
              << " is larger than the display allows; using " << m_iWidth << " " << m_iHeight
              << std::endl;
  }
  InitializeGL();

  glutDisplayFunc(GLUTRedraw);
  glutReshapeFunc(GLUTResize);
  glutKeyboardFunc(GLUTKeyboard);
  glutSpecialFunc(GLUTSpecial);
  glutMouseFunc(GLUTMouse);
  glutMotionFunc(GLUTMotion);
  Update();

  if (animationFile != nullptr) {
    Animation(animationFile, animationOutput != nullptr ? animationOutput : "", "Anim");
  }
  glutMainLoop();
  std::exit(0);
}

bool WarpixWindow::ClampWindowSize(int& width, int& height, int maxWidth, int maxHeight) {
  double scale = 1.0;
  if (maxWidth > 0 && width > maxWidth) scale = std::min(scale, static_cast<double>(maxWidth) / width);
  if (maxHeight > 0 && height > maxHeight) {
    scale = std::min(scale, static_cast<double>(maxHeight) / height);
  }
  if (scale >= 1.0) return false;
  // Rounded down, so that neither side can end above its limit.
  width = std::max(1, std::min(static_cast<int>(width * scale), maxWidth > 0 ? maxWidth : width));
  height = std::max(1, std::min(static_cast<int>(height * scale), maxHeight > 0 ? maxHeight : height));
  return true;
}

void WarpixWindow::InitializeGL() { glClearColor(1.0f, 1.0f, 1.0f, 1.0f); }

void WarpixWindow::Update() {
  if (m_iGlutWindowID > 0) glutPostRedisplay();
}

int WarpixWindow::ReadModifiers() { return m_iGlutWindowID > 0 ? glutGetModifiers() : 0; }

// ---------------------------------------------------------------------------
// Drawing

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

CellDistortion WarpixWindow::MeasureCell(int k, std::vector<FaceDistortion>* perFace) {
  if (m_Metrics.size() < m_Deformators.size()) m_Metrics.resize(m_Deformators.size());
  if (m_CellDistortion.size() < m_Deformators.size()) m_CellDistortion.resize(m_Deformators.size());
  Warpixator& deformator = *m_Deformators[k];
  std::unique_ptr<DistortionMetrics>& metrics = m_Metrics[k];
  // A mode switch may rebuild the mesh: then the rest data is cached afresh.
  const bool mesh = deformator.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH;
  if (metrics == nullptr ||
      (mesh && metrics->NumFaces() != static_cast<int>(deformator.m_Faces.size()))) {
    metrics = std::make_unique<DistortionMetrics>(deformator);
  }
  m_CellDistortion[k] = metrics->Measure(perFace);
  return m_CellDistortion[k];
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

void WarpixWindow::ToggleDistortion() {
  m_bShowDistortion = !m_bShowDistortion;
  for (size_t k = 0; k < m_Deformators.size(); ++k) {
    PrepareCellForRender(*m_Deformators[k]);
    const CellDistortion cell = MeasureCell(static_cast<int>(k), nullptr);
    std::cout << DistortionMetrics::ConsoleLine(m_Deformators[k]->GetDeformatorName(), cell)
              << std::endl;
  }
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
  if (m_iAnimationFrame != -1) {
    if (AnimationUpdate()) Update();
  }
}

void WarpixWindow::PrintScreen(char const* fileName) {
  R2Image frame(m_iWidth, m_iHeight, 3);
  frame.Capture();
  frame.WriteJPEG(fileName);
}

void WarpixWindow::Terminate() {
  std::cout << std::flush;
  if (m_iGlutWindowID > 0) glutDestroyWindow(m_iGlutWindowID);
  std::exit(0);
}

// ---------------------------------------------------------------------------
// Input

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

void WarpixWindow::Resize(int width, int height) {
  if (width != m_iWidth || height != m_iHeight) {
    std::cout << "[WARNING] Cannot resize - not implemented. " << width << " x " << height
              << std::endl;
  }
}

void WarpixWindow::RecordInputState(int x, int y) {
  m_iLastMouseX = x;
  m_iLastMouseY = m_iHeight - y;
  m_iModifiers = ReadModifiers();
}

int WarpixWindow::ExportCells() {
  int written = 0;
  MeshRasterizer::Background transparent;
  for (size_t k = 0; k < m_Deformators.size(); ++k) {
    Warpixator& deformator = *m_Deformators[k];
    const ZelString path =
        CellFileName(m_ExportPrefix, static_cast<int>(k), deformator.m_ModuleName, "png");
    // The prefix may name a folder that does not exist yet.
    std::error_code ignored;
    const std::filesystem::path folder = std::filesystem::path(path.toStdString()).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
    const int width = deformator.m_Image.Width(), height = deformator.m_Image.Height();
    if (WriteCellImage(deformator, width, height, transparent, path.c_str())) {
      std::cout << "Exported " << path << " (" << width << "x" << height << ")" << std::endl;
      ++written;
    } else {
      std::cout << "[ERROR] Cannot write " << path << std::endl;
    }
  }
  return written;
}

void WarpixWindow::PrintHelp() const {
  std::cout << "Warpix Controls: \n"
            << "\t'h' - Show/Hide control points\n"
            << "\t'p' - Print control points\n"
            << "\t's' - Save deformation and clear control points\n\t\t(for iterative "
               "deformations)\n"
            << "\t'c' - Clear control points\n"
            << "\t'm' - Show/Hide mesh\n"
            << "\t' ' - (SPACE) Add control point (at a mouse location)\n"
            << "\t'+' - Tweak a parameter (deformator-specific)\n\t\t'+'/'_' (increase by .1)"
            << "\n\t\t'='/'-' (increase by 0.01)\n"
            << "\t'l' - Show lines (for FPI-lines scheme)\n"
            << "\tCTR - Hold CONTROL and move mouse (up/down) for zooming\n"
            << "\tSHFT - Hold SHIFT and move mouse for translation\n"
            << "\t'x' - Clear all zooming\n"
            << "\t'n' - Snap control point to the nearest non-white\n"
            << "\t'e' - Export every cell as a PNG at the picture's size\n"
            << "\t'd' - Show/Hide the distortion heat map and print its numbers\n"
            << "In Quasi-Conformal Mode:\n"
            << "\t'1' - Standard FPI\n"
            << "\t'2' - FPI + MVC\n"
            << "\t'4' - FPI + MLS\n"
            << "\t'5' - Quasi-conformal with line constraints\n"
            << "\t'6' - Thin plate splines with line constraints\n"
            << "\t'7..0' - Toggle lines \n"
            << std::flush;
}

void WarpixWindow::GLUTKeyboardCallback(unsigned char key, int x, int y) {
  if (key == kEscape) Terminate();

  switch (key) {
    case ' ':
      AddControlPoint(static_cast<double>(x) / m_iWidth,
                      static_cast<double>(m_iHeight - y) / m_iHeight);
      break;
    case '+':
    case '_':
    case '=':
    case '-': {
      const double step = key == '+' ? 0.1 : key == '_' ? -0.1 : key == '=' ? 0.01 : -0.01;
      for (Warpixator* deformator : m_Deformators) deformator->TweakParameter(step);
      break;
    }
    case '?':
    case '`':
      PrintHelp();
      break;
    case 'c':
    case 's':
      for (Warpixator* deformator : m_Deformators) deformator->ClearControls(key == 's');
      break;
    case 'h':
      m_bHideControlPoints = !m_bHideControlPoints;
      break;
    case 'l':
      m_bShowLines = !m_bShowLines;
      break;
    case 'm':
      for (Warpixator* deformator : m_Deformators) deformator->m_bDrawMesh = !deformator->m_bDrawMesh;
      break;
    case 'n':
      if (m_Deformators.empty()) break;
      std::cout << "Snap Vertex To Non-White: " << (m_Deformators[0]->m_bSnapToNonWhite ? 0 : 1)
                << std::endl;
      for (Warpixator* deformator : m_Deformators) {
        deformator->m_bSnapToNonWhite = !deformator->m_bSnapToNonWhite;
      }
      break;
    case 'p':
      if (!m_Deformators.empty()) m_Deformators[0]->PrintCtrlPntState();
      break;
    case 'e':
      ExportCells();
      break;
    case 'd':
      ToggleDistortion();
      break;
    case 'x':
      m_fZoom = 1.0;
      m_fTranslateX = 0.0;
      m_fTranslateY = 0.0;
      break;
    default:
      if (key >= '0' && key <= '9') {
        for (Warpixator* deformator : m_Deformators) deformator->ChangeMode(key - '0');
      } else {
        std::cout << "Key pressed = " << key << std::endl;
      }
      break;
  }
  std::cout << std::flush;
  RecordInputState(x, y);
  Update();
}

void WarpixWindow::GLUTSpecialCallback(int /*key*/, int x, int y) {
  RecordInputState(x, y);
  Update();
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

void WarpixWindow::GLUTRedrawCallback() {
  Draw();
  glutSwapBuffers();
}

void WarpixWindow::GLUTResizeCallback(int width, int height) {
  Resize(width, height);
  // Drawing keeps the stored size, whatever the window system reports.
  glViewport(0, 0, m_iWidth, m_iHeight);
}

// ---------------------------------------------------------------------------
// Animation

ZelString WarpixWindow::AnimationFrameName(const ZelString& prefix, int frame) {
  char digits[32];
  std::snprintf(digits, sizeof(digits), "%06d", frame);
  return prefix + digits + ".jpg";
}

void WarpixWindow::Animation(char const* scriptFile, char const* outputPrefix,
                             char const* name) {
  m_AnimationFramePrefix = ZelString(outputPrefix) + name;
  delete m_pAnimationStream;
  m_pAnimationStream = new std::ifstream(scriptFile);
  std::ifstream& inTextStream = *m_pAnimationStream;
  if (!inTextStream.is_open()) {
    std::cout << "[ERROR] Cannot open animation script " << scriptFile << std::endl;
  }
  WARPIX_CONFIG_ASSERT(inTextStream.is_open());

  ZelStringList oldPoints;
  ZelStringList newPoints;
  AnimationScript::ReadStartLines(inTextStream, oldPoints, newPoints);
  std::vector<double> originals;
  std::vector<double> targets;
  const AnimationScript::StartCheck check =
      AnimationScript::ParseStart(oldPoints, newPoints, scriptFile, originals, targets);
  WARPIX_CONFIG_ASSERT(oldPoints.count()==newPoints.count());
  WARPIX_CONFIG_ASSERT(oldPoints.count()%2==0);
  const bool ok = check == AnimationScript::StartCheck::kOk;
  WARPIX_CONFIG_ASSERT(ok);
  m_iAnimationValuesPerLine = static_cast<int>(originals.size());
  AnimationScript::Start(m_Deformators, originals, targets);
  m_bAnimationFrameDueAtEnd = false;
  m_iAnimationFrame = 0;
}

bool WarpixWindow::AnimationUpdate() {
  if (m_iAnimationFrame < 0 || m_pAnimationStream == nullptr) return false;
  std::ifstream& stream = *m_pAnimationStream;
  const bool exhausted = AnimationScript::Exhausted(stream);
  if (exhausted && !m_bAnimationFrameDueAtEnd) {
    std::cout << "Animation Terminated!" << std::endl;
    m_iAnimationFrame = -1;
    return false;
  }

  PrintScreen(AnimationFrameName(m_AnimationFramePrefix, m_iAnimationFrame).c_str());
  if (m_bAnimationFrameDueAtEnd) {
    m_bAnimationFrameDueAtEnd = false;
    return true;
  }

  // A short line or one that is not numbers leaves this frame due again.
  std::vector<double> values;
  if (AnimationScript::ReadFrame(stream, m_iAnimationValuesPerLine, values) !=
      AnimationScript::FrameLine::kFrame) {
    return true;
  }
  AnimationScript::Apply(m_Deformators, values);
  ++m_iAnimationFrame;
  if (stream.eof()) m_bAnimationFrameDueAtEnd = true;
  return true;
}

// ---------------------------------------------------------------------------
// Free GLUT callbacks: each forwards to the one window.

void GLUTRedraw() { WarpixWindow::s_MainGLUTWindow->GLUTRedrawCallback(); }
void GLUTResize(int width, int height) {
  WarpixWindow::s_MainGLUTWindow->GLUTResizeCallback(width, height);
}
void GLUTKeyboard(unsigned char key, int x, int y) {
  WarpixWindow::s_MainGLUTWindow->GLUTKeyboardCallback(key, x, y);
}
void GLUTSpecial(int key, int x, int y) {
  WarpixWindow::s_MainGLUTWindow->GLUTSpecialCallback(key, x, y);
}
void GLUTMouse(int button, int state, int x, int y) {
  WarpixWindow::s_MainGLUTWindow->GLUTMouseCallback(button, state, x, y);
}
void GLUTMotion(int x, int y) { WarpixWindow::s_MainGLUTWindow->GLUTMotionCallback(x, y); }
