#include "shell/ParamParser.h"
#include "TestCommon.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::TempFile;
using Strings = std::vector<std::string>;

Strings Values(const ParamParser& p, const char* module, const char* key, bool* validOut = nullptr) {
  bool valid = false;
  Strings out;
  for (const ZelString& s : p.GetStrValues(module, key, valid)) out.push_back(s.toStdString());
  if (validOut) *validOut = valid;
  return out;
}

ParamParser Parse(const TempFile& file, const std::string& text,
                  std::vector<const char*> overrides = {}) {
  file.write(text);
  return ParamParser(file.c_str(), overrides.data(), static_cast<int>(overrides.size()));
}

TEST(ParamParser, ModulesHeadersAndLists) {
  TempFile file("modules.params");
  ParamParser p = Parse(file,
                        "Top 1\n"
                        "General:\n\tColsRows [ 3 4 ]\nImage a.jpg\n"
                        "-Viewer\nA [3 4]\n-Viewer:\nB [ 3 4]\nViewer:\nC [7]\n"
                        "--Mod\nK -5\nPath C:\n");
  EXPECT_EQ(Values(p, "General", "Top"), Strings{"1"});  // before any header
  EXPECT_EQ(Values(p, "General", "ColsRows"), (Strings{"3", "4"}));
  EXPECT_EQ(Values(p, "General", "Image"), Strings{"a.jpg"});
  EXPECT_EQ(Values(p, "Viewer", "A"), (Strings{"3", "4"}));
  EXPECT_EQ(Values(p, "Viewer", "B"), (Strings{"3", "4"}));
  EXPECT_EQ(Values(p, "Viewer", "C"), Strings{"7"});
  // Only the first of two adjacent dashes goes; values are never headers.
  EXPECT_EQ(Values(p, "-Mod", "K"), Strings{"-5"});
  EXPECT_EQ(Values(p, "-Mod", "Path"), Strings{"C:"});
}

TEST(ParamParser, EmptyListsAndRepeatedKeys) {
  TempFile file("empty.params");
  ParamParser p = Parse(file, "E [ ]\nOne []\nK [ 1 2 3 ]\nK 9\nL [a,b c]\n");
  bool valid = false;
  EXPECT_EQ(Values(p, "General", "E", &valid), Strings{});
  EXPECT_TRUE(valid);
  EXPECT_EQ(Values(p, "General", "One"), Strings{""});
  EXPECT_EQ(Values(p, "General", "K"), Strings{"9"});  // later replaces earlier
  EXPECT_EQ(Values(p, "General", "L"), (Strings{"a,b", "c"}));
  // Single-value getters treat an empty list as missing.
  EXPECT_EQ(p.GetStrValue("General", "E", valid), "");
  EXPECT_FALSE(valid);
  EXPECT_EQ(p.GetIntValue("General", "E", valid), -1);
  EXPECT_FALSE(valid);
  EXPECT_EQ(p.GetDoubleValue("General", "E", valid), -1.0);
  EXPECT_FALSE(valid);
  EXPECT_TRUE(p.GetIntValues("General", "E", valid).empty());
  EXPECT_TRUE(valid);
}

TEST(ParamParser, TypedGettersReportConversion) {
  TempFile file("typed.params");
  ParamParser p = Parse(file, "I 12\nD 0.25\nBad x\nL [ 1 x 3 ]\nF [ 0.5 1e3 ]\n");
  bool valid = false;
  EXPECT_EQ(p.GetIntValue("General", "I", valid), 12);
  EXPECT_TRUE(valid);
  EXPECT_EQ(p.GetDoubleValue("General", "D", valid), 0.25);
  EXPECT_TRUE(valid);
  EXPECT_EQ(p.GetIntValue("General", "Bad", valid), 0);
  EXPECT_FALSE(valid);
  EXPECT_EQ(p.GetIntValue("General", "Missing", valid), -1);
  EXPECT_FALSE(valid);
  EXPECT_EQ(p.GetIntValue("Nowhere", "I", valid), -1);
  EXPECT_FALSE(valid);
  EXPECT_EQ(p.GetIntValues("General", "L", valid), (std::vector<int>{1, 0, 3}));
  EXPECT_FALSE(valid);
  EXPECT_EQ(p.GetDoubleValues("General", "F", valid), (std::vector<double>{0.5, 1000.0}));
  EXPECT_TRUE(valid);
  EXPECT_TRUE(p.GetDoubleValues("General", "Missing", valid).empty());
  EXPECT_FALSE(valid);
}

