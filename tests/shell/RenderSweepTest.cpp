// Sweeps: a cell reused across cases gives what a fresh cell with the case's
// points gives, bit for bit; a case or a method that cannot be computed
// gives reasons, never numbers of an earlier case.
#include "shell/RenderSweep.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "TestCommon.h"
#include "render/CellExport.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::SameBits;
using warpix_test::TempFile;

const char* const kCells =
    "Deformators [ MlsRigid Arap ArapRescaled QcMls QcAffine QcLines MeanValue ]\n"
    "DeformSetting Mesh\n"
    "-MlsRigid Type DeformMLS MLSType MLS_RIGID\n"
    "-Arap Type DeformAsRigidAsPossible\n"
    "-ArapRescaled Type DeformAsRigidAsPossible Rescale true\n"
    "-QcMls Type DeformQuasiConf InterOp MovingLeastSquares\n"
    "-QcAffine Type DeformQuasiConf InterOp AffineQuad\n"
    "-QcLines Type DeformQuasiConf InterOp FixedLinesTPS\n"
    "-MeanValue Type DeformMeanValueCoords\n"
    "-Mesh DeformType DEFORM_REGULAR_MESH MeshResolution [ 8 8 ] DefaultRect [ 0 1 0 1 ] "
    "DrawMesh false WhiteToTransparent false\n";

SweepCase Case(const std::string& json, int line = 1) { return SweepCaseReader::Parse(json, line); }

class RenderSweepTest : public ::testing::Test {
 protected:
  RenderSweepTest() { m_File.write(kCells); }

  // The cells of kCells, built as warpix-render builds them, with the
  // case's points as starting points when given.
  std::vector<RenderCell> Build(const SweepCase* start) {
    std::vector<std::string> words;
    if (start != nullptr) {
      for (const auto& [key, values] : {std::pair<const char*, const std::vector<double>*>{
                                            "InitCtrlPnts", &start->m_Orig},
                                        {"DeformCtrlPnts", &start->m_Target}}) {
        words.insert(words.end(), {"-General", key, "["});
        for (double v : *values) {
          char text[40];
          std::snprintf(text, sizeof(text), "%.17g", v);
          words.push_back(text);
        }
        words.push_back("]");
      }
    }
    std::vector<const char*> tokens;
    for (const std::string& w : words) tokens.push_back(w.c_str());
    ParamParser parameters(m_File.c_str(), tokens.data(), static_cast<int>(tokens.size()));
    bool valid = false;
    std::vector<RenderCell> cells;
    CoutCapture quiet;
    for (const ZelString& name : parameters.GetStrValues("General", "Deformators", valid)) {
      RenderCell cell;
      cell.deformator.reset(GetDeformator(parameters, name, m_Image));
      cell.type = parameters.GetStrValue(name, "Type", valid).toStdString();
      PrepareCellForRender(*cell.deformator);
      cells.push_back(std::move(cell));
    }
    return cells;
  }

  TempFile m_File{"sweep.params"};
  R2Image m_Image{16, 16, 3};
};

