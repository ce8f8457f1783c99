// The parsers of warpix-render's options, and the real program run without a
// display: its files, messages and exit statuses.
#include "shell/WarpixRender.h"
#include "shell/RenderCommandLine.h"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "TestCommon.h"
#include "../image/ImageTestFiles.h"
#include "render/DistortionMetrics.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const char* const kMesh = "-Mesh DeformType DEFORM_REGULAR_MESH MeshResolution [ 8 8 ] "
                          "DefaultRect [ 0 1 0 1 ] DrawMesh false WhiteToTransparent false\n";


using warpix_test::RunResult;

Args Split(const std::string& text) {
  Args words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Same size and every colour channel within tol (alpha ignored).
bool SamePixels(const R2Image& a, const R2Image& b, int tol) {
  bool same = a.IsValid() && a.Width() == b.Width() && a.Height() == b.Height();
  for (int i = 0; same && i < a.Width() * a.Height() * 3; ++i)
    same = std::abs(image_test::At(a, i / 3 % a.Width(), i / 3 / a.Width(), i % 3) - image_test::At(b, i / 3 % a.Width(), i / 3 / a.Width(), i % 3)) <= tol;
  return same;
}

nlohmann::json ReadJson(const std::string& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in, nullptr, false);
}

// Each test gets a scratch folder; the program runs with DISPLAY unset, a
// hang cut by timeout (status 124).
class WarpixRender : public ::testing::Test {
 protected:
  WarpixRender()
      : m_Dir(::testing::TempDir() + "warpix_render_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/") {
    fs::create_directories(m_Dir);
  }
  ~WarpixRender() override { fs::remove_all(m_Dir); }
  RunResult Render(const Args& args) {
    std::string command = "env -u DISPLAY timeout 120 " WARPIX_RENDER_BINARY;
    for (const std::string& arg : args) command += " '" + arg + "'";
    return warpix_test::RunCommand(command, m_Dir + "stderr");
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(m_Dir + name) << text;
    return m_Dir + name;
  }
  // "Image <a random PNG>" (exact values) followed by text, as a parameter file.
  std::string Params(const std::string& name, int width, int height, const std::string& text) {
    m_Picture = image_test::RandomImage(width, height, 3, 3);
    m_Picture.Write((m_Dir + "picture.png").c_str());
    return Write(name, "Image " + m_Dir + "picture.png\n" + text);
  }
  // A similarity MLS cell and a plain one on an 8 x 8 mesh, 32 x 24 pixels.
  std::string MlsAndPlain() {
    return Params("mp.params", 32, 24, "DeformSetting Mesh\nDeformators [ Mls Plain ]\n"
        "-Mls Type DeformMLS MLSType MLS_FIT_SIMILARITY\n-Plain Type NullDeformator\n" + std::string(kMesh));
  }
  int Files(const std::string& dir) { return static_cast<int>(std::distance(fs::directory_iterator(m_Dir + dir), fs::directory_iterator())); }
  std::string m_Dir;
  R2Image m_Picture;
};

}  // namespace

TEST(WarpixRenderParse, SizeIsTwoWholeSidesWithinBounds) {
  int w = 7, h = 9;
  EXPECT_TRUE(ParseRenderSize("640x480", w, h) && w == 640 && h == 480);
  EXPECT_TRUE(ParseRenderSize("1x16384", w, h) && w == 1 && h == 16384);
  for (const char* bad : {"0x5", "5x0", "10x", "x", "99999x2", "16385x1", "a,b", "10X10", " 10x10", "10x10x2", "-5x5", "+5x5", "", "99999999999999999999x1"})
    EXPECT_FALSE(ParseRenderSize(bad, w, h) || w != 1 || h != 16384) << bad;
}

