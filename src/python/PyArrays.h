#pragma once

// Conversions between numpy arrays and the program's pictures and point
// lists. Arrays hold pictures as uint8 H x W x C with row 0 at the top; the
// program's pictures keep row 0 at the bottom, which is y = 0 of the unit
// square (y runs upward).
#include <cstdint>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "image/R2Image.h"

namespace warpix_python {

/// The picture as uint8 H x W x 3 (grey repeated into red, green and blue)
/// or H x W x 4 (with alpha), row 0 at the top.
pybind11::array_t<std::uint8_t> ImageToArray(const R2Image& image);

/// A uint8 array H x W (grey) or H x W x C with C in 1..4 (grey, grey and
/// alpha, RGB, RGBA) as a picture of C components. TypeError for another
/// dtype, ValueError for another shape or an empty array.
R2Image ArrayToImage(const pybind11::handle& array);

/// Points as a flat x0, y0, x1, y1, ... list from an (n, 2) array (or one
/// point as (2,)) of finite numbers. ValueError, naming what, otherwise.
std::vector<double> PointsFromArray(const pybind11::handle& points, const char* what);

/// A flat x0, y0, ... list as a float64 (n, 2) array.
pybind11::array_t<double> PointsToArray(const std::vector<double>& flat);

}  // namespace warpix_python
