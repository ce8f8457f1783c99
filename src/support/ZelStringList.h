#pragma once

#include <vector>

#include "support/ZelString.h"

/// Ordered list of strings in insertion order; duplicates allowed.
class ZelStringList {
 public:
  ZelStringList() = default;

  int count() const { return static_cast<int>(m_Data.size()); }
  /// Element i; 0 <= i < count() is the caller's limit.
  ZelString& operator[](int i) { return m_Data[i]; }
  const ZelString& operator[](int i) const { return m_Data[i]; }
  void push_back(const ZelString& text) { m_Data.push_back(text); }
  void clear() { m_Data.clear(); }
  bool contains(const ZelString& text) const;
  /// Removes element elementID (fatal when out of range).
  void remove(int elementID);
  /// Removes the first element equal to text, if any.
  void remove(const ZelString& text);
  /// The elements with sep between consecutive ones; "" for an empty list.
  ZelString join(const ZelString& sep) const;

  std::vector<ZelString>::const_iterator begin() const { return m_Data.begin(); }
  std::vector<ZelString>::const_iterator end() const { return m_Data.end(); }

 private:
  std::vector<ZelString> m_Data;
};
