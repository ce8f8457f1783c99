#include "support/ParamParser.h"
#include "TestCommon.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::TempFile;
using Strings = std::vector<std::string>;

Strings Values(const ParamParser& p, const char* module, const char* key) {
  bool valid = false;
  Strings out;
  for (const ZelString& s : p.GetStrValues(module, key, valid)) out.push_back(s.toStdString());
  return out;
}

ParamParser Parse(const TempFile& file, const std::string& text,
                  std::vector<const char*> overrides = {}) {
  file.write(text);
  return ParamParser(file.c_str(), overrides.data(), static_cast<int>(overrides.size()));
}

TEST(ParamParser, TokenWalk) {
  TempFile file("walk.params");
  ParamParser p = Parse(file,
                        "Top 1\nGeneral:\n\tColsRows [ 3 4 ]\nImage a.jpg\n"
                        "-Viewer\nA [3 4]\n-Viewer:\nB [ 3 4]\nViewer:\nC [7]\nE [ ]\nOne []\n"
                        "K [ 1 2 3 ]\nK 9\nL [a,b c]\n--Mod\nK -5\nPath C:\n"
                        "-Invalid\nX 1 Y 2\n-CR\nGeneral:\r\nImage a.jpg\r\nX\r\n");
  const std::vector<std::tuple<const char*, const char*, Strings>> expected = {
      {"General", "Top", {"1"}},  // keys before the first header
      {"General", "ColsRows", {"3", "4"}}, {"General", "Image", {"a.jpg"}},
      {"Viewer", "A", {"3", "4"}}, {"Viewer", "B", {"3", "4"}}, {"Viewer", "C", {"7"}},
      {"Viewer", "E", {}}, {"Viewer", "One", {""}},
      {"Viewer", "K", {"9"}},  // a later occurrence replaces a longer list
      {"Viewer", "L", {"a,b", "c"}},
      {"-Mod", "K", {"-5"}},  // only the first dash goes; values are never headers
      {"-Mod", "Path", {"C:"}},
      {"CR", "General:\r", {"Image"}},  // a carriage return spoils the header
      {"CR", "a.jpg\r", {"X\r"}}};
  for (const auto& [module, key, values] : expected)
    EXPECT_EQ(Values(p, module, key), values) << module << " " << key;
  bool valid = true;
  p.GetStrValues("Viewer", "E", valid);
  EXPECT_TRUE(valid);  // an empty list is present
  p.GetStrValues("Invalid", "X", valid);
  EXPECT_FALSE(valid);
  EXPECT_EQ(Values(p, "General", "Y"), Strings{});
}

TEST(ParamParser, TypedGetters) {
  TempFile file("typed.params");
  ParamParser p = Parse(file, "I 12\nD 0.25\nBad x\nL [ 1 x 3 ]\nF [ 0.5 1e3 ]\nE [ ]\n");
  bool valid = false;
  auto expect = [&valid](const auto& value, const auto& expected, bool good) {
    EXPECT_TRUE(value == expected && valid == good) << ::testing::PrintToString(value);
  };
  expect(p.GetIntValue("General", "I", valid), 12, true);
  expect(p.GetIntValue("General", "Bad", valid), 0, false);
  expect(p.GetIntValue("General", "Missing", valid), -1, false);
  expect(p.GetIntValue("General", "E", valid), -1, false);  // an empty list counts as missing
  expect(p.GetDoubleValue("General", "D", valid), 0.25, true);
  expect(p.GetDoubleValue("General", "E", valid), -1.0, false);
  expect(p.GetIntValues("General", "L", valid), std::vector<int>{1, 0, 3}, false);
  expect(p.GetDoubleValues("General", "F", valid), std::vector<double>{0.5, 1000.0}, true);
}

TEST(ParamParser, OverridesFollowTheFileAndCarryTheModule) {
  TempFile file("over.params");
  ParamParser p = Parse(file, "General:\nAnimationFile a.anim\n-Mod\nX 1\n",
                        {"Z", "5", "-General", "AnimationFile", "none", "-Mod", "Y", "two words"});
  EXPECT_EQ(Values(p, "Mod", "Z"), Strings{"5"});  // the file's last module carries over
  EXPECT_EQ(Values(p, "General", "AnimationFile"), Strings{"none"});
  EXPECT_EQ(Values(p, "Mod", "Y"), Strings{"two words"});  // never split
  const char* overrides[] = {"-General", "Image", "x.jpg"};
  ParamParser noFile("/nonexistent/warpix.params", overrides, 3);
  EXPECT_EQ(Values(noFile, "General", "Image"), Strings{"x.jpg"});
}

TEST(ParamParser, FatalReadErrors) {
  EXPECT_DEATH({ ParamParser p("/nonexistent/warpix.params", nullptr, 0); },
               "\\(false\\), function ParamParser");
  TempFile file("lastkey.params");
  file.write("Image a.jpg\nDangling");
  EXPECT_DEATH({ ParamParser p(file.c_str(), nullptr, 0); },
               "commands.count\\(\\)>i\\), function ParamParser");
}

TEST(ParamParser, UnclosedListKeepsElementsAndWarns) {
  TempFile file("unclosed.params");
  CoutCapture capture;
  ParamParser p = Parse(file, "Before 1\nList [ 1 2 3\n");
  EXPECT_EQ(Values(p, "General", "List"), (Strings{"1", "2", "3"}));
  EXPECT_EQ(capture.str().rfind("[WARNING] ", 0), 0u);
  EXPECT_NE(capture.str().find("List"), std::string::npos);
}

}  // namespace
