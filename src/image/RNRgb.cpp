#include "image/RNRgb.h"

bool RNRgb::operator==(const RNRgb& other) const {
  return m_aRgb[0] == other.m_aRgb[0] && m_aRgb[1] == other.m_aRgb[1] &&
         m_aRgb[2] == other.m_aRgb[2];
}

bool RNRgb::operator!=(const RNRgb& other) const { return !(*this == other); }

RNRgb& RNRgb::operator+=(const RNRgb& other) {
  for (int i = 0; i < 3; ++i) m_aRgb[i] += other.m_aRgb[i];
  return *this;
}

RNRgb& RNRgb::operator-=(const RNRgb& other) {
  for (int i = 0; i < 3; ++i) m_aRgb[i] -= other.m_aRgb[i];
  return *this;
}

RNRgb& RNRgb::operator*=(const RNRgb& other) {
  for (int i = 0; i < 3; ++i) m_aRgb[i] *= other.m_aRgb[i];
  return *this;
}

RNRgb& RNRgb::operator*=(double scale) {
  for (int i = 0; i < 3; ++i) m_aRgb[i] *= scale;
  return *this;
}

RNRgb& RNRgb::operator/=(double divisor) {
  for (int i = 0; i < 3; ++i) m_aRgb[i] /= divisor;
  return *this;
}