TEST(WarpixRenderParse, BackgroundIsRgbOrTransparent) {
  MeshRasterizer::Background b;
  EXPECT_TRUE(ParseRenderBackground("255,0,10", b) && !b.transparent && b.rgb[0] == 255 && b.rgb[1] == 0 && b.rgb[2] == 10);
  for (const char* bad : {"256,0,0", "1,2", "1,2,3,4", "a,b,c", "", "Transparent", "1,,2", " 1,2,3", "-1,0,0", "1,2,3,"})
    EXPECT_FALSE(ParseRenderBackground(bad, b) || b.transparent || b.rgb[2] != 10) << bad;
  EXPECT_TRUE(ParseRenderBackground("transparent", b) && b.transparent);
}

TEST_F(WarpixRender, DemoGivesOneFilePerCellAtTheChosenSize) {
  const Args names = Split("NullPixel NullMesh NullMeshLines MeanValue MLSSimilarity MLSRigid QCAffineQuad QCMeanValue "
                           "QCMovingLS QCLines QCLinesNoQC Rigid RigidRescaled RigidRest RigidQuasiConf");
  const Args overrides = Split(WARPIX_SOURCE_DIR "/examples/demo.params -General Image " WARPIX_SOURCE_DIR "/examples/demo.jpg "
      "InitCtrlPnts [ 0.25 0.3 0.7 0.25 0.75 0.7 0.3 0.65 ] DeformCtrlPnts [ 0.2 0.35 0.7 0.25 0.8 0.75 0.3 0.65 ] "
      "History [ 8 0.25 0.3 0.7 0.25 0.75 0.7 0.3 0.65 0.27 0.3 0.7 0.25 0.75 0.72 0.3 0.65 ]");
  for (const auto& [options, ext, size] : {std::tuple<std::string, std::string, std::string>{"", "png", "512x512"},
                                           {"--size 64x48 --format jpg", "jpg", "64x48"}}) {
    Args args = Split("-o " + m_Dir + ext + " " + options);
    args.insert(args.end(), overrides.begin(), overrides.end());
    const RunResult run = Render(args);
    ASSERT_EQ(run.status, 0) << run.output << run.err;
    EXPECT_EQ(Files(ext), 15);
    for (size_t k = 0; k < names.size(); ++k) {
      const std::string path = m_Dir + ext + "/" + (k < 10 ? "0" : "") + std::to_string(k) + "_" + names[k] + "." + ext;
      const R2Image file(path.c_str());
      EXPECT_EQ(std::to_string(file.Width()) + "x" + std::to_string(file.Height()), size) << path;
      EXPECT_NE(run.output.find("Wrote " + path + " (" + size + ")\n"), std::string::npos) << path;
    }
  }
  // The starting points deform: the MLS cell is not the undeformed mesh.
  EXPECT_FALSE(SamePixels(R2Image((m_Dir + "png/01_NullMesh.png").c_str()), R2Image((m_Dir + "png/04_MLSSimilarity.png").c_str()), 0));
}

TEST_F(WarpixRender, WholePixelTranslationShiftsThePicture) {
  const int W = 64, H = 48, dx = 5, dy = -3;
  const double init[8] = {0.25, 0.25, 0.75, 0.25, 0.75, 0.75, 0.25, 0.75};  // mesh vertices
  std::ostringstream targets;
  for (int k = 0; k < 8; ++k) targets << init[k] + (k % 2 == 0 ? double(dx) / W : double(dy) / H) << " ";
  const std::string params = Params("shift.params", W, H,
      "DeformSetting Mesh\nDeformators [ Similarity Rigid MeanValue ]\nInitCtrlPnts [ 0.25 0.25 0.75 0.25 0.75 0.75 0.25 0.75 ]\n"
      "DeformCtrlPnts [ " + targets.str() + "]\n-Similarity Type DeformMLS MLSType MLS_FIT_SIMILARITY\n"
      "-Rigid Type DeformMLS MLSType MLS_RIGID\n-MeanValue Type DeformMeanValueCoords\n" + kMesh);
  ASSERT_EQ(Render({"-o", m_Dir + "out", params}).status, 0);
  const auto inner = [](int v, int size) { return v >= 2 && v < size - 2; };
  for (const char* name : {"00_Similarity", "01_Rigid", "02_MeanValue"}) {
    const R2Image out((m_Dir + "out/" + name + ".png").c_str());
    ASSERT_TRUE(out.Width() == W && out.Height() == H && out.NComponents() == 4) << name;
    int compared = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const unsigned char* o = out.Pixels() + y * out.RowSize() + 4 * x;
        const int sx = x - dx, sy = y - dy;  // where the pixel comes from
        if (sx < -1 || sx > W || sy < -1 || sy > H) {
          ASSERT_EQ(o[3], 0) << name << " uncovered " << x << " " << y;
        }
        if (!inner(x, W) || !inner(y, H) || !inner(sx, W) || !inner(sy, H)) continue;
        const unsigned char* i = m_Picture.Pixels() + sy * m_Picture.RowSize() + 3 * sx;
        ASSERT_EQ(o[3], 255) << name << " " << x << " " << y;
        for (int c = 0; c < 3; ++c) ASSERT_LE(std::abs(o[c] - i[c]), 1) << name << " " << x << " " << y;
        ++compared;
      }
    EXPECT_EQ(compared, (W - 4 - dx) * (H - 4 + dy)) << name;
  }
}

