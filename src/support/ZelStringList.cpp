#include "support/ZelStringList.h"

#include "support/WarpixAssert.h"

bool ZelStringList::contains(const ZelString& text) const {
  for (const ZelString& element : m_Data)
    if (element == text) return true;
  return false;
}

void ZelStringList::remove(int elementID) {
  WARPIX_ASSERT(elementID<(int)m_Data.size() && elementID>=0);
  m_Data.erase(m_Data.begin() + elementID);
}

void ZelStringList::remove(const ZelString& text) {
  for (int i = 0; i < count(); ++i) {
    if (m_Data[i] == text) {
      m_Data.erase(m_Data.begin() + i);
      return;
    }
  }
}

ZelString ZelStringList::join(const ZelString& sep) const {
  ZelString result;
  for (int i = 0; i < count(); ++i) {
    if (i > 0) result += sep;
    result += m_Data[i];
  }
  return result;
}
