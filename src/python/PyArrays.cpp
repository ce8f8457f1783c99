#include "python/PyArrays.h"

#include <cmath>
#include <cstring>
#include <string>

namespace py = pybind11;

namespace warpix_python {

py::array_t<std::uint8_t> ImageToArray(const R2Image& image) {
  const int width = image.Width(), height = image.Height(), components = image.NComponents();
  const int channels = components == 2 || components == 4 ? 4 : 3;
  py::array_t<std::uint8_t> array({height, width, channels});
  std::uint8_t* out = array.mutable_data();
  const unsigned char* pixels = image.Pixels();
  for (int row = 0; row < height; ++row) {
    // Array row 0 is the picture's top row, its last row.
    const unsigned char* in = pixels + static_cast<size_t>(height - 1 - row) * image.RowSize();
    std::uint8_t* line = out + static_cast<size_t>(row) * width * channels;
    if (components == channels) {
      std::memcpy(line, in, static_cast<size_t>(width) * channels);
      continue;
    }
    // Grey (and alpha): the grey repeated into red, green and blue.
    for (int x = 0; x < width; ++x) {
      const unsigned char* pixel = in + static_cast<size_t>(x) * components;
      std::uint8_t* target = line + static_cast<size_t>(x) * channels;
      target[0] = target[1] = target[2] = pixel[0];
      if (channels == 4) target[3] = pixel[1];
    }
  }
  return array;
}

R2Image ArrayToImage(const py::handle& object) {
  py::array array = py::array::ensure(object);
  if (!array) throw py::type_error("a picture must be a numpy array of uint8");
  if (!array.dtype().is(py::dtype::of<std::uint8_t>())) {
    throw py::type_error("a picture must be an array of uint8, not " +
                         std::string(py::str(array.dtype())));
  }
  const py::ssize_t ndim = array.ndim();
  const py::ssize_t components = ndim == 2 ? 1 : ndim == 3 ? array.shape(2) : 0;
  if (components < 1 || components > 4) {
    throw py::value_error("a picture must have shape (H, W) or (H, W, C) with C in 1..4");
  }
  const py::ssize_t height = array.shape(0), width = array.shape(1);
  if (height < 1 || width < 1 || height > (1 << 20) || width > (1 << 20)) {
    throw py::value_error("a picture must have 1 to 1048576 rows and columns");
  }
  auto contiguous = py::array_t<std::uint8_t, py::array::c_style>::ensure(array);
  R2Image image;
  if (!image.Allocate(static_cast<int>(width), static_cast<int>(height),
                      static_cast<int>(components))) {
    throw py::value_error("the picture is larger than the program's size limit");
  }
  const size_t rowBytes = static_cast<size_t>(width) * components;
  for (py::ssize_t row = 0; row < height; ++row) {
    std::memcpy(image.Pixels() + static_cast<size_t>(height - 1 - row) * image.RowSize(),
                contiguous.data() + static_cast<size_t>(row) * rowBytes, rowBytes);
  }
  return image;
}

std::vector<double> PointsFromArray(const py::handle& object, const char* what) {
  auto array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(object);
  if (!array) throw py::value_error(std::string(what) + " must be an (n, 2) array of numbers");
  const bool single = array.ndim() == 1 && array.shape(0) == 2;
  if (!single && !(array.ndim() == 2 && array.shape(1) == 2)) {
    throw py::value_error(std::string(what) + " must be an (n, 2) array of numbers");
  }
  std::vector<double> flat(array.data(), array.data() + array.size());
  for (double value : flat) {
    if (!std::isfinite(value)) {
      throw py::value_error(std::string(what) + " must be finite numbers");
    }
  }
  return flat;
}

py::array_t<double> PointsToArray(const std::vector<double>& flat) {
  const py::ssize_t count = static_cast<py::ssize_t>(flat.size() / 2);
  py::array_t<double> array({count, py::ssize_t(2)});
  if (count > 0) std::memcpy(array.mutable_data(), flat.data(), 2 * count * sizeof(double));
  return array;
}

}  // namespace warpix_python