TEST_F(WarpixRender, BadCommandLinesAndInputsGiveTheirStatus) {
  const std::string p = Params("ok.params", 16, 12, "Deformators [ A ]\n-A Type NullDeformator\n");
  // Usage errors: status 2, the usage and the error on standard error, nothing on standard output.
  const std::string usage = "Usage: warpix-render [options] <parameter file> [-Module Key Value ...]";
  for (const std::string& args : std::vector<std::string>{"--bogus " + p, "--size 0x5 " + p, "--size abc " + p, "--format gif " + p, std::string(),
                                 "-o " + m_Dir + "d", "--format jpg --background transparent " + p, "--background 1,2 " + p, p + " --size 8x8",
                                 "--cases c.jsonl " + p, "--records r.jsonl " + p, "--report d --anim a " + p, "--metrics - " + p,
                                 "--cases c --records r --report d " + p, "--random -1"}) {
    const RunResult run = Render(Split(args));
    EXPECT_TRUE(run.status == 2 && run.output.empty()) << args << run.output;
    EXPECT_TRUE(run.err.find(usage) != std::string::npos && run.err.find("[ERROR] ") != std::string::npos) << args;
  }
  EXPECT_NE(Render({"--format", "bmp", "--background", "transparent", p}).err.find("alpha"), std::string::npos);
  const RunResult help = Render({"--help"});
  EXPECT_TRUE(help.status == 0 && help.output.find(usage) != std::string::npos && help.err.empty());
  EXPECT_EQ(Render({"--version"}).output, "warpix-render " WARPIX_PROJECT_VERSION "\n");
  // Inputs that cannot be used: status 1 with the message, never an abort.
  const std::vector<std::pair<Args, std::string>> inputs = {
      {{m_Dir + "none.params"}, "[ERROR] Param File does not exist and no command line arguments provided: " + m_Dir + "none.params\n"},
      {{p, "-General", "Image", m_Dir + "none.png"}, "[ERROR] Cannot read image " + m_Dir + "none.png\n"},
      {{Write("noimage.params", "Deformators [ A ]\n")}, "[ERROR] General: the key Image is missing\n"},
      {{Write("nocells.params", "Image x.png\n")}, "[ERROR] General: the key Deformators is missing\n"},
      {{"--anim", m_Dir + "none.anim", p}, "[ERROR] Cannot open animation script " + m_Dir + "none.anim\n"},
      {{"--anim", Write("odd.anim", "0.5 0.5 0.5\n0.5 0.5 0.5\n"), p}, "values do not make whole (x, y) pairs"},
      // Configuration errors found while the cells are built: their report, status 1.
      {{p, "-General", "Deformators", "[", "A", "B", "]", "-B", "Name", "x"}, "[ERROR] B: the key Type is missing\n"},
      {{p, "-General", "History", "[", "4", "0.1", "]"}, "[ERROR] History: the entry at token 0 announces 8"}};
  for (const auto& [args, message] : inputs) {
    const RunResult run = Render(args);
    EXPECT_EQ(run.status, 1) << message;
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
  }
  const RunResult stop = Render({p, "-General", "Deformators", "[", "A", "B", "]", "-B", "Name", "x"});
  EXPECT_NE(stop.err.find("Assertion failed: (valid), function GetDeformator"), std::string::npos) << stop.err;
}

