#pragma once

#include <vector>

class LinAlgMatrixReal;

/// Dense real vector. Elements are index-checked (fatal "i<m && i>=0").
class LinAlgVectorReal {
 public:
  // === Construction
  /// m elements, all set to value (m >= 0, fatal "m>=0").
  LinAlgVectorReal(int m, double value);
  /// A copy of the standard vector.
  explicit LinAlgVectorReal(const std::vector<double>& values);
  LinAlgVectorReal(const LinAlgVectorReal& other);
  virtual ~LinAlgVectorReal();

  /// Copies the first Rows() elements of src, which must have at least as
  /// many (fatal "src.m>=m"); nothing is reallocated.
  LinAlgVectorReal& operator=(const LinAlgVectorReal& src);

  // === Element access
  int Rows() const { return m; }
  double& operator()(int i);
  double operator()(int i) const;
  double GetValue(int i) const;
  void SetValue(int i, double value);

  // === Operations
  /// Every element multiplied by value, in place.
  void Multiply(double value);
  void SetAll(double value);
  /// Element-wise addition; sizes must agree (fatal "v2.m==m").
  void Add(const LinAlgVectorReal& v2);
  /// Sum of pow(v_i, p): no root, signs kept (p = 1 is the plain sum,
  /// p = 2 the squared length).
  double Norm(double p) const;
  std::vector<double> ToVector() const;

  // === Dumps and files
  /// "[ e0 e1 ... ]" to standard output, |e| < eps written as 0; no line end.
  void PrintMatlab(double eps) const;
  /// Text: every element followed by one blank. Fatal "textStream.is_open()"
  /// when the file cannot be created. Returns 1.
  int WriteVectorASCII(const char* fileName) const;
  /// Reads Rows() numbers. Returns 0 (vector unchanged) when the file does not
  /// open or holds fewer readable numbers, else 1.
  int ReadVectorASCII(const char* fileName);
  /// Binary: Rows() doubles in machine byte order. Fatal "file!=NULL" when the
  /// file cannot be created. Returns 1.
  int WriteVectorBin(const char* fileName) const;
  /// Returns 0 (vector unchanged) when the file does not open or is shorter
  /// than Rows() doubles, else 1.
  int ReadVectorBin(const char* fileName);

 private:
  friend class LinAlgMatrixReal;
  friend class LinAlgDenseLU;

  int m;
  double* m_pData;
};
