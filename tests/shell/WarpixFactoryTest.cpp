#include "shell/Warpix.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TestCommon.h"
#include "deform/DeformAsRigidAsPossible.h"
#include "deform/DeformGreenCoords.h"
#include "deform/DeformThinPlateSplineWarp.h"
#include "deform/DeformMLS.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/DeformTesting.h"
#include "deform/Warpixator.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "support/ParamParser.h"

namespace {

using warpix_test::CoutCapture;
using warpix_test::TempFile;

const std::string kNoRect = "[WARNING] Mesh Rectangle is not give. Set to default=[0,1]x[0,1]\n";
const std::string kNull = "-D\nType NullDeformator\n";
const std::string kMesh = "DeformSetting S\n-S\nDeformType DEFORM_REGULAR_MESH\n";

class WarpixFactoryTest : public ::testing::Test {
 protected:
  // The deformator of module `name`; what the factory prints goes to m_Output.
  std::unique_ptr<Warpixator> Build(const std::string& text, const char* name = "D") {
    m_File.write(text);
    m_Params = std::make_unique<ParamParser>(m_File.c_str(), nullptr, 0);
    CoutCapture out;
    std::unique_ptr<Warpixator> d(GetDeformator(*m_Params, name, m_Image));
    m_Output = out.str();
    return d;
  }
  TempFile m_File{"factory.params"};
  std::unique_ptr<ParamParser> m_Params;
  R2Image m_Image{4, 4, 3};
  std::string m_Output;
};

TEST_F(WarpixFactoryTest, NamesAndUnknownTypes) {
  auto d = Build(kNull + "Name [Shown Elsewhere]\n-E\nName [ ]\n");
  EXPECT_STREQ(d->GetDeformatorName(), "D");  // the identity keeps its module name
  EXPECT_EQ(DeformatorDisplayName(*m_Params, "D"), "Shown Elsewhere");
  EXPECT_EQ(DeformatorDisplayName(*m_Params, "E"), "E");
  EXPECT_TRUE(d->m_DeformationType == Warpixator::DEFORM_PIXEL && m_Output.empty());
  d = Build("History [2 0.1 0.1 0.2 0.2]\nInitCtrlPnts [0.5 0.5]\n-D\nType Bogus\n" + kMesh);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(m_Output, "[WARNING] Unknown Deformation type - Bogus\n");
}

TEST_F(WarpixFactoryTest, MethodRowsBuildTheirClasses) {
  auto mvc = Build("-D\nType DeformMeanValueCoords\nName [Mean value]\n" + kMesh);
  ASSERT_NE(dynamic_cast<DeformMeanValueCoords*>(mvc.get()), nullptr);
  EXPECT_STREQ(mvc->GetDeformatorName(), "Mean value");
  for (const auto& [type, expected] : {std::pair{"MLS_FIT_SIMILARITY", DeformMLS::MLS_FIT_SIMILARITY}, {"MLS_RIGID", DeformMLS::MLS_RIGID},
                                       {"MLS_AFFINE", DeformMLS::MLS_AFFINE}}) {
    auto mls = Build(std::string("-D\nType DeformMLS\nMLSType ") + type + "\n" + kMesh);
    auto* asMls = dynamic_cast<DeformMLS*>(mls.get());
    ASSERT_NE(asMls, nullptr) << type;
    EXPECT_TRUE(asMls->m_ErrorType == expected && m_Output.find("needs DeformType") == std::string::npos) << type << m_Output;
  }
  // Without a mesh a method cannot deform: one warning, no stop.
  for (const char* type : {"DeformMLS\nMLSType MLS_RIGID", "DeformQuasiConf\nInterOp MovingLeastSquares", "DeformAsRigidAsPossible\nQuasiConf true"}) {
    ASSERT_NE(Build(std::string("-D\nType ") + type + "\n"), nullptr) << type;
    const std::string name(type, std::strchr(type, '\n'));
    EXPECT_EQ(m_Output, "[WARNING] D: " + name + " needs DeformType DEFORM_REGULAR_MESH; the image is shown undeformed\n");
  }
}

TEST_F(WarpixFactoryTest, CageAndSplineRowsReadTheirSettings) {
  // Both map any point, so pixel mode needs no warning.
  EXPECT_NE(dynamic_cast<DeformGreenCoords*>(Build("-D\nType DeformGreenCoords\n").get()), nullptr);
  EXPECT_EQ(m_Output, "");
  const std::string notANumber = "' is not a number >= 0; 0 is used (exact interpolation)\n";
  const std::pair<const char*, double> cases[] = {{"", 0.0}, {"Smoothing 0.25\n", 0.25}, {"Smoothing 0\n", 0.0},
                                                  {"Smoothing -1\n", 0.0}, {"Smoothing soft\n", 0.0}, {"Smoothing nan\n", 0.0}};
  for (const auto& [line, smoothing] : cases) {
    auto d = Build(std::string("-D\nType DeformThinPlateSplineWarp\n") + line);
    auto* spline = dynamic_cast<DeformThinPlateSplineWarp*>(d.get());
    ASSERT_NE(spline, nullptr) << line;
    EXPECT_EQ(spline->Smoothing(), smoothing) << line;
    const bool refused = std::strchr(line, '-') != nullptr || std::strstr(line, "soft") || std::strstr(line, "nan");
    const std::string word = *line ? std::string(line + 10, std::strchr(line, '\n')) : "";
    EXPECT_EQ(m_Output, refused ? "[WARNING] D: Smoothing '" + word + notANumber : "") << line;
  }
}

TEST_F(WarpixFactoryTest, QuasiConfRowReadsItsOperatorWord) {
  const std::string notAnOperator = "' is not an operator (AffineQuad, MeanValCoords, ThinPlateSplines, MovingLeastSquares, "
                                    "FixedLinesTPS, FixedLinesTPSNoQuasiConf); operator 0 maps like ThinPlateSplines\n";
  const std::pair<const char*, int> cases[] = {{"AffineQuad", 1}, {"MeanValCoords", 2}, {"ThinPlateSplines", 3}, {"MovingLeastSquares", 4},
                                               {"FixedLinesTPS", 5}, {"FixedLinesTPSNoQuasiConf", 6}, {"affinequad", 0}, {"", 0}};
  for (const auto& [word, op] : cases) {
    auto d = Build(std::string("-D\nType DeformQuasiConf\n") + (*word ? std::string("InterOp ") + word + "\n" : "") + kMesh +
                   "MeshResolution [4 4]\nDefaultRect [0 1 0 1]\n");
    auto* qc = dynamic_cast<DeformQuasiConf*>(d.get());
    ASSERT_NE(qc, nullptr) << word;
    EXPECT_EQ(qc->m_IntermediateOp, op) << word;
    EXPECT_EQ(m_Output, (op ? "" : "[WARNING] D: InterOp '" + std::string(word) + notAnOperator) + "Mesh Based Deformation\n") << word;
  }
}

TEST_F(WarpixFactoryTest, RigidRowReadsItsSwitchesAndScaleRule) {
  using Rule = DeformAsRigidAsPossible::ScaleRule;
  // Four points on vertices of the 4 x 4 mesh, dragged far enough for the
  // two rules to part.
  const std::vector<double> orig{0.25, 0.25, 0.75, 0.25, 0.75, 0.75, 0.25, 0.75};
  const std::vector<double> target{0.1, 0.1, 0.95, 0.2, 0.9, 0.95, 0.2, 0.8};
  auto reference = [&](bool quasiConf, bool rescale, Rule rule) {
    DeformAsRigidAsPossible d(quasiConf, rescale, m_Image, "D", rule);
    deform_test::Mesh(d, 4, 4);
    deform_test::Load(d, orig, target);
    return deform_test::Positions(d, false);
  };
  EXPECT_GT(deform_test::MaxDistance(reference(false, true, Rule::kRest), reference(false, true, Rule::kFitted)), 0.01);
  const std::string restOnly =
      "[WARNING] D: ScaleRule Rest applies to the rescaling step only (Rescale true); it changes nothing here";
  const std::string notARule = "[WARNING] D: ScaleRule 'Bogus' is not Fitted or Rest; Fitted is used";
  struct Case { const char* keys; bool quasiConf, rescale; Rule rule; std::string warning; };
  for (const Case& c : {Case{"", false, false, Rule::kFitted, ""},
                        Case{"Rescale true\n", false, true, Rule::kFitted, ""},
                        Case{"QuasiConf true\nRescale TRUE\n", true, false, Rule::kFitted, ""},
                        Case{"QuasiConf true\nRescale true\n", true, true, Rule::kFitted, ""},
                        Case{"Rescale true\nScaleRule Rest\n", false, true, Rule::kRest, ""},
                        Case{"Rescale true\nScaleRule Fitted\n", false, true, Rule::kFitted, ""},
                        Case{"ScaleRule Rest\n", false, false, Rule::kFitted, restOnly},
                        Case{"Rescale true\nScaleRule Bogus\n", false, true, Rule::kFitted, notARule}}) {
    auto d = Build("InitCtrlPnts [0.25 0.25 0.75 0.25 0.75 0.75 0.25 0.75]\n"
                   "DeformCtrlPnts [0.1 0.1 0.95 0.2 0.9 0.95 0.2 0.8]\n-D\nType DeformAsRigidAsPossible\n" +
                   std::string(c.keys) + kMesh + "MeshResolution [4 4]\nDefaultRect [0 1 0 1]\n");
    auto* arap = dynamic_cast<DeformAsRigidAsPossible*>(d.get());
    ASSERT_NE(arap, nullptr) << c.keys;
    EXPECT_TRUE(arap->m_bUseQuasiConf == c.quasiConf && (arap->m_pQuasiConf != nullptr) == c.quasiConf && arap->m_bRescale == c.rescale) << c.keys;
    // The one warning line, if any; the vertices of the rule in effect.
    const size_t at = m_Output.find("[WARNING]");
    EXPECT_EQ(at == std::string::npos ? "" : m_Output.substr(at, m_Output.find('\n', at) - at), c.warning) << m_Output;
    EXPECT_EQ(m_Output.find("[WARNING]", at == std::string::npos ? 0 : at + 1), std::string::npos) << m_Output;
    EXPECT_EQ(deform_test::Positions(*d, false), reference(c.quasiConf, c.rescale, c.rule)) << c.keys;
  }
}

TEST_F(WarpixFactoryTest, SharedSettingsModuleAndGeneralFallback) {
  const std::string text =
      "DeformSetting M\n-A\nType NullDeformator\nDeformSetting M\n-B\nType NullDeformator\n"
      "-M\nDeformType DEFORM_REGULAR_MESH\nMeshResolution [3 2]\nDefaultRect [0.2 0.6 0.1 0.9]\n"
      "DrawMesh false\nTransparentColor [1 0 0.5]\nTransparencyThreshold 0.1\n";
  for (const char* name : {"A", "B"}) {
    auto d = Build(text, name);
    EXPECT_EQ(m_Output, "Mesh Based Deformation\n");
    EXPECT_TRUE(d->m_Faces.size() == 12 && !d->m_bDrawMesh && d->m_bWhiteToTransparent);
    EXPECT_TRUE(d->m_TransparentColor == RNRgb(1, 0, 0.5) && d->m_fTransparencyThreshold == 0.1);
    // DefaultRect is x0 x1 y0 y1: the last vertex is the (x1, y1) corner.
    EXPECT_DOUBLE_EQ(d->m_Vertices.back().m_fRestX, 0.6);
    EXPECT_DOUBLE_EQ(d->m_Vertices.back().m_fRestY, 0.9);
  }
}

TEST_F(WarpixFactoryTest, MeshDefaultsWarningsAndFallbacks) {
  auto d = Build(kNull + kMesh);
  EXPECT_EQ(m_Output, "[WARNING] Mesh Resolution is not give. Set to default=10x10\n" + kNoRect +
                          "Mesh Based Deformation\n");
  EXPECT_TRUE(d->m_Vertices.size() == 121 && d->m_bDrawMesh && d->m_bWhiteToTransparent);
  EXPECT_TRUE(d->m_TransparentColor == RNRgb(0, 0, 0) && d->m_fTransparencyThreshold == -1.0);
  const std::string head = kNull + kMesh + "DefaultRect [0 1 0 1 7]\n";
  for (auto [resolution, vertices] : {std::pair{"20", 121u}, {"[20 30 40]", 21u * 31u},
                                      {"[4 x]", 121u}, {"[0 5]", 121u}, {"[9999 9999]", 121u}}) {
    d = Build(head + "MeshResolution " + resolution + "\n");
    EXPECT_EQ(d->m_Vertices.size(), vertices) << resolution;
    EXPECT_EQ(m_Output.rfind("[WARNING] Mesh Resolution ", 0) == 0, vertices == 121u) << m_Output;
  }
  for (const char* word : {"false", "no", "True"}) {
    d = Build(head + "DrawMesh " + word + "\nWhiteToTransparent " + word + "\n");
    EXPECT_FALSE(d->m_bDrawMesh || d->m_bWhiteToTransparent) << word;
  }
  d = Build(head + "DefaultRect [0 1 0]\nTransparentColor [1 1]\nTransparencyThreshold abc\n");
  EXPECT_NE(m_Output.find(kNoRect), std::string::npos);
  EXPECT_EQ(d->m_TransparentColor, RNRgb(0, 0, 0));  // two values: black, not partial
  EXPECT_EQ(d->m_fTransparencyThreshold, 0.0);       // present but not a number
  d = Build(kNull + "DeformSetting S\n-S\nDeformType DEFORM_PIXEL\nMeshResolution 20\n");
  EXPECT_TRUE(m_Output.empty() && d->m_Vertices.empty());  // mesh keys unread
}

TEST_F(WarpixFactoryTest, InitialPointsThenHistory) {
  const std::string tail = "InitCtrlPnts [0.2 0.3 0.6 0.7]\nDeformCtrlPnts [0.25 0.35]\n" + kMesh +
                           "MeshResolution [2 2]\nDefaultRect [0 1 0 1]\n" + kNull;
  auto d = Build("History [0]\n" + tail);  // one token: no history
  EXPECT_EQ(m_Output, "Mesh Based Deformation\n");
  EXPECT_EQ(d->m_ControlPointsNewPos, (std::vector<double>{0.25, 0.35, 0.6, 0.7}));
  d = Build("History [2 0.1 0.2 0.15 0.2]\n" + tail);
  EXPECT_EQ(m_Output, "Mesh Based Deformation\nLoading History\n"
                      "Deformation History:\n\tHistory [2 0.1 0.2 0.15 0.2]\n");
  EXPECT_TRUE(d->m_ControlPointsOrigPos.empty());  // the replayed save came after them
}

// Builds module D with the console sent to standard error, where the death
// matcher looks for the error line together with the fatal condition.
void BuildEchoingToStderr(const TempFile& file, R2Image& image, const std::string& text) {
  file.write(text);
  ParamParser params(file.c_str(), nullptr, 0);
  std::cout.rdbuf(std::cerr.rdbuf());
  delete GetDeformator(params, "D", image);
}

TEST_F(WarpixFactoryTest, ConfigurationErrorsReportThenStop) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"-D\nName x\n", "\\[ERROR\\] D: the key Type is missing.*\\(valid\\)"},
      {kNull + "DeformSetting S\n-S\nDeformType MESH\n",
       "\\[ERROR\\] Unknown Deformation type \\(valid=\\[DEFORM_PIXEL, DEFORM_REGULAR_MESH\\]\\)\n"
       ".*\\(false\\)"},
      {"InitCtrlPnts [0.5 0.5 0.6]\n" + kNull,
       "InitCtrlPnts has an odd number of values \\(3\\).*origVals\\.size\\(\\) % 2 == 0"},
      {"InitCtrlPnts [0.5 0.5]\nDeformCtrlPnts [0.6 0.6 0.7 0.7]\n" + kNull,
       "DeformCtrlPnts has more values \\(4\\) than InitCtrlPnts \\(2\\).*"
       "newVals\\.size\\(\\) <= origVals\\.size\\(\\)"},
      {"History [2 0.1 zz 0.2 0.2]\n" + kMesh + kNull,
       "Loading History\n\\[ERROR\\] History: token 2.*\\(ok\\)"},
      {"-D\nType DeformMLS\nMLSType MLS_PROJECTIVE\n",
       "\\[ERROR\\] D: MLSType must be.*\\(mlsType==\"MLS_RIGID\"\\)"},
      {"-D\nType DeformMLS\n", "\\(mlsType==\"MLS_RIGID\"\\)"}};
  for (const auto& [text, expected] : cases) {
    EXPECT_DEATH(BuildEchoingToStderr(m_File, m_Image, text), expected) << text;
  }
}

}  // namespace
