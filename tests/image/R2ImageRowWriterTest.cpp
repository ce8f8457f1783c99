// Row writers: a background writer hands its inner writer the same rows in the
// same order (so files equal the direct writer's byte for byte), stops the
// producer once the inner writer fails, and can be dropped part way.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ImageTestFiles.h"
#include "image/R2ImageRowWriter.h"

using namespace image_test;

namespace {

// Keeps every row it is given; refuses the row numbered failAt and later ones.
class RecordingWriter final : public R2ImageRowWriter {
 public:
  struct Log {
    std::mutex mutex;
    std::vector<std::string> rows;
    std::atomic<int> finished{0};
  };
  RecordingWriter(size_t rowBytes, std::shared_ptr<Log> log, int failAt = -1)
      : m_RowBytes(rowBytes), m_Log(std::move(log)), m_FailAt(failAt) {}
  bool WriteRow(const unsigned char* row) override {
    std::lock_guard<std::mutex> lock(m_Log->mutex);
    if (m_FailAt >= 0 && static_cast<int>(m_Log->rows.size()) >= m_FailAt) return false;
    m_Log->rows.emplace_back(reinterpret_cast<const char*>(row), m_RowBytes);
    return true;
  }
  bool Finish() override {
    ++m_Log->finished;
    return m_FailAt < 0;
  }

 private:
  size_t m_RowBytes;
  std::shared_ptr<Log> m_Log;
  int m_FailAt;
};

std::string Row(size_t bytes, int index) {
  std::string row(bytes, '\0');
  for (size_t k = 0; k < bytes; ++k) row[k] = static_cast<char>(index * 31 + k * 7);
  return row;
}

}  // namespace

TEST(R2ImageRowWriter, BackgroundWriterPassesEveryRowInOrder) {
  const size_t rowBytes = 13;
  // Bands of one row, a band that divides the rows, one that does not, and
  // one taller than the picture.
  for (int bandRows : {1, 5, 7, 64}) {
    SCOPED_TRACE(bandRows);
    auto log = std::make_shared<RecordingWriter::Log>();
    std::unique_ptr<R2ImageRowWriter> writer = R2ImageRowWriter::InBackground(
        std::make_unique<RecordingWriter>(rowBytes, log), rowBytes, bandRows);
    ASSERT_TRUE(writer);
    for (int y = 0; y < 35; ++y) {
      std::string row = Row(rowBytes, y);
      ASSERT_TRUE(writer->WriteRow(reinterpret_cast<const unsigned char*>(row.data())));
      row.assign(rowBytes, 'x');  // the caller may reuse its row at once
    }
    EXPECT_TRUE(writer->Finish());
    ASSERT_EQ(log->rows.size(), 35u);
    for (int y = 0; y < 35; ++y) EXPECT_EQ(log->rows[y], Row(rowBytes, y)) << "row " << y;
    EXPECT_EQ(log->finished, 1);
  }
}

TEST(R2ImageRowWriter, BackgroundWriterStopsTheProducerAfterAFailedRow) {
  const size_t rowBytes = 8;
  auto log = std::make_shared<RecordingWriter::Log>();
  std::unique_ptr<R2ImageRowWriter> writer = R2ImageRowWriter::InBackground(
      std::make_unique<RecordingWriter>(rowBytes, log, /*failAt=*/10), rowBytes, 4);
  ASSERT_TRUE(writer);
  // The producer runs at most the queued bands ahead of the failure, then
  // every row is refused.
  int accepted = 0;
  for (int y = 0; y < 1000; ++y) {
    const std::string row = Row(rowBytes, y);
    if (!writer->WriteRow(reinterpret_cast<const unsigned char*>(row.data()))) break;
    ++accepted;
  }
  EXPECT_LT(accepted, 1000);
  EXPECT_FALSE(writer->Finish());
  EXPECT_EQ(log->rows.size(), 10u);
  EXPECT_EQ(log->finished, 1) << "the inner writer still ends its file";
}

