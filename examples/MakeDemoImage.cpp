// Writes the bundled example picture: 512 x 512, one colour per quadrant (so
// orientation is visible), a fine grid (so a deformation is visible), a few
// shapes and the word WARPIX. Usage: warpix_make_demo <output.jpg>
#include <cmath>
#include <cstdio>

#include "image/R2Image.h"

namespace {

constexpr int kSize = 512;

// 5 x 7 glyphs, top row first, bit 4 the leftmost column.
struct Glyph {
  char letter;
  unsigned char rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x1B, 0x11}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
};

// Quadrant colours in picture coordinates (row 0 at the bottom).
RNRgb Background(int x, int y) {
  const bool right = x >= kSize / 2;
  const bool top = y >= kSize / 2;
  if (!right && !top) return RNRgb(0.86, 0.24, 0.24);  // bottom left: red
  if (right && !top) return RNRgb(0.24, 0.70, 0.30);   // bottom right: green
  if (!right && top) return RNRgb(0.24, 0.36, 0.86);   // top left: blue
  return RNRgb(0.94, 0.78, 0.16);                      // top right: yellow
}

void FillRect(R2Image& image, int x0, int y0, int x1, int y1, const RNRgb& colour) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      if (x >= 0 && y >= 0 && x < kSize && y < kSize) image.SetPixelRGB(x, y, colour);
    }
  }
}

// Upright text whose lower-left corner is at (x, y), each glyph pixel scale x scale.
void DrawText(R2Image& image, const char* text, int x, int y, int scale, const RNRgb& colour) {
  for (const char* c = text; *c != '\0'; ++c, x += 6 * scale) {
    for (const Glyph& glyph : kGlyphs) {
      if (glyph.letter != *c) continue;
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if ((glyph.rows[row] >> (4 - col)) & 1) {
            const int px = x + col * scale;
            const int py = y + (6 - row) * scale;
            FillRect(image, px, py, px + scale, py + scale, colour);
          }
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <output.jpg>\n", argv[0]);
    return 2;
  }
  R2Image image(kSize, kSize, 3);
  const RNRgb white(1.0, 1.0, 1.0);
  const RNRgb black(0.0, 0.0, 0.0);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      // Grid: a thin dark line every 32 pixels, a stronger one every 64.
      const bool major = x % 64 < 3 || y % 64 < 3;
      const bool minor = x % 32 == 0 || y % 32 == 0;
      RNRgb colour = Background(x, y);
      if (major) {
        colour = RNRgb(0.1, 0.1, 0.1);
      } else if (minor) {
        colour = RNRgb(colour.R() * 0.6, colour.G() * 0.6, colour.B() * 0.6);
      }
      image.SetPixelRGB(x, y, colour);
    }
  }

  // A white disc with a black rim in the middle.
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double r = std::hypot(x - 256.0, y - 256.0);
      if (r <= 56.0) image.SetPixelRGB(x, y, r >= 50.0 ? black : white);
    }
  }
  // A black triangle pointing up in the bottom-right quadrant.
  for (int y = 140; y < 236; ++y) {
    const int half = (236 - y) / 2;
    FillRect(image, 384 - half, y, 384 + half + 1, y + 1, black);
  }
  // A white diamond in the top-left quadrant.
  for (int y = 450; y <= 500; ++y) {
    const int half = 25 - std::abs(y - 475);
    FillRect(image, 180 - half, y, 180 + half + 1, y + 1, white);
  }
  // The word, upright, on a white band across the upper half.
  FillRect(image, 126, 318, 386, 374, white);
  DrawText(image, "WARPIX", 136, 325, 7, black);

  if (!image.WriteJPEG(argv[1])) return 1;
  return 0;
}
