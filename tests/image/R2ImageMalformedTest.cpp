// Hostile and damaged files: every reader refuses them with its message,
// result 0 and an empty image, without touching memory it does not own
// (run under ASan/UBSan by the sanitizer build).
#include "ImageTestFiles.h"

using namespace image_test;

namespace {

std::string Bmp(int32_t w, int32_t h, uint32_t size, unsigned bits = 24, uint32_t compression = 0, uint32_t offset = 54, int pixels = 16) {
  return BmpHeader(w, h, size, bits, compression, offset).data() + std::string(pixels, '\x7f');
}
Bytes Grid(int32_t w, int32_t h) { return Bytes().i32(w).i32(h).zeros(72); }
Bytes Raw(int32_t magic, int32_t w, int32_t h, int32_t nc) { return Bytes().i32(magic).i32(w).i32(h).i32(nc).f32(0); }

/// A valid 16 x 16 JPEG, its frame header's height and width replaced unless height < 0.
std::string Jpeg(int height = -1, int width = 0) {
  TempFile file("source.jpg");
  RandomImage(16, 16, 3).WriteJPEG(file.c_str());
  std::string jpeg = file.read();
  if (height >= 0) jpeg.replace(jpeg.find("\xff\xc0") + 5, 4, Bytes().u8(height >> 8).u8(height).u8(width >> 8).u8(width));
  return jpeg;
}

}  // namespace

