#pragma once

// Seeded random cases for a sweep, in the JSON Lines format that
// SweepCaseReader reads.
#include <cstdint>
#include <iosfwd>

/// Writes seeded random cases: the same bytes for the same arguments on any
/// machine (a 64-bit generator of fixed definition, doubles made from its
/// raw output, points printed with six decimals).
class RandomCases {
 public:
  /// count cases named "s<seed>-<index>", each of 4 to 16 originals in
  /// [0.1, 0.9]^2 at least kMinSpacing apart, every target moved from its
  /// original by a random vector of length at most move (a fraction of the
  /// unit square's side) and kept inside [0.01, 0.99]^2.
  static void Write(std::ostream& out, long long count, uint64_t seed, double move);
  /// Smallest distance between two originals of a case (default: 0.1).
  static constexpr double kMinSpacing = 0.1;
};