TEST(R2ImageRowWriter, BackgroundWriterCanBeDroppedPartWay) {
  auto log = std::make_shared<RecordingWriter::Log>();
  {
    std::unique_ptr<R2ImageRowWriter> writer =
        R2ImageRowWriter::InBackground(std::make_unique<RecordingWriter>(4, log), 4, 2);
    const std::string row = Row(4, 0);
    for (int y = 0; y < 5; ++y) writer->WriteRow(reinterpret_cast<const unsigned char*>(row.data()));
  }  // no Finish: the worker ends with the writer, the file is not finished
  EXPECT_EQ(log->finished, 0);
  EXPECT_LE(log->rows.size(), 5u);
  EXPECT_FALSE(R2ImageRowWriter::InBackground(nullptr, 4, 2));
}

TEST(R2ImageRowWriter, BackgroundFilesEqualDirectFiles) {
  // PNG at both compressions and PPM, grey to RGBA, a width that is not a
  // multiple of any vector and bands that do not divide the height.
  const R2Image::PngCompression kFast = R2Image::PngCompression::kFast;
  const R2Image::PngCompression kSmallest = R2Image::PngCompression::kSmallest;
  for (int ncomponents = 1; ncomponents <= 4; ++ncomponents) {
    const R2Image picture = RandomImage(37, 23, ncomponents, ncomponents);
    const size_t rowBytes = 37 * static_cast<size_t>(ncomponents);  // rows may be padded in the picture
    for (int format = 0; format < 3; ++format) {
      SCOPED_TRACE(::testing::Message() << ncomponents << " components, format " << format);
      TempFile direct("direct"), background("background");
      auto open = [&](const char* path) {
        return format == 0 ? R2ImageRowWriter::OpenPPM(path, 37, 23, ncomponents)
                           : R2ImageRowWriter::OpenPNG(path, 37, 23, ncomponents, format == 1 ? kFast : kSmallest);
      };
      std::unique_ptr<R2ImageRowWriter> a = open(direct.c_str());
      std::unique_ptr<R2ImageRowWriter> b = R2ImageRowWriter::InBackground(open(background.c_str()), rowBytes, 6);
      ASSERT_TRUE(a && b);
      for (int y = picture.Height() - 1; y >= 0; --y) {
        const unsigned char* row = picture.Pixels() + y * picture.RowSize();
        ASSERT_TRUE(a->WriteRow(row) && b->WriteRow(row));
      }
      ASSERT_TRUE(a->Finish() && b->Finish());
      EXPECT_EQ(direct.read(), background.read());
      EXPECT_GT(direct.read().size(), rowBytes);
    }
  }
}

TEST(R2ImageRowWriter, RowsAfterTheEndAreRefused) {
  // A caller that goes on writing after Finish gets false, not a write to a
  // closed file or a wait for a worker that has ended; the file stays whole.
  const R2Image picture = RandomImage(9, 4, 3, 5);
  const unsigned char* row = picture.Pixels();
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind);
    TempFile file(kind % 2 == 0 ? "after.ppm" : "after.png");
    std::unique_ptr<R2ImageRowWriter> writer =
        kind % 2 == 0 ? R2ImageRowWriter::OpenPPM(file.c_str(), 9, 4, 3)
                      : R2ImageRowWriter::OpenPNG(file.c_str(), 9, 4, 3, R2Image::PngCompression::kFast);
    if (kind >= 2) writer = R2ImageRowWriter::InBackground(std::move(writer), 27, 1);
    ASSERT_TRUE(writer);
    for (int y = 0; y < 4; ++y) ASSERT_TRUE(writer->WriteRow(row));
    ASSERT_TRUE(writer->Finish());
    const std::string bytes = file.read();
    for (int k = 0; k < 8; ++k) EXPECT_FALSE(writer->WriteRow(row));
    EXPECT_FALSE(writer->Finish());
    EXPECT_EQ(file.read(), bytes);
  }
}
