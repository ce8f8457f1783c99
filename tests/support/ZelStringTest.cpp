#include "support/ZelString.h"
#include "support/ZelStringList.h"
#include "TestCommon.h"

namespace {

using Strings = std::vector<std::string>;

Strings Texts(const ZelStringList& list) {
  Strings out;
  for (const ZelString& s : list) out.push_back(s.toStdString());
  return out;
}

TEST(ZelString, SplitDropsEmptyPiecesAndAdjacentSeparators) {
  const std::vector<std::tuple<const char*, const char*, Strings>> cases = {
      {"x,,y,", ",", {"x", "y"}},   {",,,", ",", {}},         {"a  b ", " ", {"a", "b"}},
      {"", " ", {}},                {" ", " ", {}},           {"a\tb c", " ", {"a\tb", "c"}},
      {"a--b----c", "--", {"a", "b", "c"}}};
  for (const auto& [text, separator, expected] : cases)
    EXPECT_EQ(Texts(ZelString(text).split(separator)), expected) << text;
}

// The documented scan, one erase and insert per occurrence.
std::string ScanReplace(std::string text, const std::string& before, const std::string& after) {
  for (size_t p = 0; p + before.size() <= text.size(); ++p) {
    if (text.compare(p, before.size(), before) == 0) text.replace(p, before.size(), after);
  }
  return text;
}

TEST(ZelString, SingleCharacterReplaceEqualsTheScan) {
  // Every text of up to six characters over a small alphabet, with each
  // character removed, replaced and kept: the one-pass route must give the
  // scan's result, the skipped character after a removal included.
  const std::string alphabet = "-:[a";
  std::vector<std::string> texts{""};
  for (size_t i = 0; texts[i].size() < 6; ++i)
    for (char c : alphabet) texts.push_back(texts[i] + c);
  for (const std::string& text : texts) {
    for (const char* before : {"-", ":", "["}) {
      for (const char* after : {"", " ", "-"}) {
        ZelString s(text);
        ASSERT_EQ(s.replace(before, after).toStdString(), ScanReplace(text, before, after))
            << "'" << text << "' '" << before << "' -> '" << after << "'";
      }
    }
  }
}

TEST(ZelString, NumbersUseSixSignificantDigits) {
  const std::pair<ZelString, const char*> cases[] = {
      {ZelString(0.1 + 0.2), "0.3"}, {ZelString(3.0), "3"}, {ZelString::number(1234567.0), "1.23457e+06"},
      {ZelString::number(0.0001), "0.0001"}, {ZelString::number(0.00001), "1e-05"}, {ZelString::number(1.0 / 3.0), "0.333333"},
      {ZelString::number(0.1f), "0.1"}, {ZelString("v=") + -12 + " " + 0.25 + ZelString(0L), "v=-12 0.250"}};
  for (const auto& [number, text] : cases) EXPECT_EQ(number, text);
  EXPECT_DEATH(ZelString(1.5, 2), "decimals==-1");
}

}  // namespace
