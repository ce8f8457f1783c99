#include "image/R2Image.h"

R2Image::R2Image() : width(0), height(0), ncomponents(0), rowsize(0), pixels(nullptr) {}
R2Image::R2Image(int, int, int) : R2Image() {}
R2Image::R2Image(int, int, int, const unsigned char*) : R2Image() {}
R2Image::R2Image(const char*) : R2Image() {}
R2Image::R2Image(const R2Image&) : R2Image() {}
R2Image& R2Image::operator=(const R2Image&) { return *this; }
R2Image::~R2Image() { delete[] pixels; }
RNRgb R2Image::PixelRGB(int, int) const { return RNnull_rgb; }
void R2Image::SetPixelRGB(int, int, const RNRgb&) {}
void R2Image::Add(const R2Image&) {}
void R2Image::Subtract(const R2Image&) {}
void R2Image::Draw(int, int) const {}
void R2Image::Capture() {}
int R2Image::Read(const char*) { return 0; }
int R2Image::Write(const char*) const { return 0; }
int R2Image::ReadBMP(const char*) { return 0; }
int R2Image::WriteBMP(const char*) const { return 0; }
int R2Image::ReadPPM(const char*) { return 0; }
int R2Image::WritePPM(const char*, int) const { return 0; }
int R2Image::ReadRAW(const char*) { return 0; }
int R2Image::WriteRAW(const char*) const { return 0; }
int R2Image::ReadPFM(const char*) { return 0; }
int R2Image::ReadGRD(const char*) { return 0; }
int R2Image::ReadJPEG(const char*) { return 0; }
int R2Image::WriteJPEG(const char*) const { return 0; }
int R2Image::ReadTIFF(const char*) { return 0; }
int R2Image::WriteTIFF(const char*) const { return 0; }
void R2Image::Clear() {}
bool R2Image::Allocate(int, int, int) { return false; }
