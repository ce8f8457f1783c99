// The cases of a sweep: every malformed line says what is wrong, and random
// cases are the same bytes for a seed, spread and readable.
#include "shell/SweepCases.h"
#include "shell/RandomCases.h"

#include <cmath>
#include <sstream>

#include "TestCommon.h"

TEST(SweepCases, EachMalformedLineSaysWhatIsWrong) {
  const std::pair<const char*, const char*> table[] = {
      {"not json", "not valid JSON"},
      {"[1, 2]", "not a JSON object"},
      {"{\"case\": \"a\", \"target\": []}", "\"orig\" is missing"},
      {"{\"orig\": 5, \"target\": []}", "\"orig\" is not a list"},
      {"{\"orig\": [[0.5]], \"target\": [[0.5, 0.5]]}", "point 0 is not [x, y]"},
      {"{\"orig\": [[0.5, \"a\"]], \"target\": [[0.5, 0.5]]}", "point 0 is not [x, y]"},
      {"{\"orig\": [[0.5, 0.5]], \"target\": [[0.5, 1e999]]}", "not valid JSON"},
      {"{\"orig\": [[0.5, 0.5]], \"target\": [[0.5, NaN]]}", "not valid JSON"},
      {"{\"orig\": [[0.5, 0.5]], \"target\": [[0.5, 1.0]]}", "outside the open unit square"},
      {"{\"orig\": [[0.5, 0.5], [0.2, 0.2]], \"target\": [[0.5, 0.5]]}", "\"orig\" has 2 points, \"target\" 1"},
      {"{\"orig\": [], \"target\": []}", "no control points"},
      {"{\"orig\": [[0.5, 0.5], [0.5, 0.5]], \"target\": [[0.5, 0.5], [0.6, 0.6]]}", "points 0 and 1 coincide"},
      {"{\"orig\": [[[[[[0.5]]]]]]}", "nested too deeply"},
  };
  for (const auto& [line, reason] : table) {
    const SweepCase c = SweepCaseReader::Parse(line, 7);
    EXPECT_EQ(c.m_Reason.rfind("line 7: ", 0), 0u) << line;
    EXPECT_NE(c.m_Reason.find(reason), std::string::npos) << line << " -> " << c.m_Reason;
    EXPECT_TRUE(c.m_Orig.empty() && c.m_Target.empty()) << line;
  }
  const SweepCase good = SweepCaseReader::Parse(R"({"case": "a", "orig": [[0.1, 0.2]], "target": [[0.3, 0.4]]})", 1);
  EXPECT_TRUE(good.m_Reason.empty() && good.m_Name == "a");
  EXPECT_EQ(good.m_Orig, (std::vector<double>{0.1, 0.2}));
  EXPECT_EQ(good.m_Target, (std::vector<double>{0.3, 0.4}));
}

TEST(RandomCases, FixedBytesOfSpreadComputableCases) {
  std::ostringstream a, b, c;
  RandomCases::Write(a, 200, 7, 0.05);
  RandomCases::Write(b, 200, 7, 0.05);
  RandomCases::Write(c, 200, 8, 0.05);
  EXPECT_EQ(a.str(), b.str());
  EXPECT_NE(a.str(), c.str());
  // The generator's definition: this line on every machine.
  EXPECT_EQ(a.str().substr(0, 69), "{\"case\": \"s7-000000\", \"orig\": [[0.113431, 0.820609], [0.299545, 0.474");
  std::istringstream in(a.str());
  SweepCaseReader reader(in);
  int cases = 0;
  for (SweepCase sc; reader.Next(sc); ++cases) {
    ASSERT_TRUE(sc.m_Reason.empty()) << sc.m_Reason;
    const size_t n = sc.m_Orig.size() / 2;
    EXPECT_TRUE(n >= 4 && n <= 16) << n;
    for (size_t p = 0; p < n; ++p) {
      EXPECT_LE(std::hypot(sc.m_Target[2 * p] - sc.m_Orig[2 * p], sc.m_Target[2 * p + 1] - sc.m_Orig[2 * p + 1]), 0.05 + 2e-6);
      for (size_t q = p + 1; q < n; ++q)
        EXPECT_GE(std::hypot(sc.m_Orig[2 * p] - sc.m_Orig[2 * q], sc.m_Orig[2 * p + 1] - sc.m_Orig[2 * q + 1]), RandomCases::kMinSpacing - 2e-6);
    }
  }
  EXPECT_EQ(cases, 200);
}
