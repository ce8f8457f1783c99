#pragma once

#include "linalg/LinAlgComplex.h"

class LinAlgMatrixComplex;

/// Writes one element of a Matlab-style dump to standard output: "re",
/// "re+imi" or "re-imi" (the minus sign is the number's own); a NaN
/// imaginary part is shown as "+nani" rather than dropped.
void PrintMatlabElement(const LinAlgComplex& z);

/// Dense complex vector, all elements 0 + 0i at construction. Elements are
/// index-checked (fatal "i<m && i>=0").
class LinAlgVectorComplex {
 public:
  /// m >= 1 elements (fatal "m>0").
  explicit LinAlgVectorComplex(int m);
  LinAlgVectorComplex(const LinAlgVectorComplex& other);
  virtual ~LinAlgVectorComplex();
  /// Takes the length and the elements of src.
  LinAlgVectorComplex& operator=(const LinAlgVectorComplex& src);

  int Rows() const { return m; }
  LinAlgComplex& operator()(int i);
  const LinAlgComplex& operator()(int i) const;
  LinAlgComplex GetValue(int i) const;
  void SetValue(int i, const LinAlgComplex& value);

  /// "[ a, b, c]" to standard output (elements as "re+imi"/"re-imi"/"re"),
  /// no line end.
  void PrintMatlab() const;

 private:
  friend class LinAlgMatrixComplex;

  int m;
  LinAlgComplex* m_pData;
};
