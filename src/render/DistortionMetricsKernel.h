#pragma once

// The per-face kernel of the distortion metrics, at the full vector width of
// the processor it runs on.
#include <cstddef>

#include "render/DistortionMetrics.h"

namespace warpix {

/// For each of the count faces: K (before clamping to at least 1; infinite or
/// not a number for a collapsed face) into k and det J into det, from the
/// current vertex positions in pixels px, py. The same operations as
/// DistortionMetrics::OfMatrix on the face's J, lane by lane.
void DistortionOfFaces(const DistortionRestFace* faces, size_t count, const double* px,
                       const double* py, double* k, double* det);

}  // namespace warpix
