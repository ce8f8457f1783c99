#include "support/ZelString.h"

#include <limits>
#include <sstream>

#include "support/ZelStringList.h"
#include "support/WarpixAssert.h"

namespace {

// Line buffer of readLine: one per process, allocated at start and never freed.
constexpr int kLineBufferSize = 10000;
char* const m_pTempBuffer = new char[kLineBufferSize];

template <typename T>
std::string StreamText(T value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Formatted extraction of a number prefix; 0 and false on failure.
template <typename T>
T ExtractNumber(const std::string& text, bool* ok) {
  std::istringstream in(text);
  T value = 0;
  in >> value;
  const bool good = !in.fail();
  if (ok) *ok = good;
  return good ? value : T(0);
}

}  // namespace

ZelString::ZelString() = default;
ZelString::ZelString(const char* text) : m_Data(text ? text : "") {}
ZelString::ZelString(const std::string& text) : m_Data(text) {}
ZelString::ZelString(const ZelString& other) = default;
ZelString::ZelString(int value) : m_Data(StreamText(value)) {}
ZelString::ZelString(long value) : m_Data(StreamText(value)) {}

ZelString::ZelString(double value, int decimals) {
  WARPIX_ASSERT(decimals==-1);
  m_Data = StreamText(value);
}

ZelString::ZelString(std::ifstream& stream) { readFromFile(stream); }

ZelString ZelString::number(int value) { return ZelString(value); }
ZelString ZelString::number(long value) { return ZelString(value); }
ZelString ZelString::number(float value) { return ZelString(static_cast<double>(value)); }
ZelString ZelString::number(double value) { return ZelString(value); }

ZelString& ZelString::operator=(const ZelString& other) = default;

ZelString& ZelString::operator+=(const ZelString& other) {
  m_Data += other.m_Data;
  return *this;
}
ZelString& ZelString::operator+=(char const* other) { return *this += ZelString(other); }
ZelString& ZelString::operator+=(int value) { return *this += ZelString(value); }
ZelString& ZelString::operator+=(float value) { return *this += number(value); }
ZelString& ZelString::operator+=(double value) { return *this += ZelString(value); }

ZelString ZelString::operator+(const ZelString& other) const {
  ZelString result(*this);
  result += other;
  return result;
}
ZelString ZelString::operator+(char const* other) const { return *this + ZelString(other); }
ZelString ZelString::operator+(int value) const { return *this + ZelString(value); }
ZelString ZelString::operator+(float value) const { return *this + number(value); }
ZelString ZelString::operator+(double value) const { return *this + ZelString(value); }

bool ZelString::operator==(const ZelString& other) const { return m_Data == other.m_Data; }
bool ZelString::operator==(char const* other) const { return *this == ZelString(other); }
bool ZelString::operator!=(const ZelString& other) const { return !(*this == other); }
bool ZelString::operator!=(char const* other) const { return !(*this == other); }
bool ZelString::operator<(const ZelString& other) const { return m_Data < other.m_Data; }

int ZelString::lastIndexOf(const ZelString& s) const {
  const std::string::size_type pos = m_Data.rfind(s.m_Data);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int ZelString::lastIndexOf(char c) const { return lastIndexOf(ZelString(std::string(1, c))); }

bool ZelString::startsWith(const ZelString& prefix) const {
  return m_Data.compare(0, prefix.m_Data.size(), prefix.m_Data) == 0 &&
         prefix.m_Data.size() <= m_Data.size();
}
bool ZelString::startsWith(const char* prefix) const { return startsWith(ZelString(prefix)); }

bool ZelString::endsWith(const ZelString& suffix) const {
  if (suffix.m_Data.size() > m_Data.size()) return false;
  return m_Data.compare(m_Data.size() - suffix.m_Data.size(), suffix.m_Data.size(),
                        suffix.m_Data) == 0;
}
bool ZelString::endsWith(const char* suffix) const { return endsWith(ZelString(suffix)); }

ZelString ZelString::left(int n) const {
  WARPIX_ASSERT(n>=0 && n<=length());
  return ZelString(m_Data.substr(m_Data.size() - n));
}

ZelString ZelString::mid(int start, int count) const {
  std::string out;
  for (int i = start; i < start + count; ++i) {
    WARPIX_ASSERT(i>=0);
    WARPIX_ASSERT(i<(int)m_Data.size());
    out += m_Data[i];
  }
  return ZelString(out);
}

ZelString& ZelString::replace(const ZelString& before, const ZelString& after) {
  const int beforeLength = before.length();
  // A longer replacement that contains the searched text would be found again
  // one position later, forever.
  WARPIX_ASSERT(after.length() <= beforeLength ||
                after.m_Data.find(before.m_Data) == std::string::npos);
  // One character by at most one: the scan below in one pass, since each
  // erase and insert there moves the whole rest of the text (a parameter
  // file of many lines or a long token would take quadratic time). Replaced
  // by one character, every occurrence goes; removed, the character that
  // moves up into its place is not tested (the scan resumes after it).
  if (beforeLength == 1 && after.length() <= 1) {
    const char searched = before.m_Data[0];
    if (after.length() == 1) {
      for (char& c : m_Data)
        if (c == searched) c = after.m_Data[0];
      return *this;
    }
    std::string kept;
    kept.reserve(m_Data.size());
    bool test = true;
    for (const char c : m_Data) {
      if (test && c == searched) {
        test = false;
      } else {
        kept += c;
        test = true;
      }
    }
    m_Data.swap(kept);
    return *this;
  }
  for (int p = 0; p <= length() - beforeLength; ++p) {
    if (beforeLength == 0 || m_Data.compare(p, beforeLength, before.m_Data) == 0) {
      m_Data.erase(p, beforeLength);
      m_Data.insert(p, after.m_Data);
    }
  }
  return *this;
}
ZelString& ZelString::replace(const char* before, const ZelString& after) {
  return replace(ZelString(before), after);
}
ZelString& ZelString::replace(const ZelString& before, const char* after) {
  return replace(before, ZelString(after));
}
ZelString& ZelString::replace(const char* before, const char* after) {
  return replace(ZelString(before), ZelString(after));
}

ZelStringList ZelString::split(const ZelString& separator) const {
  const int sepLength = separator.length();
  ZelStringList pieces;
  int start = 0;
  int p = 0;
  while (p <= length() - sepLength) {
    if (m_Data.compare(p, sepLength, separator.m_Data) == 0) {
      if (p - start > 0) pieces.push_back(ZelString(m_Data.substr(start, p - start)));
      start = p + sepLength;
      // The character right after a separator is not tested as the start of
      // another separator.
      p = start + 1;
    } else {
      ++p;
    }
  }
  if (length() - start > 0) pieces.push_back(ZelString(m_Data.substr(start)));

  ZelStringList result;
  for (int i = 0; i < pieces.count(); ++i) {
    pieces[i].replace(separator, "");
    if (!pieces[i].isEmpty()) result.push_back(pieces[i]);
  }
  return result;
}

ZelStringList ZelString::split(const char* separator) const {
  return split(ZelString(separator));
}

int ZelString::toInt(bool* ok) const { return ExtractNumber<int>(m_Data, ok); }
double ZelString::toDouble(bool* ok) const { return ExtractNumber<double>(m_Data, ok); }

std::ifstream& ZelString::readToken(std::ifstream& stream) {
  m_Data.clear();
  stream >> m_Data;
  return stream;
}

std::ifstream& ZelString::readLine(std::ifstream& stream) {
  readLine(static_cast<std::istream&>(stream));
  return stream;
}

std::istream& ZelString::readLine(std::istream& stream) {
  m_pTempBuffer[0] = '\0';
  stream.getline(m_pTempBuffer, kLineBufferSize);
  m_Data = m_pTempBuffer;
  // A line longer than the buffer sets failbit with characters still read:
  // keep what was read and skip the rest of that line.
  if (stream.fail() && !stream.eof() && !m_Data.empty()) {
    stream.clear();
    stream.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return stream;
}

std::ifstream& ZelString::readFromFile(std::ifstream& stream) {
  m_Data.clear();
  char c;
  while (stream.get(c)) m_Data += c;
  return stream;
}

ZelString operator+(char const* left, const ZelString& right) {
  return ZelString(left) + right;
}

std::ostream& operator<<(std::ostream& out, const ZelString& text) {
  return out << text.toStdString();
}
