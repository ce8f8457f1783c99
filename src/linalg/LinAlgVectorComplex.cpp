#include "linalg/LinAlgVectorComplex.h"

#include <iostream>

#include "linalg/LinAlgLapack.h"
#include "support/WarpixAssert.h"

void PrintMatlabElement(const LinAlgComplex& z) {
  std::cout << z.m_fRe;
  if (z.m_fIm > 0)
    std::cout << "+" << z.m_fIm << "i";
  else if (z.m_fIm < 0)
    std::cout << z.m_fIm << "i";
  else if (z.m_fIm != z.m_fIm)  // NaN: show it rather than drop it
    std::cout << "+" << z.m_fIm << "i";
}

LinAlgVectorComplex::LinAlgVectorComplex(int m) : m(m), m_pData(nullptr) {
  WARPIX_ASSERT(m>0);
  m_pData = new LinAlgComplex[m + linalg_detail::kBlasReadSlack];
}

LinAlgVectorComplex::LinAlgVectorComplex(const LinAlgVectorComplex& other)
    : m(other.m), m_pData(new LinAlgComplex[other.m + linalg_detail::kBlasReadSlack]) {
  for (int i = 0; i < m; ++i) m_pData[i] = other.m_pData[i];
}

LinAlgVectorComplex::~LinAlgVectorComplex() { delete[] m_pData; }

LinAlgVectorComplex& LinAlgVectorComplex::operator=(const LinAlgVectorComplex& src) {
  if (this == &src) return *this;
  if (m != src.m) {
    delete[] m_pData;
    m = src.m;
    m_pData = new LinAlgComplex[m + linalg_detail::kBlasReadSlack];
  }
  for (int i = 0; i < m; ++i) m_pData[i] = src.m_pData[i];
  return *this;
}

LinAlgComplex& LinAlgVectorComplex::operator()(int i) {
  WARPIX_ASSERT(i<m && i>=0);
  return m_pData[i];
}

const LinAlgComplex& LinAlgVectorComplex::operator()(int i) const {
  WARPIX_ASSERT(i<m && i>=0);
  return m_pData[i];
}

LinAlgComplex LinAlgVectorComplex::GetValue(int i) const {
  WARPIX_ASSERT(i<m && i>=0);
  return m_pData[i];
}

void LinAlgVectorComplex::SetValue(int i, const LinAlgComplex& value) {
  WARPIX_ASSERT(i<m && i>=0);
  m_pData[i] = value;
}

void LinAlgVectorComplex::PrintMatlab() const {
  std::cout << "[ ";
  for (int i = 0; i < m; ++i) {
    if (i > 0) std::cout << ", ";
    PrintMatlabElement(m_pData[i]);
  }
  std::cout << "]" << std::flush;
}
