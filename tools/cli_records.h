// cli_records.h: the records of an NDJSON file, read in batches that a render reads in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mervalt::cli {

// One record: its bytes in its batch (without the line's "\r\n" or "\n") and
// its 1-based line number in the file.
struct Record {
  std::size_t offset = 0;
  std::size_t size = 0;
  uint64_t line = 0;
};

// Whole lines of the file, followed by kJsonPadding bytes, so that every
// record is followed by the readable bytes that spare the reader a copy.
struct RecordBatch {
  std::string bytes;
  std::vector<Record> records;
  uint64_t fileOffset = 0;  // bytes of the file read up to the end of this batch

  std::string_view text(const Record& r) const { return std::string_view(bytes).substr(r.offset, r.size); }
};

class RecordReader {
 public:
  // A batch holds the whole lines of about this many bytes (at least one
  // line): small records travel many to a batch, large ones few, and only
  // the start of a line is ever copied from one batch to the next.
  static constexpr std::size_t kBatchBytes = std::size_t{128} << 10;

  // Opens `path` ("-" is standard input); nothing after setting `error`.
  static std::optional<RecordReader> open(const std::string& path, std::string& error);
  RecordReader(RecordReader&& other) noexcept;
  RecordReader& operator=(RecordReader&&) = delete;
  ~RecordReader();

  // Fills `batch` with the next records; false at the end of the file, or
  // after a read error (then `error` is set). Blank lines (empty, or only
  // spaces and tabs) are no records but count for the line numbers.
  bool next(RecordBatch& batch, std::string& error);

  // The file's size when it is a regular file, for estimating the total.
  std::optional<uint64_t> fileSize() const { return fileSize_; }

 private:
  explicit RecordReader(int fd, std::optional<uint64_t> size) : fd_(fd), fileSize_(size) {}
  bool fill(std::string& bytes, std::string& error);
  std::optional<std::size_t> readLines(std::string& bytes, std::string& error);
  void split(RecordBatch& batch, std::size_t end);

  int fd_;
  std::optional<uint64_t> fileSize_;
  std::string carry_;  // the start of a line that the previous batch did not take
  uint64_t line_ = 0;
  uint64_t consumed_ = 0;
  bool atEnd_ = false;
};

}  // namespace mervalt::cli
