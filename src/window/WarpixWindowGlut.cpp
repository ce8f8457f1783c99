#include "window/WarpixWindow.h"

// The window's GLUT side: creating the window at a size the display can
// show, the main loop, redisplay requests, and the free GLUT callbacks, each
// of which only forwards to the one window.
#include <GL/glut.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

WarpixWindow* WarpixWindow::s_MainGLUTWindow = nullptr;

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

void WarpixWindow::Update() {
  if (m_iGlutWindowID > 0) glutPostRedisplay();
}

int WarpixWindow::ReadModifiers() { return m_iGlutWindowID > 0 ? glutGetModifiers() : 0; }

void WarpixWindow::Terminate() {
  std::cout << std::flush;
  if (m_iGlutWindowID > 0) glutDestroyWindow(m_iGlutWindowID);
  std::exit(0);
}

void WarpixWindow::Resize(int width, int height) {
  if (width != m_iWidth || height != m_iHeight) {
    std::cout << "[WARNING] Cannot resize - not implemented. " << width << " x " << height
              << std::endl;
  }
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

// The free GLUT callbacks: each forwards to the one window.

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
