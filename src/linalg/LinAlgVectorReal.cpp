#include "linalg/LinAlgVectorReal.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "support/WarpixAssert.h"

LinAlgVectorReal::LinAlgVectorReal(int m, double value) : m(m), m_pData(nullptr) {
  WARPIX_ASSERT(m>=0);
  m_pData = new double[m > 0 ? m : 1];
  for (int i = 0; i < m; ++i) m_pData[i] = value;
}

LinAlgVectorReal::LinAlgVectorReal(const std::vector<double>& values)
    : m(static_cast<int>(values.size())), m_pData(new double[values.empty() ? 1 : values.size()]) {
  for (int i = 0; i < m; ++i) m_pData[i] = values[i];
}

LinAlgVectorReal::LinAlgVectorReal(const LinAlgVectorReal& other)
    : m(other.m), m_pData(new double[other.m > 0 ? other.m : 1]) {
  for (int i = 0; i < m; ++i) m_pData[i] = other.m_pData[i];
}

LinAlgVectorReal::~LinAlgVectorReal() { delete[] m_pData; }

LinAlgVectorReal& LinAlgVectorReal::operator=(const LinAlgVectorReal& src) {
  // Reading past the end of a shorter source would be undefined: refuse it.
  WARPIX_ASSERT(src.m>=m);
  for (int i = 0; i < m; ++i) m_pData[i] = src.m_pData[i];
  return *this;
}

double& LinAlgVectorReal::operator()(int i) {
  WARPIX_ASSERT(i<m && i>=0);
  return m_pData[i];
}

double LinAlgVectorReal::operator()(int i) const {
  WARPIX_ASSERT(i<m && i>=0);
  return m_pData[i];
}

double LinAlgVectorReal::GetValue(int i) const {
  WARPIX_ASSERT(i<m && i>=0);
  return m_pData[i];
}

void LinAlgVectorReal::SetValue(int i, double value) {
  WARPIX_ASSERT(i<m && i>=0);
  m_pData[i] = value;
}

void LinAlgVectorReal::Multiply(double value) {
  for (int i = 0; i < m; ++i) m_pData[i] *= value;
}

void LinAlgVectorReal::SetAll(double value) {
  for (int i = 0; i < m; ++i) m_pData[i] = value;
}

void LinAlgVectorReal::Add(const LinAlgVectorReal& v2) {
  WARPIX_ASSERT(v2.m==m);
  for (int i = 0; i < m; ++i) m_pData[i] += v2.m_pData[i];
}

double LinAlgVectorReal::Norm(double p) const {
  double sum = 0.0;
  for (int i = 0; i < m; ++i) sum += std::pow(m_pData[i], p);
  return sum;
}

std::vector<double> LinAlgVectorReal::ToVector() const { return std::vector<double>(m_pData, m_pData + m); }

void LinAlgVectorReal::PrintMatlab(double eps) const {
  std::cout << "[ ";
  for (int i = 0; i < m; ++i) {
    if (std::fabs(m_pData[i]) < eps)
      std::cout << 0 << " ";
    else
      std::cout << m_pData[i] << " ";
  }
  std::cout << "]" << std::flush;
}

int LinAlgVectorReal::WriteVectorASCII(const char* fileName) const {
  std::ofstream textStream(fileName, std::ios::out | std::ios::trunc);
  WARPIX_ASSERT(textStream.is_open());
  for (int i = 0; i < m; ++i) textStream << m_pData[i] << " ";
  return 1;
}

int LinAlgVectorReal::ReadVectorASCII(const char* fileName) {
  std::ifstream textStream(fileName);
  if (!textStream.is_open()) return 0;
  std::vector<double> values(m);
  for (int i = 0; i < m; ++i) {
    if (!(textStream >> values[i])) return 0;
  }
  for (int i = 0; i < m; ++i) m_pData[i] = values[i];
  return 1;
}

int LinAlgVectorReal::WriteVectorBin(const char* fileName) const {
  FILE* file = std::fopen(fileName, "wb");
  WARPIX_ASSERT(file!=NULL);
  std::fwrite(m_pData, sizeof(double), m, file);
  std::fclose(file);
  return 1;
}

int LinAlgVectorReal::ReadVectorBin(const char* fileName) {
  FILE* file = std::fopen(fileName, "rb");
  if (file == NULL) return 0;
  std::vector<double> values(m);
  const size_t count = std::fread(values.data(), sizeof(double), m, file);
  std::fclose(file);
  if (count != static_cast<size_t>(m)) return 0;
  for (int i = 0; i < m; ++i) m_pData[i] = values[i];
  return 1;
}
