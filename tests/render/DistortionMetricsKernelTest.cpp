#include "render/DistortionMetricsKernel.h"

#include <cstring>
#include <random>
#include <vector>

#include "TestCommon.h"

namespace {

using warpix_test::SameBits;

// Every target measures every face exactly as the one-face loop does, for
// face counts leaving every remainder, collapsed and folded faces among them.
TEST(DistortionKernel, EveryTargetEqualsTheOneFaceLoopBitForBit) {
  std::mt19937 gen(13);
  std::uniform_real_distribution<double> u(0.0, 50.0), inv(-0.5, 0.5);
  const int vertices = 40;
  std::vector<double> px(vertices), py(vertices);
  for (int v = 0; v < vertices; ++v) px[v] = u(gen), py[v] = u(gen);
  px[7] = px[3], py[7] = py[3];  // two corners on one point
  for (size_t count = 1; count <= 19; ++count) {
    std::vector<DistortionRestFace> faces(count);
    for (size_t f = 0; f < count; ++f) {
      faces[f] = {static_cast<int>(gen() % vertices), static_cast<int>(gen() % vertices), static_cast<int>(gen() % vertices),
                  inv(gen), inv(gen), inv(gen), inv(gen), 1.0, false};
    }
    faces[0].m_iV1 = 3, faces[0].m_iV2 = 7;  // a collapsed face
    std::vector<double> refK(count), refDet(count);
    for (size_t f = 0; f < count; ++f) warpix::DistortionOfFaces(&faces[f], 1, px.data(), py.data(), &refK[f], &refDet[f]);
    warpix_test::ForEveryTarget([&](const char* name) {
      std::vector<double> k(count), det(count);
      warpix::DistortionOfFaces(faces.data(), count, px.data(), py.data(), k.data(), det.data());
      for (size_t f = 0; f < count; ++f) {
        ASSERT_TRUE(SameBits(k[f], refK[f]) && SameBits(det[f], refDet[f])) << name << " count " << count << " face " << f;
      }
    });
  }
}

}  // namespace
