// libFuzzer target for the image readers: the input is written to a scratch
// file under each extension in turn (as PNG with its chunk CRCs corrected)
// and read back with R2Image::Read. Any crash, sanitizer report, leak or
// oversized allocation is a finding.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "image/R2Image.h"

namespace {

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xffffffffu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = c >> 1 ^ (0xedb88320u & (0u - (c & 1)));
  }
  return ~c;
}

/// The input with the CRC of every whole chunk after the 8-byte signature
/// recomputed: almost every mutation breaks a CRC, and the PNG reader would
/// refuse it there without ever decoding the header or the pixels.
std::string WithPngChecksums(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  auto* p = reinterpret_cast<uint8_t*>(&bytes[0]);
  for (size_t at = 8; at + 12 <= size;) {
    const uint64_t n = uint64_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
    if (n > size - at - 12) break;
    const uint32_t crc = Crc32(p + at + 4, n + 4);
    for (int i = 0; i < 4; ++i) p[at + 8 + n + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    at += 12 + n;
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A lower size limit keeps every allocation of a hostile header small.
  R2Image::SetByteLimit(64LL << 20);
  static const char* const kExtensions[] = {".bmp", ".ppm", ".pfm", ".jpg", ".png", ".raw", ".grd", ".tif"};
  for (const char* extension : kExtensions) {
    const std::string path = warpix_fuzz::ScratchPath(extension);
    const std::string bytes = strcmp(extension, ".png") == 0
                                  ? WithPngChecksums(data, size)
                                  : std::string(reinterpret_cast<const char*>(data), size);
    if (warpix_fuzz::WriteFile(path, bytes.data(), size)) {
      R2Image image;
      if (image.Read(path.c_str()) != 0 &&
          (image.Pixels() == nullptr || image.Width() <= 0 || image.Height() <= 0)) {
        abort();  // success must come with pixels
      }
    }
    remove(path.c_str());
  }
  return 0;
}
