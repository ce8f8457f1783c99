#pragma once

#include <vector>

class R2Image;

/// What a deformator draws on: the window's text routine and display flags,
/// and the few primitives a cell is made of, all in the cell's current
/// coordinates (the picture's unit square). The deformators hold no call of a
/// graphics library, so everything but the window links into a program that
/// never opens a display; the window implements this with OpenGL.
class WarpixatorCanvas {
 public:
  virtual ~WarpixatorCanvas() = default;

  /// Bitmap text at (x, y) in colour (r, g, b); font 0, 1 or 2 (any other: nothing).
  virtual void RenderText(char const* text, double x, double y, double r, double g, double b,
                          int font) = 0;

  /// The largest texture side the canvas takes (0: no limit known).
  virtual int MaxTextureSize() = 0;
  /// Texture textureID made of the picture's bytes as they are (1 to 4
  /// components, rows padded to 4 bytes), without alpha.
  virtual void LoadTexture(unsigned int textureID, const R2Image& image) = 0;
  /// Texture textureID made of width x height RGBA floats in [0, 1], row 0 first.
  virtual void LoadTexture(unsigned int textureID, int width, int height,
                           const float* rgba) = 0;

  /// Textured triangles blended by their alpha; corners holds u, v, x, y per
  /// corner, three corners per triangle, drawn in order. With outlines, each
  /// triangle is followed by its edges in red, 2 pixels wide.
  virtual void DrawTexturedTriangles(unsigned int textureID, const std::vector<float>& corners,
                                     bool outlines) = 0;
  /// The whole texture on the unit square, unblended.
  virtual void DrawTexturedSquare(unsigned int textureID) = 0;
  /// A shaded control-point marker of the given radius centred at (x, y).
  virtual void DrawMarker(double x, double y, double radius, double r, double g, double b) = 0;
  /// Line segments of the given width; segments holds x0, y0, x1, y1, r, g, b per segment.
  virtual void DrawSegments(const std::vector<double>& segments, float width) = 0;

  // === Display flags read by the deformators' drawing
  bool m_bShowLines = true;            // line constraints drawn (toggled by 'l')
  bool m_bHideControlPoints = false;   // markers and cell backgrounds hidden ('h')
};