TEST_F(WarpixRender, UnwritableFilesAreReportedAndTheOthersStillWritten) {
  const std::string params = Params("three.params", 16, 12,
      "Deformators [ A B C ]\n-A Type NullDeformator\n-B Type NullDeformator\n-C Type NullDeformator\n");
  const std::string blocked = Write("file", "x") + "/sub";  // a folder under a regular file cannot exist
  RunResult run = Render({"-o", blocked, params});
  EXPECT_EQ(run.status, 1);
  for (const char* name : {"00_A", "01_B", "02_C"})
    EXPECT_NE(run.output.find("[ERROR] Cannot write " + blocked + "/" + name + ".png\n"), std::string::npos) << run.output;
  // Only the middle file fails, and the metrics report (under a file's name).
  fs::create_directories(m_Dir + "out/01_B.png");
  run = Render({"-o", m_Dir + "out", "--metrics", blocked + "/m.json", params});
  EXPECT_EQ(run.status, 1);
  for (const std::string& path : {m_Dir + "out/01_B.png", blocked + "/m.json"})
    EXPECT_NE(run.output.find("[ERROR] Cannot write " + path + "\n"), std::string::npos) << run.output;
  EXPECT_TRUE(R2Image((m_Dir + "out/00_A.png").c_str()).IsValid() && R2Image((m_Dir + "out/02_C.png").c_str()).IsValid());
}

TEST_F(WarpixRender, AnimationWritesOneFilePerCellAndFrame) {
  const std::string params = MlsAndPlain();
  const std::string start = "0.25 0.25 0.75 0.25 0.5 0.75\n0.25 0.25 0.75 0.25 0.5 0.75\n0.3 0.25 0.75 0.25 0.5 0.75\n";
  const std::string last = "0.25 0.25 0.75 0.25 0.625 0.625";
  // Three frame lines after the first two (the last without a newline); then one not a number.
  for (const auto& [script, frames] : {std::pair<std::string, int>{start + "0.3 0.3 0.75 0.25 0.5 0.75\n" + last, 4},
                                       {start + "0.3 x 0.75 0.25 0.5 0.75\n" + last + "\n", 3}}) {
    fs::remove_all(m_Dir + "out");
    const RunResult run = Render({"-o", m_Dir + "out", "--metrics", m_Dir + "a.json", "--anim", Write("s.anim", script), params});
    ASSERT_EQ(run.status, 0) << run.output;
    // The metrics report: one entry per frame and cell, in that order; frame 0 has the targets on the originals.
    const nlohmann::json report = ReadJson(m_Dir + "a.json");
    ASSERT_TRUE(report.is_array() && report.size() == 2u * frames && report[0]["k_max"].get<double>() == 1.0) << report;
    for (int k = 0; k < 2 * frames; ++k) EXPECT_TRUE(report[k]["frame"] == k / 2 && report[k]["cell"] == k % 2) << report[k];
    EXPECT_EQ(run.err, "");  // no progress bar when standard error is not a terminal
    EXPECT_EQ(Files("out"), 2 * frames);
    for (int f = 0; f < frames; ++f)
      for (const char* cell : {"00_Mls", "01_Plain"})
        EXPECT_TRUE(fs::exists(m_Dir + "out/" + cell + "_0000" + std::to_string(f) + ".png")) << cell << f;
    EXPECT_EQ(run.output.find("[WARNING] Animation line skipped: 'x' is not a number") != std::string::npos, frames == 3);
  }
  // The last frame shows what a plain render of its targets shows, and differs from frame 0.
  ASSERT_EQ(Render(Split("-o " + m_Dir + "direct " + params + " -General InitCtrlPnts [ 0.25 0.25 0.75 0.25 0.5 0.75 ] "
                         "DeformCtrlPnts [ " + last + " ]")).status, 0);
  const R2Image lastFrame((m_Dir + "out/00_Mls_00002.png").c_str());
  EXPECT_TRUE(SamePixels(lastFrame, R2Image((m_Dir + "direct/00_Mls.png").c_str()), 1));
  EXPECT_FALSE(SamePixels(lastFrame, R2Image((m_Dir + "out/00_Mls_00000.png").c_str()), 0));
}

