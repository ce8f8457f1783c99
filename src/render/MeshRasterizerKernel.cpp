// The rasteriser's span kernel, compiled once per vector target and chosen
// at run time for the processor (Highway's dynamic dispatch). A vector of
// pixel centres of one row is tested against a face's three edges at once;
// each lane performs the operations of the one-pixel loop (edge values,
// coverage, barycentric weights, texture coordinates) in the same order, so
// its results equal that loop's bit for bit. The lanes past the end of a span
// are computed too and dropped. Each covered pixel's bilinear sample then
// takes one four-lane float vector, its four channels side by side.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "render/MeshRasterizerKernel.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "render/MeshRasterizerKernel.h"
#include "support/SimdPack-inl.h"

HWY_BEFORE_NAMESPACE();
namespace warpix {
namespace HWY_NAMESPACE {
namespace {

// Lane l of a block holds pixel centre first + l.
alignas(64) constexpr double kLaneOffset[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
static_assert(Pack::kLanes <= 16, "a lane offset for every lane");

// The rasteriser's own RGBA float texels, width of them per row.
struct FloatTexels {
  const float* texels;
  int width;
  const float* At(int x, int y) const {
    return texels + (static_cast<size_t>(y) * width + x) * 4;
  }
};

// The texels of an RGB picture in place, alpha 255. A texel is read with one
// 4-byte load and widened in registers (byte stores read back as one vector
// would stall the load), except the last, which may end the buffer.
struct RgbTexels {
  const unsigned char* texels;
  size_t rowBytes;
  const unsigned char* lastWord;  // the last 4 bytes of the last texel
  // The texel's RGBA bytes in one word, red in the lowest byte.
  uint32_t Word(int x, int y) const {
    const unsigned char* p = texels + static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) * 3;
    if (HWY_UNLIKELY(p > lastWord)) {
      return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | 0xff000000u;
    }
    uint32_t word;
    std::memcpy(&word, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    return word | 0xff000000u;
  }
};

#if HWY_TARGET == HWY_SCALAR
// Channel c of a texel as a float.
HWY_INLINE float Channel(const FloatTexels& t, int x, int y, int c) { return t.At(x, y)[c]; }
HWY_INLINE float Channel(const RgbTexels& t, int x, int y, int c) {
  return static_cast<float>(t.Word(x, y) >> (8 * c) & 0xffu);
}
#else
// A texel as four float lanes, RGBA. Bytes as floats are exact, so both
// sources give the same lanes.
template <class D>
HWY_INLINE hn::Vec<D> LoadTexel(D df, const FloatTexels& t, int x, int y) {
  return hn::LoadU(df, t.At(x, y));
}
template <class D>
HWY_INLINE hn::Vec<D> LoadTexel(D df, const RgbTexels& t, int x, int y) {
  const hn::Rebind<int32_t, D> di;
  const hn::Rebind<uint8_t, D> du8;
  const hn::FixedTag<uint32_t, 1> dword;
  return hn::ConvertTo(df, hn::PromoteTo(di, hn::BitCast(du8, hn::Set(dword, t.Word(x, y)))));
}
#endif

// The texture with its size also as doubles. It is passed by value: the
// byte stores could otherwise alias its fields, which would then be read
// again for every pixel.
template <class Texels>
struct Sampler {
  Sampler(const Texels& source, const RasterTexture& texture)
      : texels(source),
        width(texture.width),
        height(texture.height),
        widthD(texture.width),
        heightD(texture.height) {}
  Texels texels;
  int width, height;
  double widthD, heightD;
};

// The bilinear RGBA sample at texture coordinate (u, v), clamped.
template <class Texels>
HWY_INLINE void Sample(const Sampler<Texels> texture, double u, double v, unsigned char* rgba) {
  // Interpolated texture coordinates lie in [0, 1] up to rounding: clamped,
  // x and y lie in [-0.5, size - 0.5], so truncating x + 1 is the floor.
  u = std::min(1.0, std::max(0.0, u));
  v = std::min(1.0, std::max(0.0, v));
  const int width = texture.width, height = texture.height;
  const double x = u * texture.widthD - 0.5, y = v * texture.heightD - 0.5;
  const int fx = static_cast<int>(x + 1.0) - 1, fy = static_cast<int>(y + 1.0) - 1;
  const float ax = static_cast<float>(x - fx), ay = static_cast<float>(y - fy);
  const int x0 = std::max(fx, 0), x1 = std::min(fx + 1, width - 1);
  const int y0 = std::max(fy, 0), y1 = std::min(fy + 1, height - 1);
  const Texels& t = texture.texels;
  // Bilinear weights of texels in [0, 255] keep every channel in [0, 255]
  // (+ 0.5 rounds); the conversion truncates and saturates to a byte.
#if HWY_TARGET == HWY_SCALAR
  for (int c = 0; c < 4; ++c) {
    const float t00 = Channel(t, x0, y0, c), t10 = Channel(t, x1, y0, c);
    const float t01 = Channel(t, x0, y1, c), t11 = Channel(t, x1, y1, c);
    const float bottom = t00 + ax * (t10 - t00);
    const float top = t01 + ax * (t11 - t01);
    const int whole = static_cast<int>(bottom + ay * (top - bottom) + 0.5f);
    rgba[c] = static_cast<unsigned char>(std::min(255, std::max(0, whole)));
  }
#else
  const hn::FixedTag<float, 4> df;
  const hn::Rebind<int32_t, decltype(df)> di;
  const hn::Rebind<uint8_t, decltype(df)> du8;
  const auto wx = hn::Set(df, ax), wy = hn::Set(df, ay);
  const auto a00 = LoadTexel(df, t, x0, y0), a10 = LoadTexel(df, t, x1, y0);
  const auto a01 = LoadTexel(df, t, x0, y1), a11 = LoadTexel(df, t, x1, y1);
  const auto bottom = hn::Add(a00, hn::Mul(wx, hn::Sub(a10, a00)));
  const auto top = hn::Add(a01, hn::Mul(wx, hn::Sub(a11, a01)));
  const auto value = hn::Add(hn::Add(bottom, hn::Mul(wy, hn::Sub(top, bottom))), hn::Set(df, 0.5f));
  hn::StoreU(hn::DemoteTo(du8, hn::ConvertTo(di, value)), du8, rgba);
#endif
}

// (Defined anew for every target this file is compiled for.)
#undef WARPIX_RGB_BLOCKS
#if HWY_TARGET != HWY_SCALAR && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define WARPIX_RGB_BLOCKS 1
// The bilinear samples of a block of pixels of an RGB picture in place, one
// lane per pixel (Sample's operations lane by lane, so the same bytes): the
// four texels of every lane gathered as words at once. Only the covered
// lanes (bits) are written. False, with nothing written, where a lane's
// texel would end past the last word (the picture's last texel) or byte
// offsets do not fit 32 bits: the caller then samples pixel by pixel.
HWY_INLINE bool SampleRgbBlock(const Sampler<RgbTexels>& texture, Pack u, Pack v, int bits,
                               unsigned char* out) {
  const Pack::D dd;
  const hn::Rebind<float, Pack::D> df;
  const hn::Rebind<int32_t, Pack::D> di;
  const hn::Rebind<uint32_t, Pack::D> du;
  const RgbTexels& t = texture.texels;
  if (static_cast<unsigned long long>(t.lastWord - t.texels) > 0x7fffffffull) return false;
  // std::min(1.0, std::max(0.0, u)): not-a-number becomes 0.
  const auto zero = hn::Zero(dd), one = hn::Set(dd, 1.0);
  auto clamp = [&](hn::Vec<Pack::D> a) {
    a = hn::IfThenElse(hn::Lt(zero, a), a, zero);
    return hn::IfThenElse(hn::Lt(a, one), a, one);
  };
  const auto x = hn::Sub(hn::Mul(clamp(u.m_V), hn::Set(dd, texture.widthD)), hn::Set(dd, 0.5));
  const auto y = hn::Sub(hn::Mul(clamp(v.m_V), hn::Set(dd, texture.heightD)), hn::Set(dd, 0.5));
  const auto oneI = hn::Set(di, 1);
  const auto fx = hn::Sub(hn::DemoteTo(di, hn::Add(x, one)), oneI);
  const auto fy = hn::Sub(hn::DemoteTo(di, hn::Add(y, one)), oneI);
  const auto ax = hn::DemoteTo(df, hn::Sub(x, hn::PromoteTo(dd, fx)));
  const auto ay = hn::DemoteTo(df, hn::Sub(y, hn::PromoteTo(dd, fy)));
  const auto zeroI = hn::Zero(di);
  const auto x0 = hn::Max(fx, zeroI), x1 = hn::Min(hn::Add(fx, oneI), hn::Set(di, texture.width - 1));
  const auto y0 = hn::Max(fy, zeroI), y1 = hn::Min(hn::Add(fy, oneI), hn::Set(di, texture.height - 1));
  const auto rowBytes = hn::Set(di, static_cast<int32_t>(t.rowBytes)), three = hn::Set(di, 3);
  const auto row0 = hn::Mul(y0, rowBytes), row1 = hn::Mul(y1, rowBytes);
  const auto col0 = hn::Mul(x0, three), col1 = hn::Mul(x1, three);
  const auto o00 = hn::Add(row0, col0), o10 = hn::Add(row0, col1);
  const auto o01 = hn::Add(row1, col0), o11 = hn::Add(row1, col1);
  hn::Vec<decltype(du)> w00, w10, w01, w11;
  const int32_t lastWord = static_cast<int32_t>(t.lastWord - t.texels);
  if (hn::AllFalse(di, hn::Gt(o01, hn::Set(di, lastWord - 4)))) {
    // Eight bytes from a row's left texel hold its right neighbour too, so
    // one 8-byte load per lane and row reads both: loaded one by one, as this
    // processor's gathers cost more than the loads. The largest such offset
    // is the top left texel's. A right texel clamped onto its left one (the
    // picture's edge) is the left one.
    const hn::Rebind<uint64_t, Pack::D> dq;
    alignas(64) int32_t offset0[Pack::kLanes], offset1[Pack::kLanes];
    alignas(64) uint64_t pair0[Pack::kLanes], pair1[Pack::kLanes];
    hn::Store(o00, di, offset0);
    hn::Store(o01, di, offset1);
    for (size_t lane = 0; lane < Pack::kLanes; ++lane) {
      std::memcpy(&pair0[lane], t.texels + offset0[lane], 8);
      std::memcpy(&pair1[lane], t.texels + offset1[lane], 8);
    }
    const auto q0 = hn::Load(dq, pair0), q1 = hn::Load(dq, pair1);
    const auto sameColumn = hn::RebindMask(du, hn::Eq(x0, x1));
    w00 = hn::TruncateTo(du, q0);
    w01 = hn::TruncateTo(du, q1);
    w10 = hn::IfThenElse(sameColumn, w00, hn::TruncateTo(du, hn::ShiftRight<24>(q0)));
    w11 = hn::IfThenElse(sameColumn, w01, hn::TruncateTo(du, hn::ShiftRight<24>(q1)));
  } else {
    // The largest offset is the top right texel's.
    if (!hn::AllFalse(di, hn::Gt(o11, hn::Set(di, lastWord)))) return false;
    const uint32_t* base = reinterpret_cast<const uint32_t*>(t.texels);
    w00 = hn::GatherOffset(du, base, o00);
    w10 = hn::GatherOffset(du, base, o10);
    w01 = hn::GatherOffset(du, base, o01);
    w11 = hn::GatherOffset(du, base, o11);
  }
  const auto byteMask = hn::Set(du, 0xffu);
  auto channel = [&](hn::Vec<decltype(du)> w, int shift) {
    return hn::ConvertTo(df, hn::BitCast(di, hn::And(hn::ShiftRightSame(w, shift), byteMask)));
  };
  const auto half = hn::Set(df, 0.5f);
  const auto top255 = hn::Set(di, 255);
  auto word = hn::Set(du, 0xff000000u);  // alpha: four texels of 255 give 255
  for (int c = 0; c < 3; ++c) {
    const int shift = 8 * c;
    const auto a00 = channel(w00, shift), a10 = channel(w10, shift);
    const auto a01 = channel(w01, shift), a11 = channel(w11, shift);
    const auto bottom = hn::Add(a00, hn::Mul(ax, hn::Sub(a10, a00)));
    const auto top = hn::Add(a01, hn::Mul(ax, hn::Sub(a11, a01)));
    const auto value = hn::Add(hn::Add(bottom, hn::Mul(ay, hn::Sub(top, bottom))), half);
    const auto whole = hn::Min(hn::Max(hn::ConvertTo(di, value), zeroI), top255);
    word = hn::Or(word, hn::ShiftLeftSame(hn::BitCast(du, whole), shift));
  }
  if (bits == (1 << Pack::kLanes) - 1) {
    // Every lane covered (the inside of a span): one store.
    hn::StoreU(word, du, reinterpret_cast<uint32_t*>(out));
    return true;
  }
  uint32_t words[Pack::kLanes];
  hn::StoreU(word, du, words);
  for (; bits != 0; bits &= bits - 1) {
    const int lane = static_cast<int>(hwy::Num0BitsBelowLS1Bit_Nonzero32(static_cast<uint32_t>(bits)));
    std::memcpy(out + static_cast<size_t>(lane) * 4, &words[lane], 4);
  }
  return true;
}
#endif

// Scans pixel centres i0 + 0.5 .. i1 + 0.5 of a row, P::kLanes at a time,
// and calls covered(first, bits, e) for each block with a covered pixel:
// lane l (bit l of bits) is pixel i0 + first + l, e its three edge values.
// Returns the number of covered pixels.
template <class P, class Covered>
HWY_INLINE int ScanSpan(const RasterFace& face, const double* row, int i0, int i1,
                        Covered&& covered) {
  constexpr int kLanes = P::kLanes;
  const P zero = P::Splat(0.0), step = P::Splat(kLanes);
  const P rows[3] = {P::Splat(row[0]), P::Splat(row[1]), P::Splat(row[2])};
  const P dy[3] = {P::Splat(face.dy[0]), P::Splat(face.dy[1]), P::Splat(face.dy[2])};
  const P ax[3] = {P::Splat(face.ax[0]), P::Splat(face.ax[1]), P::Splat(face.ax[2])};
  // Copies, which the caller's byte stores cannot alias.
  const bool reversed[3] = {face.reversed[0], face.reversed[1], face.reversed[2]};
  const bool owns[3] = {face.owns[0], face.owns[1], face.owns[2]};
  const int n = i1 - i0 + 1;
  int count = 0;
  // Whole numbers plus 0.5: x is exactly i + 0.5 in every lane.
  P x = P::Load(kLaneOffset) + P::Splat(i0 + 0.5);
  // Edge k's value at the block's centres, and whether they are on its inner side.
  auto edge = [&](int k, P& e) {
    const P value = rows[k] - dy[k] * (x - ax[k]);
    e = reversed[k] ? Neg(value) : value;
    // e >= 0 is e > 0 || e == 0 (and false for not-a-number, as both are).
    return owns[k] ? GreaterEqual(e, zero) : Greater(e, zero);
  };
  for (int first = 0; first < n; first += kLanes, x = x + step) {
    P e[3];
    const P in0 = edge(0, e[0]), in1 = edge(1, e[1]), in2 = edge(2, e[2]);
    int bits = And(And(in0, in1), in2).Bits();
    if (n - first < kLanes) bits &= (1 << (n - first)) - 1;
    if (bits == 0) continue;
    covered(first, bits, e);
    for (; bits != 0; bits &= bits - 1) ++count;
  }
  return count;
}

// The lowest set bit's index, bits != 0.
HWY_INLINE int LowestLane(int bits) {
  return static_cast<int>(hwy::Num0BitsBelowLS1Bit_Nonzero32(static_cast<uint32_t>(bits)));
}

}  // namespace

int FlatSpan(const RasterFace& face, const double* row, int i0, int i1, const unsigned char* colour,
             unsigned char* rgbaRow) {
  unsigned char* const start = rgbaRow + static_cast<size_t>(i0) * 4;
  return ScanSpan<Pack>(face, row, i0, i1, [&](int first, int bits, const Pack*) {
    for (; bits != 0; bits &= bits - 1) {
      std::memcpy(start + static_cast<size_t>(first + LowestLane(bits)) * 4, colour, 4);
    }
  });
}

template <class Texels>
int TexturedSpanOf(const RasterFace& face, const double* row, int i0, int i1,
                   const Sampler<Texels> picture, unsigned char* rgbaRow) {
  unsigned char* const start = rgbaRow + static_cast<size_t>(i0) * 4;
  const Pack inverse = Pack::Splat(face.inverse);
  const Pack u0 = Pack::Splat(face.texU[0]), u1 = Pack::Splat(face.texU[1]), u2 = Pack::Splat(face.texU[2]);
  const Pack v0 = Pack::Splat(face.texV[0]), v1 = Pack::Splat(face.texV[1]), v2 = Pack::Splat(face.texV[2]);
  return ScanSpan<Pack>(face, row, i0, i1, [&](int first, int bits, const Pack* e) {
    // The covered lanes' texture coordinates, then one sample each.
    const Pack w0 = e[0] * inverse, w1 = e[1] * inverse, w2 = e[2] * inverse;
    const Pack us = w0 * u0 + w1 * u1 + w2 * u2, vs = w0 * v0 + w1 * v1 + w2 * v2;
#ifdef WARPIX_RGB_BLOCKS
    if constexpr (std::is_same<Texels, RgbTexels>::value) {
      if (SampleRgbBlock(picture, us, vs, bits, start + static_cast<size_t>(first) * 4)) return;
    }
#endif
    double u[Pack::kLanes], v[Pack::kLanes];
    us.Store(u);
    vs.Store(v);
    for (; bits != 0; bits &= bits - 1) {
      const int lane = LowestLane(bits);
      Sample(picture, u[lane], v[lane], start + static_cast<size_t>(first + lane) * 4);
    }
  });
}

int TexturedSpan(const RasterFace& face, const double* row, int i0, int i1,
                 const RasterTexture& texture, unsigned char* rgbaRow) {
  if (texture.texels != nullptr) {
    const FloatTexels texels = {texture.texels, texture.width};
    return TexturedSpanOf(face, row, i0, i1, Sampler<FloatTexels>(texels, texture), rgbaRow);
  }
  const size_t rowBytes = static_cast<size_t>(texture.rgbRowBytes);
  const RgbTexels texels = {texture.rgb, rowBytes,
                            texture.rgb + (texture.height - 1) * rowBytes + texture.width * 3 - 4};
  return TexturedSpanOf(face, row, i0, i1, Sampler<RgbTexels>(texels, texture), rgbaRow);
}

}  // namespace HWY_NAMESPACE
}  // namespace warpix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace warpix {

HWY_EXPORT(FlatSpan);
HWY_EXPORT(TexturedSpan);

int RasterFlatSpan(const RasterFace& face, const double* row, int i0, int i1,
                   const unsigned char* colour, unsigned char* rgbaRow) {
  if (i0 > i1) return 0;
  return HWY_DYNAMIC_DISPATCH(FlatSpan)(face, row, i0, i1, colour, rgbaRow);
}

int RasterTexturedSpan(const RasterFace& face, const double* row, int i0, int i1,
                       const RasterTexture& texture, unsigned char* rgbaRow) {
  if (i0 > i1) return 0;
  return HWY_DYNAMIC_DISPATCH(TexturedSpan)(face, row, i0, i1, texture, rgbaRow);
}

}  // namespace warpix
#endif  // HWY_ONCE
