#include "render/CellExport.h"

#include <string>

#include "../deform/DeformTesting.h"
#include "../image/ImageTestFiles.h"
#include "TestCommon.h"
#include "deform/DeformMLS.h"

namespace {

using image_test::SameColours;
using warpix_test::TempFile;

R2Image RandomPicture(int width, int height) { return image_test::RandomImage(width, height, 3, 7); }

}  // namespace

TEST(CellExport, FileNamesPadNumbersAndSanitiseModuleNames) {
  EXPECT_EQ(CellFileName("out/", 0, "NullPixel", "png"), "out/00_NullPixel.png");
  EXPECT_EQ(CellFileName("", 7, "a-b_c.d", "jpg", 12), "07_a-b_c.d_00012.jpg");
  // Each byte of a UTF-8 letter becomes '_'; longer numbers keep all their digits.
  EXPECT_EQ(CellFileName("d/", 123, "MLS rigid/x\xc3\xa4", "ppm", 123456), "d/123_MLS_rigid_x___123456.ppm");
  EXPECT_EQ(SanitizeFileName("../etc:p*"), ".._etc_p_");
}

TEST(CellExport, UndeformedCellsWriteThePictureInEveryLosslessFormat) {
  R2Image picture = RandomPicture(7, 5);
  Warpixator d(picture, "d");
  deform_test::Mesh(d, 3, 2);
  for (const char* extension : {"png", "ppm", "bmp"}) {
    TempFile file(std::string("cell.") + extension);
    ASSERT_TRUE(WriteCellImage(d, 7, 5, MeshRasterizer::Background(), file.c_str())) << extension;
    EXPECT_TRUE(SameColours(R2Image(file.c_str()), picture)) << extension;
    if (std::string(extension) == "ppm") {
      EXPECT_EQ(file.read().substr(0, 2), "P6");  // binary PPM
    }
  }
  EXPECT_FALSE(WriteCellImage(d, 7, 5, MeshRasterizer::Background(), "/nonexistent-folder/x.png"));
}

TEST(CellExport, CoalescedMovesAreDeformedBeforeTheRender) {
  R2Image picture = RandomPicture(40, 30);
  warpix_test::CoutCapture quiet;
  DeformMLS d(picture, "mls", DeformMLS::MLS_FIT_SIMILARITY);
  deform_test::Mesh(d, 8, 6);
  std::vector<double> start{0.25, 0.25, 0.75, 0.25, 0.5, 0.75}, moved{0.3, 0.25, 0.75, 0.3, 0.5, 0.7};
  d.InitializeCtrlPntState(start, start);
  d.m_bNeedsUpdate = false;  // no redraw since the last Deform: the move is only recorded
  d.MoveAllControlPoints(moved);
  TempFile file("pending.png");
  ASSERT_TRUE(WriteCellImage(d, 40, 30, MeshRasterizer::Background(), file.c_str()));
  d.m_bNeedsUpdate = true;
  d.Deform();
  R2Image expected;
  ASSERT_TRUE(MeshRasterizer(d).Render(40, 30, MeshRasterizer::Background(), expected));
  EXPECT_TRUE(SameColours(R2Image(file.c_str()), expected));
  EXPECT_FALSE(SameColours(R2Image(file.c_str()), picture));
}

// PNG and PPM files of a cell are written a band of rows at a time: the
// same bytes as the whole render written by the picture writers, for a
// deformed mesh over an opaque background and pixel mode, at sizes whose
// rows are longer than a band (one row a band) and not a multiple of it.
TEST(CellExport, BandedFilesEqualTheWholeRenderWritten) {
  R2Image picture = RandomPicture(31, 23);
  MeshRasterizer::Background grey;
  grey.transparent = false;
  grey.rgb[0] = 10, grey.rgb[1] = 200, grey.rgb[2] = 90;
  warpix_test::CoutCapture quiet;
  for (const bool mesh : {true, false}) {
    DeformMLS d(picture, "mls", DeformMLS::MLS_FIT_SIMILARITY);
    if (mesh) {
      deform_test::Mesh(d, 6, 4);
      // Bent so that parts of the output are uncovered.
      std::vector<double> points{0.2, 0.2, 0.8, 0.2, 0.5, 0.8}, targets{0.1, 0.3, 0.7, 0.1, 0.6, 0.9};
      d.InitializeCtrlPntState(points, targets);
    }
    for (const auto& size : {std::pair<int, int>{97, 1031}, {70000, 3}}) {
      for (const MeshRasterizer::Background& background : {MeshRasterizer::Background(), grey}) {
        PrepareCellForRender(d);
        R2Image whole;
        ASSERT_TRUE(MeshRasterizer(d).Render(size.first, size.second, background, whole));
        for (const char* extension : {"png", "ppm"}) {
          TempFile banded(std::string("banded.") + extension), expected(std::string("whole.") + extension);
          ASSERT_TRUE(WriteCellImage(d, size.first, size.second, background, banded.c_str()));
          ASSERT_TRUE(WriteRenderedImage(whole, expected.c_str()));
          EXPECT_TRUE(banded.read() == expected.read()) << extension << " mesh " << mesh << " " << size.first;
        }
      }
    }
  }
  // A file that cannot be opened: false, and no render is attempted.
  Warpixator d(picture, "d");
  EXPECT_FALSE(WriteCellImage(d, 10, 10, MeshRasterizer::Background(), "/nonexistent-folder/x.ppm"));
}