TEST_F(WarpixRender, MetricsReportAgreesWithTheConsoleAndFollowsTheFrames) {
  const std::string params = MlsAndPlain();
  const std::string points = " -General InitCtrlPnts [ 0.25 0.25 0.75 0.25 0.5 0.75 ] DeformCtrlPnts [ 0.25 0.25 0.75 0.3 0.6 0.8 ]";
  const RunResult run = Render(Split("-o " + m_Dir + "out --heatmap --metrics " + m_Dir + "m.json " + params + points));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::exists(m_Dir + "out/00_Mls_heat.png") && fs::exists(m_Dir + "out/01_Plain_heat.png"));
  const nlohmann::json report = ReadJson(m_Dir + "m.json");
  ASSERT_TRUE(report.is_array() && report.size() == 2u) << report;
  for (const nlohmann::json& entry : report) {
    // The console line made from the JSON numbers is the line the program printed.
    CellDistortion d;
    d.m_fConformalMax = entry["k_max"], d.m_fConformalMean = entry["k_mean"];
    d.m_fAreaMin = entry["area_min"], d.m_fAreaMax = entry["area_max"];
    d.m_iFlipped = entry["flipped"], d.m_fFlippedShare = entry["flipped_share"], d.m_fMaxShift = entry["max_shift_px"];
    const std::string name = entry["name"];
    EXPECT_NE(run.output.find(DistortionMetrics::ConsoleLine(name.c_str(), d) + "\n"), std::string::npos) << entry;
    EXPECT_EQ(entry["mode"], "mesh");
    EXPECT_EQ(entry["faces"], 8 * 8 * 2);
  }
  EXPECT_TRUE(report[0]["module"] == "Mls" && report[0]["type"] == "DeformMLS" && report[1]["type"] == "NullDeformator");
  EXPECT_GT(report[0]["k_max"].get<double>(), 1.01);  // not a similarity
  EXPECT_EQ(report[1]["k_max"].get<double>(), 1.0);
  // (With a script, one entry per frame and cell: the animation test.)
}

