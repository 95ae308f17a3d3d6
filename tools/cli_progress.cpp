// cli_progress.cpp: the progress line of a run over many records.
#include "cli_progress.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "render_limits.h"

namespace mervalt::cli {
namespace {

constexpr std::chrono::milliseconds kRedrawEvery{100};
constexpr std::string_view kClearLine = "\r\x1b[K";  // back to the start of the line, erase to its end

void writeError(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nothing better to do with a message that cannot be written
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// 42 -> "42s", 185 -> "3m05s", 7300 -> "2h01m".
std::string duration(uint64_t seconds) {
  auto two = [](uint64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  if (seconds < 60) return std::to_string(seconds) + "s";
  if (seconds < 3600) return std::to_string(seconds / 60) + "m" + two(seconds % 60) + "s";
  return std::to_string(seconds / 3600) + "h" + two(seconds / 60 % 60) + "m";
}

}  // namespace

Progress::Progress(bool shown, std::optional<uint64_t> fileBytes) : shown_(shown), fileBytes_(fileBytes) {
  if (shown_) thread_ = std::thread([this] { run(); });
}

Progress::~Progress() { finish(); }

void Progress::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    drawLocked();
    wake_.wait_for(lock, kRedrawEvery, [this] { return stopping_; });
  }
}

void Progress::advance(uint64_t records, uint64_t fileOffset) {
  std::lock_guard lock(mutex_);
  done_ += records;
  doneOffset_ = fileOffset;
}

void Progress::setTotal(uint64_t records) {
  std::lock_guard lock(mutex_);
  total_ = records;
}

void Progress::say(const std::string& line) {
  std::lock_guard lock(mutex_);
  writeError((drawn_ ? std::string(kClearLine) : std::string()) + line + "\n");
  drawn_ = false;
}

void Progress::finish() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (!thread_.joinable()) return;
  thread_.join();
  std::lock_guard lock(mutex_);
  drawLocked();
  writeError(kClearLine);
  drawn_ = false;
}

void Progress::drawLocked() {
  writeError(std::string(kClearLine) + text());
  drawn_ = true;
}

// "mervalt: 12,345 of ~100,000 records, 41,234/s, 2s left": "~" when the
// total is estimated from the bytes read so far.
std::string Progress::text() const {
  std::optional<uint64_t> total = total_;
  bool estimated = !total && fileBytes_ && doneOffset_ > 0;
  if (estimated)
    total = static_cast<uint64_t>(static_cast<double>(done_) * static_cast<double>(*fileBytes_) /
                                  static_cast<double>(doneOffset_));
  std::string line = "mervalt: " + withSeparators(done_);
  if (total) line += std::string(" of ") + (estimated ? "~" : "") + withSeparators(*total);
  line += done_ == 1 && !total ? " record" : " records";
  double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  if (seconds < 0.1 || done_ == 0) return line;
  double rate = static_cast<double>(done_) / seconds;
  line += ", " + withSeparators(static_cast<uint64_t>(rate)) + "/s";
  if (total && *total > done_) line += ", " + duration(static_cast<uint64_t>((*total - done_) / rate)) + " left";
  return line;
}

}  // namespace mervalt::cli