TEST(R2ImageMalformed, EveryReaderRefusesHostileFilesWithItsMessage) {
  const std::string jpeg = Jpeg();
  const std::string corrupt = jpeg.substr(0, jpeg.size() / 2) + std::string(jpeg.size() / 2 - 2, '\0') + "\xff\xd9";
  const std::string bmpRead = "Error while reading BMP file", ppmSize = "Unable to read width and height in PPM file", ppmMax = "Unable to read max_value in PPM file";
  const std::string ppmData = "Unable to read data at (0,0) in PPM file", ppmMagic = "Unable to read magic id in PPM file", rawHeader = "Invalid header in raw image file";
  struct Malformed { const char* extension; std::string bytes; std::string message; };  // part of the stderr text
  const Malformed cases[] = {
      // BMP: short header, wrong magic, image-size field too small, too large, invalid sizes (INT32_MIN has no negation)
      {".bmp", "BM\x10", bmpRead}, {".bmp", Bytes().str("XX").zeros(52).data() + std::string(16, '\0'), "Not a BMP file"}, {".bmp", Bmp(2, 2, 4), "too small"},
      {".bmp", Bmp(100000, 100000, 0), "larger than the limit"}, {".bmp", Bmp(0, 2, 0), "Invalid size 0 x 2"}, {".bmp", Bmp(-2, 2, 16), "Invalid size -2 x 2"},
      {".bmp", Bmp(1, INT32_MIN, 0), "Invalid size 1 x -2147483648"}, {".bmp", Bmp(2, 2, 16, 32), "32 bits per pixel"}, {".bmp", Bmp(2, 2, 16, 8), "8 bits per pixel"},
      // BMP: compressed; pixel offset past the end, inside the header; truncated pixels
      {".bmp", Bmp(2, 2, 16, 24, 1), "compression 1"}, {".bmp", Bmp(2, 2, 16, 24, 0, 4000), bmpRead}, {".bmp", Bmp(2, 2, 16, 24, 0, 10), bmpRead},
      {".bmp", Bmp(2, 2, 16, 24, 0, 54, 15), bmpRead},
      // PPM sizes: zero, negative, beyond int, too large
      {".ppm", "P6\n0 2\n255\n", "Invalid size 0 x 2"}, {".ppm", "P6\n2 -2\n255\n", ppmSize}, {".ppm", "P3\n99999999999 1\n255\n", ppmSize},
      {".ppm", "P6\n1000000000 1000000000\n255\n", "larger than the limit"},
      // PPM max values: 0, 256, beyond int, no blank after it
      {".ppm", "P6\n1 1\n0\nabc", "Unsupported max_value 0"}, {".ppm", "P6\n1 1\n256\nabcabc", "Unsupported max_value 256"},
      {".ppm", "P3\n1 1\n12345678901234567890\n1 1 1\n", ppmMax}, {".ppm", "P6\n1 1\n255abc", ppmMax},
      // PPM data: truncated P6, byte above maxval, text above maxval, negative, not a number, too few samples
      {".ppm", "P6\n2 2\n255\nabcdefghijk", "Unable to read data at (1,0) in PPM file"}, {".ppm", Bytes().str("P6\n1 1\n100\n").u8(101).u8(0).u8(0), ppmData},
      {".ppm", "P3\n1 1\n15\n1 16 1\n", ppmData}, {".ppm", "P3\n1 1\n255\n1 -5 1\n", ppmData}, {".ppm", "P3\n1 1\n255\n12a 1 1 \n", ppmData},
      {".ppm", "P3\n2 1\n255\n1 2 3 4 5      \n", "Unable to read data at (1,0) in PPM file"},
      // PPM magic: a long line, no line end, empty file
      {".ppm", std::string(200, 'P') + "\n1 1\n255\n1 1 1\n", ppmMagic}, {".ppm", "GIF89a\x01", ppmMagic}, {".ppm", "", ppmMagic},
      // PFM: colour and lower-case magic, truncated samples, sizes beyond int, zero, too large; bad characters; a 129-digit height; end of file
      {".pfm", Bytes().str("PF\n1 1\n-1\n").f32(0).f32(0).f32(0), "Bad magic keyword"}, {".pfm", Bytes().str("pf\n1 1\n-1\n").f32(0), "Bad magic keyword"},
      {".pfm", Bytes().str("Pf\n2 2\n-1\n").f32(0).f32(1).f32(2), "read error\n"}, {".pfm", Bytes().str("Pf\n99999999999999 1\n-1\n").f32(0), "Invalid size in PFM file"},
      {".pfm", Bytes().str("Pf\n1 0\n-1\n").f32(0), "Invalid size in PFM file"}, {".pfm", Bytes().str("Pf\n100000 100000\n-1\n").f32(0), "larger than the limit"},
      {".pfm", Bytes().str("Pf\n1a 1\n-1\n").f32(0), "Bad width character a"}, {".pfm", Bytes().str("Pf\n1 1\nnan\n").f32(0), "Bad endian character n"},
      {".pfm", Bytes().str("Pf\n1 " + std::string(129, '1') + " -1\n").f32(0), "Error reading height"}, {".pfm", "Pf\n1", "Bad width character ?"},
      // Grid: short resolution, short matrix, negative size, short values, too large (2^43 bytes; beyond 64 bits)
      {".grd", Bytes().i32(1), "Unable to read resolution from grid file"}, {".grd", Bytes().i32(1).i32(1).zeros(70), "Unable to read transformation matrix"},
      {".grd", Grid(-1, 2).f64(0), "Invalid grid resolution -1 x 2"}, {".grd", Grid(2, 2).f64(0).f64(1).f64(2), "Unable to read 4 grid values from file"},
      {".grd", Grid(1 << 20, 1 << 20).f64(0), "larger than the limit"}, {".grd", Grid(INT32_MAX, INT32_MAX).f64(0), "larger than the limit"},
      // RAW: wrong magic, short header, 0, 255 and -1 components, negative width, too large, truncated data
      {".raw", Raw(12345, 1, 1, 1), rawHeader}, {".raw", Bytes().i32(54321).i32(1), "Unable to read header to raw image file"}, {".raw", Raw(54321, 1, 1, 0), rawHeader},
      {".raw", Raw(54321, 1, 1, 255), rawHeader}, {".raw", Raw(54321, 1, 1, -1), rawHeader}, {".raw", Raw(54321, -4, 1, 1), rawHeader},
      {".raw", Raw(54321, 65536, 65536, 4), "larger than the limit"}, {".raw", Raw(54321, 2, 1, 3).f32(0), "Unable to read data from raw image file"},
      // JPEG: truncated, corrupt scan, not a JPEG, frame size too large, zero height
      {".jpg", jpeg.substr(0, jpeg.size() / 2), "JPEG error"}, {".jpg", corrupt, "JPEG error"}, {".jpeg", "GIF89a", "JPEG error"},
      {".jpg", Jpeg(65000, 65000), "larger than the limit"}, {".jpg", Jpeg(0, 16), "JPEG error"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {  // result 0, the message, and an empty image where one had pixels
    R2Image image(2, 2, 3);
    const auto [result, err] = ReadBytes(cases[i].extension, cases[i].bytes, &image);
    const int size = image.Width() + image.Height() + image.NComponents() + image.RowSize();
    EXPECT_EQ(std::tuple(result, err.find(cases[i].message) != std::string::npos, size, image.Pixels() == nullptr), std::tuple(0, true, 0, true)) << "case " << i << ", stderr: " << err;
  }
}

TEST(R2ImageMalformed, EveryPrefixOfAValidFileIsRefused) {
  const R2Image image = RandomImage(3, 2, 3);
  std::vector<std::pair<std::string, std::string>> files = {  // extension, bytes
      {".pfm", Bytes().str("Pf\n2 1\n-1.0\n").f32(0.25f).f32(0.75f)}, {".grd", Grid(1, 2).f64(3.0).f64(4.0)}};
  for (const char* ext : {".bmp", ".ppm", ".raw", ".jpg", ".png", ".P6.ppm"}) {
    TempFile f(std::string("prefix") + ext);
    ASSERT_NE(ext[1] == 'P' ? image.WritePPM(f.c_str(), 0) : image.Write(f.c_str()), 0);
    files.emplace_back(ext, f.read());
  }
  for (const auto& [ext, bytes] : files) {
    R2Image cut;
    ASSERT_NE(ReadBytes(ext, bytes, &cut).first, 0) << ext;
    // A text PPM is complete once its last number has its separator.
    const size_t cuts = bytes.rfind("P3", 0) == 0 ? bytes.find_last_of("0123456789") + 1 : bytes.size();
    for (size_t n = 0; n < cuts; ++n) EXPECT_TRUE(ReadBytes(ext, bytes.substr(0, n), &cut).first == 0 && !cut.IsValid()) << ext << " cut at " << n;
  }
}
