// warpix_pixel: prints the size of an image file and the colour of chosen
// pixels, so end-to-end scripts can check the frames the program writes.
// Usage: warpix_pixel <image> [x y ...]   (x from the left, y from the bottom)
// Output: "size <width> <height>", then "<x> <y> <r> <g> <b>" (bytes) per pixel.
// Exit status 1 when the file cannot be read or a pixel lies outside.
#include <cstdio>
#include <cstdlib>

#include "image/R2Image.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::fprintf(stderr, "Usage: %s <image> [x y ...]\n", argv[0]);
    return 2;
  }
  R2Image image;
  if (!image.Read(argv[1]) || !image.IsValid()) return 1;
  std::printf("size %d %d\n", image.Width(), image.Height());
  for (int i = 2; i + 1 < argc; i += 2) {
    const int x = std::atoi(argv[i]), y = std::atoi(argv[i + 1]);
    if (x < 0 || y < 0 || x >= image.Width() || y >= image.Height()) return 1;
    const RNRgb colour = image.PixelRGB(x, y);
    std::printf("%d %d %d %d %d\n", x, y, static_cast<int>(colour.R() * 255 + 0.5),
                static_cast<int>(colour.G() * 255 + 0.5), static_cast<int>(colour.B() * 255 + 0.5));
  }
  return 0;
}
