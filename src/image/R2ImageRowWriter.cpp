#include "image/R2ImageRowWriter.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "support/SideThread.h"

namespace {

// Rows handed to a worker thread a band at a time. The maker fills one band
// while the worker writes another; a third lets the maker run a band ahead
// when a band compresses slowly.
class BackgroundRowWriter final : public R2ImageRowWriter {
 public:
  static constexpr int kBands = 3;

  BackgroundRowWriter(std::unique_ptr<R2ImageRowWriter> inner, size_t rowBytes, int bandRows)
      : m_Inner(std::move(inner)), m_RowBytes(rowBytes), m_BandRows(bandRows) {}

  ~BackgroundRowWriter() override { Stop(); }

  // Allocates the bands; false without the memory for them.
  bool Allocate() {
    for (Band& band : m_Bands) {
      band.bytes.reset(new (std::nothrow) unsigned char[m_RowBytes * static_cast<size_t>(m_BandRows)]);
      if (!band.bytes) return false;
    }
    for (int k = 0; k < kBands; ++k) m_Free.push_back(k);
    return true;
  }

  // The inner writer back, when the bands could not be allocated.
  std::unique_ptr<R2ImageRowWriter> Release() { return std::move(m_Inner); }

  bool WriteRow(const unsigned char* row) override {
    if (m_bFailed || m_bFinished) return false;
    if (m_Current < 0) {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Changed.wait(lock, [this] { return !m_Free.empty() || m_bFailed; });
      if (m_bFailed) return false;
      m_Current = m_Free.front();
      m_Free.pop_front();
      m_Bands[m_Current].rows = 0;
    }
    Band& band = m_Bands[m_Current];
    std::memcpy(band.bytes.get() + m_RowBytes * static_cast<size_t>(band.rows), row, m_RowBytes);
    if (++band.rows == m_BandRows) Hand();
    return true;
  }

  bool Finish() override {
    if (m_bFinished) return false;
    m_bFinished = true;
    if (m_Current >= 0) Hand();
    Stop();
    // The inner writer ends the file even after a failed row, so that its
    // message is given and the file closed.
    const bool finished = m_Inner->Finish();
    return finished && !m_bFailed;
  }

 private:
  struct Band {
    std::unique_ptr<unsigned char[]> bytes;
    int rows = 0;
  };

  // Queues the band being filled for the worker. The worker starts with the
  // first band, which it takes at once: one started earlier would sleep until
  // then, and a sleeping thread is woken on its waker's busy core here, up to
  // 2 ms late. Without a thread to spare the bands are written here.
  void Hand() {
    if (!m_bStarted) {
      m_bStarted = true;
      m_bInline = !m_Worker.Start([this] { Work(); });
    }
    if (m_bInline) {
      if (!m_bFailed && !WriteBand(m_Bands[m_Current])) m_bFailed = true;
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Free.push_back(m_Current);
      m_Current = -1;
      return;
    }
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Full.push_back(m_Current);
    }
    m_Current = -1;
    m_Changed.notify_all();
  }

  // The band's rows to the inner writer; false once one fails.
  bool WriteBand(const Band& band) {
    for (int k = 0; k < band.rows; ++k) {
      if (!m_Inner->WriteRow(band.bytes.get() + m_RowBytes * static_cast<size_t>(k))) return false;
    }
    return true;
  }

  // Lets the worker write what is queued, then ends it.
  void Stop() {
    if (!m_Worker.Joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bClosing = true;
    }
    m_Changed.notify_all();
    m_Worker.Join();
  }

  void Work() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
      m_Changed.wait(lock, [this] { return !m_Full.empty() || m_bClosing; });
      if (m_Full.empty()) return;
      const int index = m_Full.front();
      m_Full.pop_front();
      lock.unlock();
      const bool ok = !m_bFailed && WriteBand(m_Bands[index]);
      lock.lock();
      if (!ok) m_bFailed = true;
      m_Free.push_back(index);
      m_Changed.notify_all();
    }
  }

  std::unique_ptr<R2ImageRowWriter> m_Inner;
  const size_t m_RowBytes;
  const int m_BandRows;
  Band m_Bands[kBands];
  int m_Current = -1;     // the band being filled, or -1
  bool m_bStarted = false;  // the first band was handed over
  bool m_bInline = false;   // no worker: bands are written by WriteRow
  bool m_bFinished = false; // Finish was called: rows are refused

  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  std::deque<int> m_Free;  // bands to fill, under m_Mutex
  std::deque<int> m_Full;  // bands to write, in order, under m_Mutex
  bool m_bClosing = false;  // under m_Mutex
  std::atomic<bool> m_bFailed{false};
  warpix::SideThread m_Worker;
};

}  // namespace

std::unique_ptr<R2ImageRowWriter> R2ImageRowWriter::InBackground(std::unique_ptr<R2ImageRowWriter> inner,
                                                                 size_t rowBytes, int bandRows) {
  if (!inner) return nullptr;
  if (rowBytes == 0 || bandRows < 1) return inner;
  std::unique_ptr<BackgroundRowWriter> writer(
      new (std::nothrow) BackgroundRowWriter(std::move(inner), rowBytes, bandRows));
  if (!writer) return inner;  // the constructor never ran: inner is still ours
  if (!writer->Allocate()) return writer->Release();
  return writer;
}
