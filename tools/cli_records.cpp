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

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
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
  std::size_t step = std::max(kBatchBytes, old);
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

// Reads until `bytes` holds kBatchBytes and a line feed, or the whole rest
// of the file; the end of its whole lines.
std::optional<std::size_t> RecordReader::readLines(std::string& bytes, std::string& error) {
  std::size_t end = bytes.empty() ? 0 : bytes.rfind('\n') + 1;  // 0 when there is none
  while (!atEnd_ && (end == 0 || bytes.size() < kBatchBytes)) {
    std::size_t searched = bytes.size();
    if (!fill(bytes, error)) return std::nullopt;
    std::size_t feed = std::string_view(bytes).substr(searched).rfind('\n');
    if (feed != std::string_view::npos) end = searched + feed + 1;
  }
  return atEnd_ ? bytes.size() : end;
}

// The records of the lines before `end`.
void RecordReader::split(RecordBatch& batch, std::size_t end) {
  std::string_view lines = std::string_view(batch.bytes).substr(0, end);
  for (std::size_t start = 0; start < end;) {
    std::size_t feed = std::min(lines.find('\n', start), end);
    std::size_t size = feed - start;
    if (size > 0 && lines[feed - 1] == '\r') --size;
    ++line_;
    if (!isBlank(lines.substr(start, size))) batch.records.push_back({start, size, line_});
    start = feed + 1;
  }
}

bool RecordReader::next(RecordBatch& batch, std::string& error) {
  batch.records.clear();
  std::size_t end = 0;
  // A stretch of blank lines makes no batch: go on to the next records.
  while (batch.records.empty() && !(atEnd_ && carry_.empty())) {
    batch.bytes.clear();
    batch.bytes.swap(carry_);
    std::optional<std::size_t> lines = readLines(batch.bytes, error);
    if (!lines) return false;
    end = *lines;
    split(batch, end);
    carry_.assign(batch.bytes, end, std::string::npos);
    consumed_ += end;
  }
  batch.bytes.resize(end);
  batch.bytes.append(kJsonPadding, ' ');
  batch.fileOffset = consumed_;
  return !batch.records.empty();
}

}  // namespace mervalt::cli
