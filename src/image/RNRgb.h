#pragma once

// A colour as three doubles, red, green and blue. Intensities run from 0 to 1
// by convention (the image class maps 1 to the byte 255); nothing clamps them.
class RNRgb {
 public:
  // === Constructors
  /// Leaves the three components unset.
  RNRgb() {}
  constexpr RNRgb(double red, double green, double blue) : m_aRgb{red, green, blue} {}
  /// Copies three values from rgb[0..2].
  explicit RNRgb(const double* rgb) : m_aRgb{rgb[0], rgb[1], rgb[2]} {}
  constexpr RNRgb(const RNRgb&) = default;
  RNRgb& operator=(const RNRgb&) = default;

  // === Accessors
  constexpr double R() const { return m_aRgb[0]; }
  constexpr double G() const { return m_aRgb[1]; }
  constexpr double B() const { return m_aRgb[2]; }
  constexpr double Red() const { return m_aRgb[0]; }
  constexpr double Green() const { return m_aRgb[1]; }
  constexpr double Blue() const { return m_aRgb[2]; }
  /// Component i (0 red, 1 green, 2 blue); i must be 0, 1 or 2.
  constexpr double operator[](int i) const { return m_aRgb[i]; }

  // === Comparison: exact, all three components (a NaN compares unequal)
  bool operator==(const RNRgb& other) const;
  bool operator!=(const RNRgb& other) const;

  // === Arithmetic in place, component by component; each returns the target
  RNRgb& operator+=(const RNRgb& other);
  RNRgb& operator-=(const RNRgb& other);
  RNRgb& operator*=(const RNRgb& other);
  RNRgb& operator*=(double scale);
  RNRgb& operator/=(double divisor);

 private:
  double m_aRgb[3];
};

// Named colours.
inline constexpr RNRgb RNnull_rgb(0.0, 0.0, 0.0);
inline constexpr RNRgb RNblack_rgb(0.0, 0.0, 0.0);
inline constexpr RNRgb RNred_rgb(1.0, 0.0, 0.0);
inline constexpr RNRgb RNgreen_rgb(0.0, 1.0, 0.0);
inline constexpr RNRgb RNblue_rgb(0.0, 0.0, 1.0);
inline constexpr RNRgb RNyellow_rgb(1.0, 1.0, 0.0);
inline constexpr RNRgb RNcyan_rgb(0.0, 1.0, 1.0);
inline constexpr RNRgb RNmagenta_rgb(1.0, 0.0, 1.0);
inline constexpr RNRgb RNwhite_rgb(1.0, 1.0, 1.0);
