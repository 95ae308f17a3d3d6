// cli_progress.h: the progress line of a batch run on standard error, and the messages around it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace mervalt::cli {

class Progress {
 public:
  // With `shown`, one line redrawn in place at most ten times a second
  // (records done, the total or an estimate of it from `fileBytes`, the size
  // of the records file when known, the rate and the time left).
  Progress(bool shown, std::optional<uint64_t> fileBytes);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `records` more are finished; the file has been read up to `fileOffset`
  // for the records finished so far.
  void advance(uint64_t records, uint64_t fileOffset);
  // Every record has been read: there are `records` in all.
  void setTotal(uint64_t records);
  // Writes `line` and a line feed to standard error, in place of the
  // progress line, which is redrawn at its next turn.
  void say(const std::string& line);
  // Draws the final state and takes the line away; no drawing after this.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  void run();
  void drawLocked();
  std::string text() const;

  bool shown_;
  std::optional<uint64_t> fileBytes_;
  Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t done_ = 0;
  uint64_t doneOffset_ = 0;
  std::optional<uint64_t> total_;
  bool drawn_ = false;     // the progress line is on the screen
  bool stopping_ = false;  // finish() was called
  std::thread thread_;
};

}  // namespace mervalt::cli
