// PNG files: exact round trips of the four layouts, the layouts R2Image has no
// place for (written by libpng itself) expanded to bytes, and hostile files
// made from a valid one by byte edits, their CRCs recomputed where the edit
// must reach a later check.
#include <png.h>

#include <csetjmp>

#include "ImageTestFiles.h"

using namespace image_test;

namespace {

std::string Be32(uint32_t v) { return Bytes().u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }

uint32_t Crc32(const std::string& bytes) {
  uint32_t c = 0xffffffffu;
  for (const unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = c >> 1 ^ (0xedb88320u & (0u - (c & 1)));
  }
  return ~c;
}

/// A chunk as stored: length, type, data, CRC.
std::string Chunk(const std::string& type, const std::string& data) { return Be32(data.size()) + type + data + Be32(Crc32(type + data)); }

/// The file (signature, 33-byte IHDR, ...) with another width, height, bit depth, colour type and interlace method.
std::string WithHeader(const std::string& png, uint32_t w, uint32_t h, int depth = 8, int colour = 2, int interlace = 0) {
  return png.substr(0, 8) + Chunk("IHDR", Be32(w) + Be32(h) + Bytes().u8(depth).u8(colour).u8(0).u8(0).u8(interlace).data()) + png.substr(33);
}

/// File rows (top first, 16-bit samples big-endian) and what libpng is to write with them.
struct LibpngFile {
  int width, height, colourType, bitDepth;
  std::vector<std::string> rows;
  std::vector<png_color> palette = {};
  std::vector<png_byte> paletteAlpha = {};
  int transparentGrey = -1;
  bool interlaced = false;
};

bool WriteWithLibpng(const char* path, const LibpngFile& f) {
  FILE* fp = fopen(path, "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, f.width, f.height, f.bitDepth, f.colourType, f.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
  png_color_16 grey = {0, 0, 0, 0, static_cast<png_uint_16>(f.transparentGrey)};
  if (!f.palette.empty()) png_set_PLTE(png, info, f.palette.data(), static_cast<int>(f.palette.size()));
  if (!f.paletteAlpha.empty()) png_set_tRNS(png, info, f.paletteAlpha.data(), static_cast<int>(f.paletteAlpha.size()), nullptr);
  if (f.transparentGrey >= 0) png_set_tRNS(png, info, nullptr, 0, &grey);
  png_write_info(png, info);
  for (int pass = png_set_interlace_handling(png); pass > 0; --pass) {
    for (const std::string& row : f.rows) png_write_row(png, reinterpret_cast<png_const_bytep>(row.data()));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return fclose(fp) == 0;
}

/// Components and every byte of the image read from the file libpng writes; (0, {}) on failure.
std::pair<int, std::vector<int>> ReadLibpngFile(const LibpngFile& f) {
  TempFile file("libpng.png");
  R2Image image;
  if (!WriteWithLibpng(file.c_str(), f) || image.Read(file.c_str()) != 1) return {0, {}};
  return {image.NComponents(), AllBytes(image)};
}

std::string Row(std::initializer_list<int> bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TEST(R2ImagePng, FourLayoutsRoundTripEveryByteAndReadLikeBmp) {
  for (int i = 0; i < 20; ++i) {  // components 1 to 4, then width 1 to 5 (every row padding)
    const int nc = i / 5 + 1, w = i % 5 + 1;
    const R2Image image = RandomImage(w, 3, nc, 7 * w + nc);
    TempFile file("rt.png");
    R2Image back;
    ASSERT_TRUE(image.Write(file.c_str()) == 1 && back.Read(file.c_str()) == 1) << i;
    EXPECT_EQ(std::tuple(file.read()[25], back.NComponents(), AllBytes(back)), std::tuple("\0\0\4\2\6"[nc], nc, AllBytes(image))) << i;  // IHDR colour type
  }
  const R2Image picture = RandomImage(7, 5, 3, 3);  // rows in the order of every other format
  TempFile png("same.png"), bmp("same.bmp");
  R2Image fromPng, fromBmp;
  ASSERT_TRUE(picture.Write(png.c_str()) && picture.Write(bmp.c_str()) && fromPng.Read(png.c_str()) && fromBmp.Read(bmp.c_str()));
  EXPECT_EQ(AllBytes(fromPng), AllBytes(fromBmp));
  // No pixels, 5 components, a full device.
  const std::string err = StderrOf([&] { EXPECT_EQ(R2Image().WritePNG(png.c_str()) + R2Image(2, 2, 5).WritePNG(png.c_str()) + RandomImage(64, 64, 4).WritePNG("/dev/full"), 0); });
  EXPECT_NE(err.find("PNG error in /dev/full: Write Error"), std::string::npos) << err;
}

TEST(R2ImagePng, PalettesTransparencyAndOtherDepthsAreExpandedToBytes) {
  // Expected: the image bytes bottom-up with padding; the first file row is the top row.
  const std::vector<png_color> rgb3 = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  const std::tuple<LibpngFile, int, std::vector<int>> cases[] = {  // file, components, bytes
      {{3, 2, PNG_COLOR_TYPE_PALETTE, 8, {Row({0, 1, 2}), Row({2, 2, 1})}, rgb3, {0, 128}}, 4,  // alpha for two entries
       {70, 80, 90, 255, 70, 80, 90, 255, 40, 50, 60, 128, 10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}},
      {{5, 1, PNG_COLOR_TYPE_PALETTE, 2, {Row({0b00011000, 0b01000000})}, rgb3}, 3, {10, 20, 30, 40, 50, 60, 70, 80, 90, 10, 20, 30, 40, 50, 60, 0}},
      {{2, 1, PNG_COLOR_TYPE_RGBA, 16, {Row({1, 2, 3, 4, 5, 6, 7, 8, 255, 255, 0, 255, 128, 0, 0, 0})}}, 4, {1, 3, 5, 7, 255, 0, 128, 0}},
      // tRNS matches the whole 16-bit sample: 0x01ff is opaque though its high byte is 1.
      {{3, 1, PNG_COLOR_TYPE_GRAY, 16, {Row({1, 0, 1, 255, 200, 9})}, {}, {}, 0x100}, 2, {1, 0, 1, 255, 200, 255, 0, 0}},
      {{9, 2, PNG_COLOR_TYPE_GRAY, 1, {Row({0b10100000, 0b10000000}), Row({0b01010101, 0})}}, 1, {0, 255, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 0}},
  };
  for (const auto& [file, nc, bytes] : cases) {
    EXPECT_EQ(ReadLibpngFile(file), std::pair(nc, bytes)) << "colour type " << file.colourType << ", depth " << file.bitDepth;
  }
  // Interlaced: each of the seven passes lands in its own pixels of the right rows.
  const R2Image image = RandomImage(11, 9, 3, 5);
  LibpngFile interlaced{11, 9, PNG_COLOR_TYPE_RGB, 8, {}};
  interlaced.interlaced = true;
  for (int y = 8; y >= 0; --y) interlaced.rows.emplace_back(reinterpret_cast<const char*>(image.Pixels() + y * image.RowSize()), 33);
  EXPECT_EQ(ReadLibpngFile(interlaced), std::pair(3, AllBytes(image)));
}

TEST(R2ImagePng, HostileFilesAreRefusedWithAMessageAndNoImage) {
  TempFile source("source.png");
  ASSERT_EQ(RandomImage(5, 3, 3).WritePNG(source.c_str()), 1);
  const std::string png = source.read(), head = png.substr(0, 33), idat = png.substr(33, png.size() - 45), iend = png.substr(png.size() - 12);
  ASSERT_EQ(WithHeader(png, 5, 3), png);  // the edits keep every other byte
  const std::pair<std::string, std::string> cases[] = {  // file, part of the stderr text
      // Truncated: empty, signature only, inside IHDR, before IDAT, inside IDAT, inside IEND's CRC; not a PNG; IHDR's CRC
      {"", "Read Error"}, {png.substr(0, 8), "Read Error"}, {png.substr(0, 20), "Read Error"}, {head, "Read Error"}, {png.substr(0, png.size() - 20), "Read Error"},
      {png.substr(0, png.size() - 1), "Read Error"}, {"GIF89a\x05\x05\x05\x05", "Not a PNG file"}, {png.substr(0, 29) + static_cast<char>(png[29] ^ 1) + png.substr(30), "IHDR: CRC error"},
      // Sizes: beyond 31 bits, above the library's limit, above the byte limit, zero; 256 MB declared in 60 bytes
      {WithHeader(png, 0x80000000u, 1), "integer out of range"}, {WithHeader(png, 0x7fffffff, 1), "exceeds user limit"}, {WithHeader(png, 100000, 100000), "larger than the limit"},
      {WithHeader(png, 0, 3), "Image width is zero"}, {WithHeader(png, 5, 0), "Image height is zero"}, {WithHeader(png, 16000, 16000, 8, 0), "too short for 16000 x 16000 pixels"},
      // Bit depth 7, colour type 1, RGB of 4 bits, interlace method 2, a palette without PLTE
      {WithHeader(png, 5, 3, 7), "Invalid bit depth"}, {WithHeader(png, 5, 3, 8, 1), "Invalid color type"}, {WithHeader(png, 5, 3, 4, 2), "Invalid color type/bit depth"},
      {WithHeader(png, 5, 3, 8, 2, 2), "Unknown interlace method"}, {WithHeader(png, 5, 3, 8, 3), "Missing PLTE before IDAT"},
      // Pixels: no IDAT, a corrupt deflate stream (valid CRC), fewer rows than declared
      {head + iend, "IEND: out of place"}, {head + Chunk("IDAT", idat.substr(8, 2) + std::string(20, '\xff')) + iend, "IDAT: invalid"}, {WithHeader(png, 5, 30), "Not enough image data"},
      // A chunk above the 8 MiB cap in a small file, a length beyond 31 bits
      {head + Be32(16 << 20) + "tEXtabc" + idat + iend, "chunk data is too large"}, {head + Be32(0x90000000u) + "tEXtabc" + idat + iend, "integer out of range"},
  };
  for (const auto& [bytes, message] : cases) {
    R2Image image(2, 2, 3);
    const auto [result, err] = ReadBytes(".png", bytes, &image);
    EXPECT_TRUE(result == 0 && err.find(message) != std::string::npos && image.Pixels() == nullptr && image.Width() == 0) << message << ", stderr: " << err;
  }
  // A bad CRC in an ancillary chunk only drops that chunk.
  R2Image image;
  const std::string text = Chunk("tEXt", std::string("Comment\0abc", 11));
  const auto [result, err] = ReadBytes(".png", head + text.substr(0, text.size() - 1) + static_cast<char>(text.back() ^ 1) + idat + iend, &image);
  EXPECT_TRUE(result == 1 && image.IsValid() && err.find("tEXt: CRC error") != std::string::npos) << err;
}

TEST(R2ImagePng, FastAndSmallestCompressionStoreTheSamePixels) {
  for (int nc = 1; nc <= 4; ++nc) {
    // Gradients with a little noise, as a render has: the smallest setting
    // must pay off there.
    R2Image image = RandomImage(61, 40, nc, nc);
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width() * nc; ++x) {
        unsigned char& b = image.Pixels()[y * image.RowSize() + x];
        b = static_cast<unsigned char>(3 * x + 2 * y + b % 4);
      }
    TempFile fast("fast.png"), smallest("smallest.png");
    R2Image a, b;
    ASSERT_TRUE(image.WritePNG(fast.c_str(), R2Image::PngCompression::kFast) &&
                image.WritePNG(smallest.c_str(), R2Image::PngCompression::kSmallest) &&
                a.Read(fast.c_str()) && b.Read(smallest.c_str())) << nc;
    EXPECT_EQ(AllBytes(a), AllBytes(image)) << nc;
    EXPECT_EQ(AllBytes(b), AllBytes(image)) << nc;
    EXPECT_LT(smallest.read().size(), fast.read().size()) << nc;
  }
}