TEST_F(WarpixRender, PixelCellsWithoutAPointMapAreReportedAsNotMeasured) {
  // Every method in pixel mode, the points moved: the methods that map mesh
  // vertices only have nothing to measure; the others are measured as ever.
  const std::string params = Params("p.params", 32, 24, "DeformSetting Pixel\n"
      "Deformators [ Mls Arap Qc4 Qc5 Qc2 Mvc ]\n-Mls Type DeformMLS MLSType MLS_RIGID\n"
      "-Arap Type DeformAsRigidAsPossible Rescale true\n-Qc4 Type DeformQuasiConf InterOp MovingLeastSquares\n"
      "-Qc5 Type DeformQuasiConf InterOp FixedLinesTPS\n-Qc2 Type DeformQuasiConf InterOp MeanValCoords\n"
      "-Mvc Type DeformMeanValueCoords\n-Pixel DeformType DEFORM_PIXEL\n");
  const std::string points = " -General InitCtrlPnts [ 0.3 0.3 0.7 0.3 0.7 0.7 0.3 0.7 ] DeformCtrlPnts [ 0.3 0.3 0.7 0.3 0.8 0.8 ]";
  const RunResult run = Render(Split("-o " + m_Dir + "out --heatmap --metrics " + m_Dir + "p.json " + params + points));
  ASSERT_EQ(run.status, 0) << run.output << run.err;
  const nlohmann::json report = ReadJson(m_Dir + "p.json");
  ASSERT_TRUE(report.is_array() && report.size() == 6u) << report;
  const std::string reason = "pixel mode, and the method maps mesh vertices only";
  for (const nlohmann::json& entry : report) {
    const std::string module = entry["module"];
    const bool measured = module == "Qc2" || module == "Mvc";
    EXPECT_EQ(entry["measured"], measured) << entry;
    EXPECT_EQ(entry["mode"], "pixel");
    EXPECT_EQ(fs::exists(m_Dir + "out/0" + std::to_string(entry["cell"].get<int>()) + "_" + module + "_heat.png"), measured);
    if (measured) {
      EXPECT_GT(entry["k_max"].get<double>(), 1.001) << entry;
      EXPECT_EQ(entry["faces"], 2 * 64 * 64);
      continue;
    }
    // The numbers are there as null, so that a table of the entries keeps its columns.
    for (const char* key : {"k_max", "k_mean", "area_min", "area_max", "flipped", "flipped_share", "max_shift_px"})
      EXPECT_TRUE(entry[key].is_null()) << key << entry;
    EXPECT_TRUE(entry["faces"] == 0 && entry["reason"] == reason) << entry;
    EXPECT_NE(run.output.find("Distortion " + module + ": not measured (" + reason + ")\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("No heat map for " + module + ": not measured"), std::string::npos) << run.output;
  }
}

TEST_F(WarpixRender, DegeneratePointsRenderEveryMethodInBoundedTime) {
  // Every method and operator, in mesh and in pixel mode, with points that
  // some methods have no meaning for: on one line, on one spot, two of four
  // on one spot, far outside the picture. Each run must end (a hang is cut
  // by timeout, status 124) with every file written and no fatal report.
  std::string modules, names;
  const Args all = {"NullDeformator", "DeformMeanValueCoords", "DeformMLS MLSType MLS_FIT_SIMILARITY", "DeformMLS MLSType MLS_RIGID",
      "DeformMLS MLSType MLS_AFFINE", "DeformGreenCoords", "DeformThinPlateSplineWarp", "DeformThinPlateSplineWarp Smoothing 0.5",
      "DeformAsRigidAsPossible", "DeformAsRigidAsPossible Rescale true", "DeformAsRigidAsPossible QuasiConf true Rescale true",
      "DeformQuasiConf InterOp AffineQuad", "DeformQuasiConf InterOp MeanValCoords", "DeformQuasiConf InterOp ThinPlateSplines",
      "DeformQuasiConf InterOp MovingLeastSquares", "DeformQuasiConf InterOp FixedLinesTPS",
      "DeformQuasiConf InterOp FixedLinesTPSNoQuasiConf", "DeformQuasiConf InterOp Other"};
  for (size_t k = 0; k < 2 * all.size(); ++k) {
    const std::string name = "M" + std::to_string(k / 2) + (k % 2 ? "Pixel" : "Mesh");
    names += name + " ";
    modules += "-" + name + " Type " + all[k / 2] + " DeformSetting " + (k % 2 ? "Pixel" : "Mesh") + "\n";
  }
  const std::string params = Params("d.params", 32, 24, "Deformators [ " + names + "]\n" + modules +
      "-Mesh DeformType DEFORM_REGULAR_MESH MeshResolution [ 16 16 ] DefaultRect [ 0 1 0 1 ] DrawMesh false "
      "WhiteToTransparent false\n-Pixel DeformType DEFORM_PIXEL\n");
  const std::vector<std::pair<std::string, std::string>> points = {
      {"0.25 0.25 0.4375 0.4375 0.625 0.625 0.8125 0.8125", "0.25 0.3 0.4375 0.5 0.625 0.7 0.8125 0.85"},
      {"0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5", "0.4 0.4 0.6 0.4 0.6 0.6 0.4 0.6"},
      {"0.2 0.2 0.8 0.2 0.8 0.2 0.5 0.8", "0.2 0.25 0.8 0.2 0.85 0.25 0.5 0.8"},
      {"-1e6 -1e6 1e6 -1e6 1e6 1e6 -1e6 1e6", "-1e6 -1e6 1e6 -1e6 2e6 2e6 -1e6 1e6"},
      {"0.2 0.2 1e300 0.2 0.8 0.8", "0.25 0.2 1e300 0.3 0.8 0.75"}};
  const int cells = static_cast<int>(2 * all.size());
  for (const auto& [orig, target] : points) {
    fs::remove_all(m_Dir + "out");
    const RunResult run = Render(Split("-o " + m_Dir + "out --size 64x48 --heatmap --metrics " + m_Dir + "d.json " + params +
                                       " -General InitCtrlPnts [ " + orig + " ] DeformCtrlPnts [ " + target + " ]"));
    ASSERT_EQ(run.status, 0) << orig << "\n" << run.err << run.output.substr(run.output.size() > 3000 ? run.output.size() - 3000 : 0);
    EXPECT_EQ(run.err.find("Assertion failed"), std::string::npos) << orig;
    // Every cell's picture, and a heat map for every measured one.
    EXPECT_GE(Files("out"), cells + 10) << orig;
    for (const auto& entry : fs::directory_iterator(m_Dir + "out")) {
      EXPECT_TRUE(R2Image(entry.path().c_str()).IsValid()) << entry.path();
    }
  }
}

TEST_F(WarpixRender, SmallestPngsHoldTheDefaultPngsPixels) {
  const std::string params = MlsAndPlain();
  ASSERT_EQ(Render({"-o", m_Dir + "fast", "--heatmap", params}).status, 0);
  ASSERT_EQ(Render({"-o", m_Dir + "small", "--heatmap", "--png-smallest", params}).status, 0);
  for (const char* name : {"00_Mls", "01_Plain", "00_Mls_heat"}) {
    const R2Image fast((m_Dir + "fast/" + name + ".png").c_str()), small((m_Dir + "small/" + name + ".png").c_str());
    EXPECT_TRUE(fast.IsValid() && image_test::AllBytes(fast) == image_test::AllBytes(small)) << name;
  }
}

TEST_F(WarpixRender, SweepRecordsOnStandardOutputAndAPageOfTheSweep) {
  const std::string p = MlsAndPlain();
  const std::string cases = Write("cases.jsonl",
      "{\"case\": \"a\", \"orig\": [[0.2, 0.2], [0.8, 0.3], [0.5, 0.8]], \"target\": [[0.25, 0.2], [0.8, 0.3], [0.5, 0.7]]}\n"
      "{\"case\": \"bad\", \"orig\": [[0.2, 0.2]], \"target\": []}\n");
  const RunResult run = Render({"--cases", cases, "--metrics", "-", "--report", m_Dir + "page", "--format", "jpg", p});
  ASSERT_EQ(run.status, 0) << run.err;
  // Standard output holds the records only: two cases times two cells.
  std::istringstream lines(run.output);
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line, nullptr, false));
  ASSERT_EQ(records.size(), 4u) << run.output;
  EXPECT_TRUE(records[0]["case"] == "a" && records[0]["k_max"].is_number() && !records[0].contains("reason"));
  EXPECT_EQ(records[2]["reason"], "line 2: \"orig\" has 1 points, \"target\" 0");
  EXPECT_NE(run.err.find("[WARNING] Cases line 2:"), std::string::npos);
  // The page, its pictures by relative paths, and its statistics.
  std::ifstream in(m_Dir + "page/index.html");
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* file : {"images/00_Mls.jpg", "images/00_Mls_heat.jpg", "images/01_Plain.jpg"}) {
    EXPECT_NE(html.find(std::string("src=\"") + file + "\""), std::string::npos) << file;
    EXPECT_TRUE(fs::exists(m_Dir + "page/" + file)) << file;
  }
  EXPECT_NE(html.find("2 cases of " + cases), std::string::npos);
  EXPECT_NE(html.find("id=\"statistics-table\""), std::string::npos);
}
