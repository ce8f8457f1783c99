#pragma once

// One cell of warpix-render: its deformator, the rasteriser holding its
// texture and its distortion metrics.
#include <memory>
#include <string>

#include "deform/Warpixator.h"
#include "render/DistortionMetrics.h"
#include "render/MeshRasterizer.h"

/// The rasteriser is declared after the deformator, so destroyed first: it
/// refers to the deformator (as do the metrics).
struct RenderCell {
  std::unique_ptr<Warpixator> deformator;
  std::unique_ptr<MeshRasterizer> rasterizer;
  std::unique_ptr<DistortionMetrics> metrics;  // made on first use
  std::string type;                            // the module's Type

  /// The metrics, made on first use.
  DistortionMetrics& Metrics() {
    if (metrics == nullptr) metrics = std::make_unique<DistortionMetrics>(*deformator);
    return *metrics;
  }
};
