#include "shell/RandomCases.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>
#include <vector>

namespace {

// SplitMix64: a fixed definition, so every standard library gives the same stream.
struct SplitMix64 {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // A double in [0, 1) from the top 53 bits.
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
};

}  // namespace

void RandomCases::Write(std::ostream& out, long long count, uint64_t seed, double move) {
  SplitMix64 random{seed};
  if (!(move >= 0.0)) move = 0.0;
  char text[64];
  for (long long index = 0; index < count; ++index) {
    const int n = 4 + static_cast<int>(random.Next() % 13);
    std::vector<double> orig, target;
    for (int tries = 0; static_cast<int>(orig.size()) < 2 * n && tries < 10000; ++tries) {
      const double x = 0.1 + 0.8 * random.Unit(), y = 0.1 + 0.8 * random.Unit();
      bool spread = true;
      for (size_t k = 0; spread && k < orig.size(); k += 2) {
        const double dx = orig[k] - x, dy = orig[k + 1] - y;
        spread = dx * dx + dy * dy >= kMinSpacing * kMinSpacing;
      }
      if (!spread) continue;
      // A displacement uniform in the disc of radius move (by rejection).
      double dx = 0.0, dy = 0.0;
      for (int t = 0; t < 64; ++t) {
        dx = move * (2.0 * random.Unit() - 1.0);
        dy = move * (2.0 * random.Unit() - 1.0);
        if (dx * dx + dy * dy <= move * move) break;
        dx = dy = 0.0;
      }
      orig.push_back(x);
      orig.push_back(y);
      target.push_back(std::clamp(x + dx, 0.01, 0.99));
      target.push_back(std::clamp(y + dy, 0.01, 0.99));
    }
    std::snprintf(text, sizeof(text), "{\"case\": \"s%llu-%06lld\"",
                  static_cast<unsigned long long>(seed), index);
    out << text;
    for (const auto& [key, points] : {std::pair<const char*, const std::vector<double>*>{"orig", &orig},
                                      {"target", &target}}) {
      out << ", \"" << key << "\": [";
      for (size_t k = 0; k < points->size(); k += 2) {
        std::snprintf(text, sizeof(text), "%s[%.6f, %.6f]", k == 0 ? "" : ", ", (*points)[k],
                      (*points)[k + 1]);
        out << text;
      }
      out << "]";
    }
    out << "}\n";
  }
}
