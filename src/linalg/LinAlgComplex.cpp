#include "linalg/LinAlgComplex.h"

#include <cmath>
#include <iostream>


LinAlgComplex& LinAlgComplex::operator=(double d) {
  m_fRe = d;
  m_fIm = 0.0;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator+=(const LinAlgComplex& b) {
  m_fRe += b.m_fRe;
  m_fIm += b.m_fIm;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator-=(const LinAlgComplex& b) {
  m_fRe -= b.m_fRe;
  m_fIm -= b.m_fIm;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator*=(const LinAlgComplex& b) {
  *this = *this * b;  // both parts from the operands before the update
  return *this;
}

LinAlgComplex& LinAlgComplex::operator/=(const LinAlgComplex& b) {
  *this = *this / b;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator+=(double d) {
  m_fRe += d;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator-=(double d) {
  m_fRe -= d;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator*=(double d) {
  m_fRe *= d;
  m_fIm *= d;
  return *this;
}

LinAlgComplex& LinAlgComplex::operator/=(double d) {
  m_fRe /= d;
  m_fIm /= d;
  return *this;
}

double LinAlgComplex::Power() const { return std::sqrt(m_fRe * m_fRe + m_fIm * m_fIm); }

double LinAlgComplex::Phase() const {
  double phase = std::atan(m_fIm / m_fRe);
  if (m_fRe < 0) phase += 3.14159265;
  return phase;
}

LinAlgComplex LinAlgComplex::Exp() const {
  const double scale = std::exp(m_fRe);
  return LinAlgComplex(scale * std::cos(m_fIm), scale * std::sin(m_fIm));
}

LinAlgComplex LinAlgComplex::RaiseToPow(double p) const {
  const double modulus = std::exp(p * std::log(Power()));
  const double theta = std::atan2(m_fIm, m_fRe);
  return LinAlgComplex(modulus * std::cos(p * theta), modulus * std::sin(p * theta));
}

LinAlgComplex LinAlgComplex::Sqrt() const {
  const double modulus = std::exp(0.5 * std::log(Power()));
  const double theta = std::atan2(m_fIm, m_fRe);
  return LinAlgComplex(modulus * std::cos(0.5 * theta), modulus * std::sin(0.5 * theta));
}

void LinAlgComplex::PrintComplex() const {
  std::cout << m_fRe;
  if (m_fIm >= 0)
    std::cout << "+" << m_fIm;
  else
    std::cout << "-" << std::fabs(m_fIm);
  std::cout << "i" << std::flush;
}

LinAlgComplex operator-(const LinAlgComplex& a) { return LinAlgComplex(-a.m_fRe, -a.m_fIm); }

LinAlgComplex operator+(const LinAlgComplex& a, double d) { return LinAlgComplex(a.m_fRe + d, a.m_fIm); }
LinAlgComplex operator+(double d, const LinAlgComplex& a) { return LinAlgComplex(d + a.m_fRe, a.m_fIm); }
LinAlgComplex operator-(const LinAlgComplex& a, double d) { return LinAlgComplex(a.m_fRe - d, a.m_fIm); }
LinAlgComplex operator-(double d, const LinAlgComplex& a) { return LinAlgComplex(d - a.m_fRe, -a.m_fIm); }
LinAlgComplex operator*(const LinAlgComplex& a, double d) { return LinAlgComplex(a.m_fRe * d, a.m_fIm * d); }
LinAlgComplex operator*(double d, const LinAlgComplex& a) { return LinAlgComplex(d * a.m_fRe, d * a.m_fIm); }
LinAlgComplex operator/(const LinAlgComplex& a, double d) { return LinAlgComplex(a.m_fRe / d, a.m_fIm / d); }
LinAlgComplex operator/(double d, const LinAlgComplex& a) { return linalg_detail::Divide(d, 0.0, a.m_fRe, a.m_fIm); }

bool operator==(const LinAlgComplex& a, const LinAlgComplex& b) {
  return a.m_fRe == b.m_fRe && a.m_fIm == b.m_fIm;
}

bool operator!=(const LinAlgComplex& a, const LinAlgComplex& b) { return !(a == b); }

bool operator==(const LinAlgComplex& a, double d) { return a.m_fRe == d && a.m_fIm == 0.0; }

bool operator!=(const LinAlgComplex& a, double d) { return !(a == d); }
