#include "image/R2Image.h"

// The pixel transfers to and from the current OpenGL context. They belong to
// the window, the one library that links the graphics libraries, so that the
// image code links into a program that never opens a display.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>

namespace {

/// OpenGL pixel format for a component count, 0 when there is none.
GLenum GLFormat(int ncomponents) {
  switch (ncomponents) {
    case 1: return GL_LUMINANCE;
    case 2: return GL_LUMINANCE_ALPHA;
    case 3: return GL_RGB;
    case 4: return GL_RGBA;
    default: return 0;
  }
}

}  // namespace

void R2Image::Draw(int x, int y) const {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  gluOrtho2D(0, width, 0, height);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glRasterPos2i(x, y);
  const GLenum format = GLFormat(ncomponents);
  if (format == 0) {
    fprintf(stderr, "Unrecognized number of components in image: %d\n", ncomponents);
  } else if (pixels != nullptr) {
    glDrawPixels(width, height, format, GL_UNSIGNED_BYTE, pixels);
  }
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

void R2Image::Capture() {
  const GLenum format = GLFormat(ncomponents);
  if (format == 0 || pixels == nullptr) return;
  glReadPixels(0, 0, width, height, format, GL_UNSIGNED_BYTE, pixels);
}
