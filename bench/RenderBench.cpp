// What a full-resolution render costs: a 100 x 100 mesh, gently bent (every
// vertex moved by a smooth wave of up to 2% of the picture), drawn from a
// 512 x 512 picture onto a 1024 x 768 output ("Render/Mesh/100/1024", the
// picture sampled in place; "Render/MeshCopied/100/1024", copied first); and
// what measuring the distortion of the same bent mesh costs ("Metrics/Mesh/100").
#include <benchmark/benchmark.h>

#include <cmath>
#include <iostream>
#include <sstream>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "image/RNRgb.h"
#include "render/DistortionMetrics.h"
#include "render/MeshRasterizer.h"

namespace {

// A cells x cells mesh over a width x height gradient picture (512 x 512 by
// default), bent by a smooth wave.
struct BentMesh {
  explicit BentMesh(int cells, int width = 512, int height = 512)
      : picture(width, height, 3), deformator(picture, "bench") {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        picture.SetPixelRGB(x, y, RNRgb(x / (width - 1.0), y / (height - 1.0), 0.5));
    std::ostringstream quiet;
    std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
    deformator.SwitchMeshBasedDeformation(cells, cells, false, false, RNRgb(0, 0, 0), -1.0, 0.0,
                                          1.0, 0.0, 1.0);
    std::cout.rdbuf(console);
    for (auto& v : deformator.m_Vertices) {
      v.m_fX += 0.02 * std::sin(6.0 * v.m_fRestY);
      v.m_fY += 0.02 * std::sin(5.0 * v.m_fRestX);
    }
  }
  R2Image picture;
  Warpixator deformator;
};

// The picture sampled in place (source kAuto, as a single render does) or
// copied as float texels first (kCopy, as an animation does).
void BenchRender(benchmark::State& state, MeshRasterizer::TextureSource source,
                 bool pictureAtOutputSize = false) {
  const int width = static_cast<int>(state.range(1)), height = width * 3 / 4;
  BentMesh mesh(static_cast<int>(state.range(0)), pictureAtOutputSize ? width : 512,
                pictureAtOutputSize ? height : 512);
  MeshRasterizer rasterizer(mesh.deformator, source);
  R2Image out;
  for (auto _ : state) {
    rasterizer.Render(width, height, MeshRasterizer::Background(), out);
    benchmark::DoNotOptimize(out.Pixels());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(width) * height);
}

void BenchRenderMesh(benchmark::State& state) { BenchRender(state, MeshRasterizer::TextureSource::kAuto); }
void BenchRenderMeshCopied(benchmark::State& state) { BenchRender(state, MeshRasterizer::TextureSource::kCopy); }

// A single render of a picture at the output's size with a coarse mesh (the
// end-to-end case of warpix-render): long spans, one texel pair per pixel.
void BenchRenderPicture(benchmark::State& state) {
  BenchRender(state, MeshRasterizer::TextureSource::kAuto, true);
}

BENCHMARK(BenchRenderPicture)->Name("Render/Picture")->Args({20, 1024})->Unit(benchmark::kMillisecond);
BENCHMARK(BenchRenderMesh)->Name("Render/Mesh")->Args({100, 1024})->Unit(benchmark::kMillisecond);
BENCHMARK(BenchRenderMeshCopied)->Name("Render/MeshCopied")->Args({100, 1024})->Unit(benchmark::kMillisecond);

void BenchMetricsMesh(benchmark::State& state) {
  BentMesh mesh(static_cast<int>(state.range(0)));
  DistortionMetrics metrics(mesh.deformator);
  for (auto _ : state) {
    CellDistortion cell = metrics.Measure();
    benchmark::DoNotOptimize(cell);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(metrics.NumFaces()));
}

BENCHMARK(BenchMetricsMesh)->Name("Metrics/Mesh")->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
