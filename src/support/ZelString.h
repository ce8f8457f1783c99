#pragma once

#include <fstream>
#include <string>

class ZelStringList;

/// The system's value-type byte string. Every name, key, file name and message
/// piece passes through it. Numbers become text with the default stream
/// formatting (six significant digits for doubles).
class ZelString {
 public:
  // === Construction and conversion
  ZelString();
  ZelString(const char* text);
  ZelString(const std::string& text);
  ZelString(const ZelString& other);
  explicit ZelString(int value);
  explicit ZelString(long value);
  /// The value as a default-formatted stream writes it ('0.5', '1.23457e+06').
  /// decimals must be -1 (fatal "decimals==-1" otherwise).
  explicit ZelString(double value, int decimals = -1);
  /// The whole rest of the stream (see readFromFile).
  explicit ZelString(std::ifstream& stream);

  static ZelString number(int value);
  static ZelString number(long value);
  static ZelString number(float value);
  static ZelString number(double value);

  const std::string& toStdString() const { return m_Data; }
  const char* c_str() const { return m_Data.c_str(); }
  int length() const { return static_cast<int>(m_Data.size()); }
  bool isEmpty() const { return m_Data.empty(); }

  // === Operators
  ZelString& operator=(const ZelString& other);
  ZelString& operator+=(const ZelString& other);
  ZelString& operator+=(char const* other);
  ZelString& operator+=(int value);
  ZelString& operator+=(float value);
  ZelString& operator+=(double value);
  ZelString operator+(const ZelString& other) const;
  ZelString operator+(char const* other) const;
  ZelString operator+(int value) const;
  ZelString operator+(float value) const;
  ZelString operator+(double value) const;
  bool operator==(const ZelString& other) const;
  bool operator==(char const* other) const;
  bool operator!=(const ZelString& other) const;
  bool operator!=(char const* other) const;
  bool operator<(const ZelString& other) const;

  // === Text operations
  /// Largest position of s, -1 when absent; an empty s gives length().
  int lastIndexOf(const ZelString& s) const;
  int lastIndexOf(char c) const;
  bool startsWith(const ZelString& prefix) const;
  bool startsWith(const char* prefix) const;
  bool endsWith(const ZelString& suffix) const;
  bool endsWith(const char* suffix) const;
  /// The rightmost n characters (0 <= n <= length()).
  ZelString left(int n) const;
  /// The characters start .. start + count - 1, each inside the string.
  ZelString mid(int start, int count) const;

  /// In-place replacement scanning left to right; the scan resumes one
  /// position after the start of each replacement, so of two adjacent
  /// occurrences replaced by "" only the first goes ('--x' -> '-x').
  ZelString& replace(const ZelString& before, const ZelString& after);
  ZelString& replace(const char* before, const ZelString& after);
  ZelString& replace(const ZelString& before, const char* after);
  ZelString& replace(const char* before, const char* after);

  /// The non-empty pieces between separators, in order.
  ZelStringList split(const ZelString& separator) const;
  ZelStringList split(const char* separator) const;

  /// Stream extraction of the longest number prefix; 0 and ok=false on failure.
  int toInt(bool* ok = nullptr) const;
  double toDouble(bool* ok = nullptr) const;

  /// One whitespace-delimited word.
  std::ifstream& readToken(std::ifstream& stream);
  /// One line without its newline; at most 9999 characters are kept, the rest
  /// of a longer line is skipped so the next call starts on the next line.
  std::ifstream& readLine(std::ifstream& stream);
  /// The same for any input stream (a script held in memory, for instance).
  std::istream& readLine(std::istream& stream);
  /// Everything up to the end of the stream, newlines included.
  std::ifstream& readFromFile(std::ifstream& stream);

 private:
  std::string m_Data;
};

ZelString operator+(char const* left, const ZelString& right);
std::ostream& operator<<(std::ostream& out, const ZelString& text);
