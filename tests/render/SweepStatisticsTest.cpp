// The statistics of a sweep against numbers worked by hand, and the page's
// escaping and structure.
#include "render/SweepStatistics.h"
#include "render/ReportPage.h"

#include <cmath>
#include <limits>

#include "TestCommon.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(SweepStatistics, PercentilesInterpolateBetweenSortedValues) {
  // Sorted {1, 2, 3, 4, 10}: rank (n - 1) p = 4 p.
  const std::vector<double> v = {10, 3, 1, 4, 2};
  const std::pair<double, double> table[] = {
      {0.0, 1.0}, {0.1, 1.4}, {0.25, 2.0}, {0.5, 3.0}, {0.75, 4.0}, {0.9, 7.6}, {1.0, 10.0}, {-1.0, 1.0}, {2.0, 10.0}};
  for (const auto& [p, expected] : table) EXPECT_NEAR(SweepStatistics::Percentile(v, p), expected, 1e-12) << p;
  // Infinity (a collapsed face) at an end: never a NaN.
  EXPECT_EQ(SweepStatistics::Percentile({1, 2, kInf}, 0.5), 2.0);
  EXPECT_EQ(SweepStatistics::Percentile({1, 2, kInf}, 0.9), kInf);
  EXPECT_EQ(SweepStatistics::Percentile({kInf, kInf}, 0.5), kInf);
  EXPECT_EQ(SweepStatistics::Percentile({-kInf, 1.0}, 0.5), -kInf);
  EXPECT_EQ(SweepStatistics::Percentile({std::nan(""), 5.0}, 0.5), 5.0);
  EXPECT_EQ(SweepStatistics::Percentile({}, 0.5), 0.0);
}

TEST(SweepStatistics, CellsCountRefusedCasesWithoutAveragingThem) {
  SweepStatistics s;
  const double kMax[] = {1.5, 2.0, 4.0};
  for (double k : kMax) {
    SweepSample sample{k, 1.1, 0.5, 1.5, 0.0};
    s.Add(3, "ARAP", &sample);
  }
  s.Add(3, "ARAP", nullptr, "refused once");
  s.Add(3, "ARAP", nullptr, "refused twice");
  SweepSample flat{1, 1, 1, 1, 0.25};
  s.Add(0, "Null", &flat);
  const std::vector<SweepCellSummary> cells = s.Summaries();
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0].m_Name, "Null");  // in cell order
  const SweepCellSummary& arap = cells[1];
  EXPECT_EQ(arap.m_iCases, 5);
  EXPECT_EQ(arap.m_iRefused, 2);
  EXPECT_EQ(arap.m_FirstReason, "refused once");
  EXPECT_EQ(arap.m_ConformalMax.m_iCount, 3);
  EXPECT_DOUBLE_EQ(arap.m_ConformalMax.m_fMedian, 2.0);
  EXPECT_DOUBLE_EQ(arap.m_ConformalMax.m_fP90, 3.6);  // rank 1.8: 2 + 0.8 * 2
  EXPECT_DOUBLE_EQ(arap.m_ConformalMax.m_fMax, 4.0);
  EXPECT_DOUBLE_EQ(cells[0].m_FlippedShare.m_fMedian, 0.25);
}

TEST(ReportPage, EscapesUserTextAndSortsNumbersWithNullsAndInfinity) {
  EXPECT_EQ(ReportPage::Escape("<b a=\"x\">'&'</b>"), "&lt;b a=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/b&gt;");
  ReportContent c;
  c.m_Title = "t";
  c.m_CommandLine = "warpix-render --report 'a b' x.params";
  for (const char* name : {"<script>alert(1)</script>", "Plain"}) {
    c.m_Figures.push_back(ReportFigure{name, "images/00_x.png", "", "not measured", 8, 8});
  }
  c.m_Table.m_Headers = {"Cell", "K max"};
  c.m_Table.m_Numeric = {false, true};
  c.m_Table.m_Rows = {{{"<i>", 0, false}, {"inf", kInf, true}}, {{"b", 0, false}, {"null", 0, false}},
                      {{"c", 0, false}, {"1.5000", 1.5, true}}};
  c.m_ParameterText = "Name [ </pre><script> ]";
  c.m_StatisticsSource = "3 cases";
  SweepBox box = SweepStatistics::BoxOf({1.0, 2.0, kInf});
  SweepCellSummary cell;
  cell.m_Name = "c&d";
  cell.m_ConformalMax = box;
  c.m_Statistics = {cell};
  const std::string html = ReportPage::Html(c);
  EXPECT_EQ(Count(html, "<script>"), 1u);  // only the page's own
  EXPECT_EQ(Count(html, "<figure class=\"cell\""), 2u);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("<td data-v=\"inf\">inf</td>"), std::string::npos);
  EXPECT_NE(html.find("<td data-v=\"\" class=\"null\">null</td>"), std::string::npos);
  EXPECT_NE(html.find("<td data-v=\"1.5\">1.5000</td>"), std::string::npos);
  EXPECT_NE(html.find("c&amp;d"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);  // nothing from the network
  EXPECT_EQ(html.find("src=\"/"), std::string::npos);
  // The box plot of a sample with an infinite end draws the arrow, not a NaN.
  const std::string svg = ReportPage::BoxPlotSvg(box, 1.0, 2.0, 100);
  EXPECT_NE(svg.find("<path"), std::string::npos);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_TRUE(ReportPage::BoxPlotSvg(SweepBox(), 0, 1, 100).empty());
}
