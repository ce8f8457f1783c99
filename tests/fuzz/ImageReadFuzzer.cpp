// libFuzzer target for the image readers: the input is written to a scratch
// file under each extension in turn and read back with R2Image::Read. Any
// crash, sanitizer report, leak or oversized allocation is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/R2Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A lower size limit keeps every allocation of a hostile header small.
  static const std::string base = [] {
    R2Image::SetByteLimit(64LL << 20);
    const char* dir = getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/warpix_fuzz_" + std::to_string(getpid());
  }();
  static const char* const kExtensions[] = {".bmp", ".ppm", ".pfm", ".jpg", ".raw", ".grd", ".tif"};
  for (const char* extension : kExtensions) {
    const std::string path = base + extension;
    FILE* fp = fopen(path.c_str(), "wb");
    if (fp == nullptr) return 0;
    const bool written = fwrite(data, 1, size, fp) == size;
    fclose(fp);
    if (written) {
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