TEST_F(RenderSweepTest, ReusedCellsEqualFreshCellsBitForBit) {
  // Between the computed cases: points the line cell refuses (five), and
  // points on one line (two targets on one spot) that the mean-value and
  // quasi-conformal cells refuse.
  const std::vector<std::string> cases = {
      R"({"case": "six", "orig": [[0.2,0.2],[0.8,0.25],[0.75,0.8],[0.3,0.7],[0.5,0.45],[0.6,0.6]], "target": [[0.22,0.2],[0.8,0.3],[0.7,0.85],[0.3,0.7],[0.55,0.4],[0.6,0.62]]})",
      R"({"case": "five", "orig": [[0.2,0.2],[0.8,0.2],[0.8,0.8],[0.2,0.8],[0.5,0.5]], "target": [[0.2,0.2],[0.8,0.2],[0.7,0.9],[0.2,0.8],[0.5,0.5]]})",
      R"({"case": "quad", "orig": [[0.25,0.3],[0.7,0.25],[0.75,0.7],[0.3,0.65]], "target": [[0.2,0.35],[0.7,0.25],[0.8,0.75],[0.3,0.65]]})",
      R"({"case": "line", "orig": [[0.1,0.1],[0.3,0.3],[0.5,0.5],[0.7,0.7]], "target": [[0.1,0.1],[0.5,0.5],[0.5,0.5],[0.7,0.7]]})",
      R"({"case": "quad2", "orig": [[0.2,0.2],[0.8,0.2],[0.8,0.8],[0.2,0.8]], "target": [[0.2,0.2],[0.8,0.2],[0.65,0.9],[0.3,0.7]]})"};
  std::vector<RenderCell> reused = Build(nullptr);
  RenderSweep sweep(reused);
  int compared = 0;
  for (size_t c = 0; c < cases.size(); ++c) {
    const SweepCase sweepCase = Case(cases[c], static_cast<int>(c) + 1);
    ASSERT_TRUE(sweepCase.m_Reason.empty()) << sweepCase.m_Reason;
    const std::vector<nlohmann::json> records = sweep.Run(sweepCase);
    std::vector<RenderCell> fresh = Build(&sweepCase);
    ASSERT_EQ(records.size(), fresh.size());
    for (size_t k = 0; k < fresh.size(); ++k) {
      SCOPED_TRACE(sweepCase.m_Name + " " + records[k]["module"].get<std::string>());
      if (records[k].contains("reason")) {
        EXPECT_TRUE(records[k]["k_max"].is_null());
        continue;
      }
      const std::vector<Warpixator::ImgVertex>& a = reused[k].deformator->m_Vertices;
      const std::vector<Warpixator::ImgVertex>& b = fresh[k].deformator->m_Vertices;
      ASSERT_EQ(a.size(), b.size());
      for (size_t v = 0; v < a.size(); ++v) {
        ASSERT_TRUE(SameBits(a[v].m_fX, b[v].m_fX) && SameBits(a[v].m_fY, b[v].m_fY)) << "vertex " << v;
      }
      EXPECT_EQ(records[k]["k_mean"], sweep.Run(sweepCase)[k]["k_mean"]);  // and again, the same
      ++compared;
    }
  }
  EXPECT_GE(compared, 25);
  // The refusals that the cases were made for gave reasons.
  std::vector<RenderCell> cells = Build(nullptr);
  RenderSweep again(cells);
  const auto five = again.Run(Case(cases[1]));
  EXPECT_NE(five[5].value("reason", "").find("more than 8-point"), std::string::npos);
  for (int repeat = 0; repeat < 2; ++repeat) {  // refused twice in a row: warned both times
    const auto line = again.Run(Case(cases[3]));
    EXPECT_NE(line[6].value("reason", "").find("one line"), std::string::npos) << repeat;
    EXPECT_NE(line[4].value("reason", "").find("the targets"), std::string::npos) << repeat;
  }
}

TEST_F(RenderSweepTest, MalformedCasesGiveOneRecordPerCellWithTheirLine) {
  std::vector<RenderCell> cells = Build(nullptr);
  RenderSweep sweep(cells);
  std::istringstream in("\n{\"case\": 1}\n\n{\"orig\": [[0.5, 0.5]], \"target\": [[0.6, 0.5]]}\n");
  SweepCaseReader reader(in, 10);
  std::ostringstream out;
  CoutCapture console;
  EXPECT_EQ(sweep.RunAll(reader, &out, nullptr, 0), 2);
  std::istringstream lines(out.str());
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(records.size(), 2 * cells.size());
  EXPECT_EQ(records[0]["reason"], "line 11: \"case\" is not a string");
  EXPECT_TRUE(records[0]["k_max"].is_null() && records[0]["case"] == "line 11");
  EXPECT_EQ(records[cells.size()]["case"], "line 13");
  EXPECT_EQ(records[cells.size()]["line"], 13);
  EXPECT_NE(console.str().find("[WARNING] Cases line 11: "), std::string::npos);
}

}  // namespace
