// cli_records.cpp: reading an NDJSON file in batches of whole lines.
#include "cli_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "data/json_input.h"

namespace mervalt::cli {
namespace {

constexpr std::size_t kReadBytes = std::size_t{64} << 10;

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

bool isFull(const RecordBatch& batch, std::size_t taken) {
  return batch.records.size() >= RecordReader::kBatchRecords ||
         (!batch.records.empty() && taken >= RecordReader::kBatchBytes);
}

}  // namespace

std::optional<RecordReader> RecordReader::open(const std::string& path, std::string& error) {
  int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  struct stat st;
  std::optional<uint64_t> size;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
  return RecordReader(fd, size);
}

RecordReader::RecordReader(RecordReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      fileSize_(other.fileSize_),
      carry_(std::move(other.carry_)),
      line_(other.line_),
      consumed_(other.consumed_),
      atEnd_(other.atEnd_) {}

RecordReader::~RecordReader() {
  if (fd_ > STDIN_FILENO) ::close(fd_);
}

// Appends what the next read gives; a long line is read in growing steps.
bool RecordReader::fill(std::string& bytes, std::string& error) {
  std::size_t old = bytes.size();
  std::size_t step = std::max(kReadBytes, old);
  bytes.resize(old + step);
  ssize_t n;
  do {
    n = ::read(fd_, bytes.data() + old, step);
  } while (n < 0 && errno == EINTR);
  bytes.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  if (n < 0) {
    error = std::strerror(errno);
    return false;
  }
  atEnd_ = n == 0;
  return true;
}

bool RecordReader::next(RecordBatch& batch, std::string& error) {
  batch.bytes.clear();
  batch.records.clear();
  batch.bytes.swap(carry_);
  std::size_t taken = 0;    // the end of the lines taken
  std::size_t scanned = 0;  // no line feed before this offset after `taken`
  auto take = [&](std::size_t end) {
    std::size_t size = end - taken;
    if (size > 0 && batch.bytes[end - 1] == '\r') --size;
    ++line_;
    if (!isBlank(std::string_view(batch.bytes).substr(taken, size))) batch.records.push_back({taken, size, line_});
  };
  while (!isFull(batch, taken)) {
    std::size_t feed = batch.bytes.find('\n', std::max(taken, scanned));
    if (feed != std::string::npos) {
      take(feed);
      taken = feed + 1;
      continue;
    }
    if (atEnd_) {
      if (taken < batch.bytes.size()) take(batch.bytes.size());
      taken = batch.bytes.size();
      break;
    }
    if (batch.records.empty() && taken > 0) {  // only blank lines so far: keep none of them
      batch.bytes.erase(0, taken);
      consumed_ += taken;
      taken = 0;
    }
    scanned = batch.bytes.size();
    if (!fill(batch.bytes, error)) return false;
  }
  carry_.assign(batch.bytes, taken, std::string::npos);
  batch.bytes.resize(taken);
  batch.bytes.append(kJsonPadding, ' ');
  consumed_ += taken;
  batch.fileOffset = consumed_;
  return !batch.records.empty();
}

}  // namespace mervalt::cli