TEST(ParamParser, InvalidModuleIsSkippedTokenByToken) {
  TempFile file("invalid.params");
  ParamParser p = Parse(file, "-Invalid\nA 1 B 2\n-Good\nC 3\n");
  bool valid = true;
  p.GetStrValues("Invalid", "A", valid);
  EXPECT_FALSE(valid);
  EXPECT_EQ(Values(p, "Good", "C"), Strings{"3"});
}

TEST(ParamParser, CarriageReturnsStayInTokens) {
  TempFile file("crlf.params");
  ParamParser p = Parse(file, "General:\r\nImage a.jpg\r\nX\r\n");
  // "General:\r" is not a header, so it is a key whose value is "Image".
  EXPECT_EQ(Values(p, "General", "General:\r"), Strings{"Image"});
  EXPECT_EQ(Values(p, "General", "a.jpg\r"), Strings{"X\r"});
}

TEST(ParamParser, OverridesFollowTheFileAndCarryTheModule) {
  TempFile file("over.params");
  ParamParser p = Parse(file, "General:\nAnimationFile a.anim\n-Mod\nX 1\n",
                        {"-General", "AnimationFile", "none", "-Mod", "Y", "two words"});
  EXPECT_EQ(Values(p, "General", "AnimationFile"), Strings{"none"});
  EXPECT_EQ(Values(p, "Mod", "Y"), Strings{"two words"});  // never split

  ParamParser carried = Parse(file, "-Mod\nX 1\n", {"Z", "5"});
  EXPECT_EQ(Values(carried, "Mod", "Z"), Strings{"5"});
}

TEST(ParamParser, MissingFileUsesOnlyOverrides) {
  const char* overrides[] = {"-General", "Image", "x.jpg"};
  ParamParser p("/nonexistent/warpix.params", overrides, 3);
  EXPECT_EQ(Values(p, "General", "Image"), Strings{"x.jpg"});
}

TEST(ParamParser, FatalReadErrors) {
  EXPECT_DEATH(
      {
        ParamParser p("/nonexistent/warpix.params", nullptr, 0);
      },
      "false");
  TempFile file("lastkey.params");
  file.write("Image a.jpg\nDangling");
  EXPECT_DEATH({ ParamParser p(file.c_str(), nullptr, 0); }, "commands.count\\(\\)>i\\), function ParamParser");
}

TEST(ParamParser, UnclosedListKeepsElementsAndWarns) {
  TempFile file("unclosed.params");
  CoutCapture capture;
  ParamParser p = Parse(file, "Before 1\nList [ 1 2 3\n");
  EXPECT_EQ(Values(p, "General", "List"), (Strings{"1", "2", "3"}));
  EXPECT_EQ(Values(p, "General", "Before"), Strings{"1"});
  EXPECT_NE(capture.str().find("[WARNING] "), std::string::npos);
  EXPECT_NE(capture.str().find("List"), std::string::npos);
}

TEST(ParamParser, PrintFormat) {
  TempFile file("print.params");
  ParamParser p = Parse(file, "-B\nk [ 1 2 ]\n-A\nz 1\ny []\n");
  CoutCapture capture;
  p.PrintParams();
  EXPECT_EQ(capture.str(),
            "Module = A\n\t'y' = []\n\t'z' = [1]\n"
            "Module = B\n\t'k' = [1, 2]\n");
}

TEST(ParamParser, WrittenTableReadsBack) {
  TempFile file("write_src.params");
  TempFile out("write_out.params");
  ParamParser p = Parse(file, "Image a.jpg\nColsRows [ 3 4 ]\n-Mod\nName [ two words ]\n");
  p.WriteParams(out.c_str());
  EXPECT_EQ(out.read(),
            "General:\n\tColsRows\t[3, 4]\n\tImage\t[a.jpg]\n"
            "Mod:\n\tName\t[two, words]\n");
  ParamParser back(out.c_str(), nullptr, 0);
  EXPECT_EQ(Values(back, "General", "Image"), Strings{"a.jpg"});
  // Every element but the last keeps the comma the joining wrote.
  EXPECT_EQ(Values(back, "General", "ColsRows"), (Strings{"3,", "4"}));
  EXPECT_DEATH(p.WriteParams("/nonexistent/dir/out.params"), "textStream.is_open\\(\\)");
}

}  // namespace
