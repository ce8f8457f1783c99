#pragma once

#include <map>
#include <vector>

#include "support/ZelString.h"
#include "support/ZelStringList.h"

/// The run's configuration: module -> key -> list of text values, read from
/// the parameter file and then from command-line override tokens.
class ParamParser {
 public:
  /// Reads fileName and then the override tokens, in order. A missing file
  /// with no overrides and a key as the very last token are fatal.
  ParamParser(const ZelString& fileName, char const** overrides, int overrideCount);

  // === Typed look-ups; valid is always set. A key with an empty list counts as
  // missing for the single-value getters.
  ZelString GetStrValue(const ZelString& module, const ZelString& key, bool& valid) const;
  const ZelStringList& GetStrValues(const ZelString& module, const ZelString& key,
                                    bool& valid) const;
  int GetIntValue(const ZelString& module, const ZelString& key, bool& valid) const;
  double GetDoubleValue(const ZelString& module, const ZelString& key, bool& valid) const;
  /// Every value converted; a failed conversion stores 0 and clears valid.
  std::vector<int> GetIntValues(const ZelString& module, const ZelString& key,
                                bool& valid) const;
  std::vector<double> GetDoubleValues(const ZelString& module, const ZelString& key,
                                      bool& valid) const;

  /// Writes the table to standard output, modules and keys in ascending order.
  void PrintParams() const;
  /// Writes the table to fileName in the parameter-file grammar (fatal when
  /// the file cannot be opened).
  void WriteParams(const ZelString& fileName) const;

 private:
  using KeyTable = std::map<ZelString, ZelStringList>;
  const ZelStringList* Find(const ZelString& module, const ZelString& key) const;

  std::map<ZelString, KeyTable> m_Params;
  ZelStringList m_EmptyList;
};
