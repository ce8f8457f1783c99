#include "shell/ZelString.h"
#include "shell/ZelStringList.h"
#include "TestCommon.h"

namespace {

std::vector<std::string> Texts(const ZelStringList& list) {
  std::vector<std::string> out;
  for (const ZelString& s : list) out.push_back(s.toStdString());
  return out;
}

using Strings = std::vector<std::string>;

TEST(ZelString, SplitDropsEmptyPiecesAndAdjacentSeparators) {
  EXPECT_EQ(Texts(ZelString("x,,y,").split(",")), (Strings{"x", "y"}));
  EXPECT_EQ(Texts(ZelString(",,,").split(",")), Strings{});
  EXPECT_EQ(Texts(ZelString("a  b ").split(" ")), (Strings{"a", "b"}));
  EXPECT_EQ(Texts(ZelString("").split(" ")), Strings{});
  EXPECT_EQ(Texts(ZelString(" ").split(" ")), Strings{});
  EXPECT_EQ(Texts(ZelString("a\tb c").split(" ")), (Strings{"a\tb", "c"}));
  // Multi-character separator: pieces between occurrences.
  EXPECT_EQ(Texts(ZelString("a--b----c").split("--")), (Strings{"a", "b", "c"}));
}

TEST(ZelString, ReplaceResumesOnePastEachReplacement) {
  ZelString lines("a\n\n\nb");
  EXPECT_EQ(lines.replace("\n", " "), "a   b");
  ZelString brackets("[[a");
  EXPECT_EQ(brackets.replace("[", ""), "[a");
  ZelString dashes("--x");
  EXPECT_EQ(dashes.replace("-", ""), "-x");
  ZelString longer("a.b.c");
  EXPECT_EQ(longer.replace(".", "::"), "a::b::c");
  ZelString none("abc");
  EXPECT_EQ(none.replace("z", "y"), "abc");
}

TEST(ZelString, ReplaceThatWouldNeverEndIsFatal) {
  EXPECT_DEATH(ZelString("a").replace("a", "aa"), "after.length\\(\\) <= beforeLength");
}

TEST(ZelString, NumbersUseSixSignificantDigits) {
  EXPECT_EQ(ZelString(0.1 + 0.2), "0.3");
  EXPECT_EQ(ZelString(0.5), "0.5");
  EXPECT_EQ(ZelString(3.0), "3");
  EXPECT_EQ(ZelString::number(1234567.0), "1.23457e+06");
  EXPECT_EQ(ZelString::number(123456.0), "123456");
  EXPECT_EQ(ZelString::number(1e-7), "1e-07");
  EXPECT_EQ(ZelString::number(0.0001), "0.0001");
  EXPECT_EQ(ZelString::number(0.00001), "1e-05");
  EXPECT_EQ(ZelString::number(1.0 / 3.0), "0.333333");
  EXPECT_EQ(ZelString::number(0.1f), "0.1");
  EXPECT_EQ(ZelString(-12), "-12");
  EXPECT_EQ(ZelString(0L), "0");
  EXPECT_EQ(ZelString("v=") + 2 + " " + 0.25, "v=2 0.25");
}

TEST(ZelString, DecimalsOtherThanDefaultIsFatal) {
  EXPECT_DEATH(ZelString(1.5, 2), "decimals==-1");
}

TEST(ZelString, ConversionsReportThroughOkFlag) {
  bool ok = false;
  EXPECT_EQ(ZelString("12abc").toInt(&ok), 12);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ZelString("2.5").toInt(&ok), 2);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ZelString(" -3").toInt(&ok), -3);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ZelString("abc").toInt(&ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ZelString("").toInt(&ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ZelString("99999999999").toInt(&ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_DOUBLE_EQ(ZelString("1e3").toDouble(&ok), 1000.0);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(ZelString("-0.25x").toDouble(&ok), -0.25);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ZelString("x1").toDouble(&ok), 0.0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(ZelString("7").toInt(), 7);  // the flag is optional
}

TEST(ZelString, SearchAndSlices) {
  EXPECT_EQ(ZelString("abab").lastIndexOf("ab"), 2);
  EXPECT_EQ(ZelString("a").lastIndexOf("ab"), -1);
  EXPECT_EQ(ZelString("abc").lastIndexOf(""), 3);
  EXPECT_EQ(ZelString("a.b.c").lastIndexOf('.'), 3);
  EXPECT_TRUE(ZelString("Viewer:").startsWith("Vie"));
  EXPECT_TRUE(ZelString("Viewer:").startsWith(""));
  EXPECT_FALSE(ZelString("V").startsWith("Vie"));
  EXPECT_TRUE(ZelString("Viewer:").endsWith(":"));
  EXPECT_TRUE(ZelString("x").endsWith(""));
  EXPECT_FALSE(ZelString("x").endsWith("xx"));
  EXPECT_EQ(ZelString("photo.jpg").left(3), "jpg");  // the rightmost characters
  EXPECT_EQ(ZelString("abcdef").mid(1, 3), "bcd");
  EXPECT_EQ(ZelString("abc").mid(3, 0), "");
  EXPECT_DEATH(ZelString("abc").mid(2, 2), "i<\\(int\\)m_Data.size\\(\\)");
  EXPECT_TRUE(ZelString("a") < ZelString("b"));
  EXPECT_TRUE(ZelString("B") < ZelString("a"));  // byte order
  EXPECT_TRUE(ZelString("x") != "y");
}

TEST(ZelString, StreamReading) {
  warpix_test::TempFile file("lines.txt");
  file.write("first line\n  two words  \nlast");
  std::ifstream in(file.path());
  ZelString line;
  line.readLine(in);
  EXPECT_EQ(line, "first line");
  line.readToken(in);
  EXPECT_EQ(line, "two");
  line.readLine(in);
  EXPECT_EQ(line, " words  ");
  line.readLine(in);
  EXPECT_EQ(line, "last");  // no final newline
  EXPECT_TRUE(in.eof());

  std::ifstream again(file.path());
  EXPECT_EQ(ZelString(again), "first line\n  two words  \nlast");
}

TEST(ZelString, OverlongLineKeepsItsStartAndSkipsTheRest) {
  warpix_test::TempFile file("long.txt");
  file.write(std::string(12000, 'x') + "\nnext\n");
  std::ifstream in(file.path());
  ZelString line;
  line.readLine(in);
  EXPECT_EQ(line.length(), 9999);
  line.readLine(in);
  EXPECT_EQ(line, "next");
}

TEST(ZelStringList, RemoveJoinContains) {
  ZelStringList list;
  EXPECT_EQ(list.join(", "), "");
  list.push_back("a");
  EXPECT_EQ(list.join(", "), "a");
  list.push_back("b");
  list.push_back("b");
  list.remove(ZelString("b"));
  EXPECT_EQ(Texts(list), (Strings{"a", "b"}));
  list.remove(ZelString("zz"));
  EXPECT_EQ(list.count(), 2);
  EXPECT_TRUE(list.contains("b"));
  EXPECT_FALSE(list.contains("c"));
  EXPECT_EQ(list.join(", "), "a, b");
  ZelStringList copy = list;
  copy[0] = "z";
  EXPECT_EQ(list[0], "a");  // deep copy
  list.remove(0);
  EXPECT_EQ(Texts(list), Strings{"b"});
  EXPECT_DEATH(list.remove(1), "elementID<\\(int\\)m_Data.size\\(\\) && elementID>=0");
  EXPECT_DEATH(list.remove(-1), "elementID");
}

}  // namespace
