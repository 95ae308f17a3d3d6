// cli_pipeline.h: batches of records rendered on several threads and handed on in input order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli_records.h"

namespace mervalt::cli {

// A record's rendered bytes, as a render hands them out.
class Rendered {
 public:
  explicit Rendered(std::pair<char*, std::size_t> out) : bytes_(out.first), size_(out.second) {}
  std::string_view view() const { return {bytes_.get(), size_}; }

 private:
  struct Free {
    void operator()(char* p) const;
  };
  std::unique_ptr<char, Free> bytes_;
  std::size_t size_;
};

// A file that a record names through -o.
struct OutputFile {
  uint64_t line;
  std::string name;      // as the pattern rendered it
  Rendered bytes;
  std::string relative;  // its path in the output folder; empty when refused
};

// A record that failed: the message for standard error.
struct Failure {
  uint64_t line;
  std::string message;
};

// One batch on its way: its records, then their results.
struct Work {
  uint64_t index = 0;  // the batch's place in the file
  RecordBatch input;
  std::string output;             // without -o: the results, in order
  std::vector<OutputFile> files;  // with -o
  std::vector<Failure> failures;

  // Empties the work for another batch. It keeps its buffers, unless they
  // grew large, so that batches do not fault fresh pages in one after
  // another.
  void recycle();
};

// What happens to each batch, in this order.
struct Stages {
  std::function<void(Work&)> render;  // on any thread, batches in any order
  // In input order, one at a time: writes the output or claims the names.
  // False stops the run, after setting the reason.
  std::function<bool(Work&, std::string& error)> emit;
  std::function<void(Work&)> write;   // on any thread, when set (the files)
  std::function<void(Work&)> report;  // in input order, one at a time
  std::function<void(uint64_t records)> allRead;  // every record read, so many
};

// Hands items that finish in any order to `next` in the order of their
// indexes (0, 1, 2, ... each once), one at a time, on the thread that
// finishes the item whose turn it is: no thread waits for another.
template <class T>
class InOrder {
 public:
  explicit InOrder(std::function<void(T)> next) : next_(std::move(next)) {}

  void finished(uint64_t index, T item) {
    std::unique_lock lock(mutex_);
    ready_.emplace(index, std::move(item));
    if (passing_) return;  // the thread passing items on will take this one too
    passing_ = true;
    for (auto at = ready_.find(turn_); at != ready_.end(); at = ready_.find(turn_)) {
      T ready = std::move(at->second);
      ready_.erase(at);
      ++turn_;
      lock.unlock();
      next_(std::move(ready));
      lock.lock();
    }
    passing_ = false;
  }

 private:
  std::function<void(T)> next_;
  std::mutex mutex_;
  std::map<uint64_t, T> ready_;
  uint64_t turn_ = 0;
  bool passing_ = false;
};

// The reader (the calling thread) hands batches to the threads; a bounded
// number of batches is in flight, read and not yet reported, so that memory
// stays flat however many records there are.
class Pipeline {
 public:
  // `threads` threads render; `stages` outlives the pipeline.
  Pipeline(const Stages& stages, unsigned threads);

  // Reads every batch and runs it through the stages; false after a run
  // stopped early, with the reason in `error`.
  bool run(RecordReader& reader, const std::string& recordsName, std::string& error);

 private:
  struct Job {
    std::unique_ptr<Work> work;
    bool write = false;  // the files, else the render
  };
  void serve();
  Job take();
  void emitted(std::unique_ptr<Work> work);
  void reported(std::unique_ptr<Work> work);
  bool admit(std::unique_ptr<Work> work);
  std::unique_ptr<Work> spareOrNew();
  void stop(const std::string& why);
  bool stopped();

  const Stages& stages_;
  unsigned threads_;
  std::size_t window_;  // batches read and not yet reported, at most
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Work>> toRender_, toWrite_;
  std::vector<std::unique_ptr<Work>> spare_;  // reported, to be filled again
  std::size_t inFlight_ = 0;
  bool allRead_ = false;
  bool stopped_ = false;
  std::string error_;
  InOrder<std::unique_ptr<Work>> emitting_, reporting_;
};

}  // namespace mervalt::cli
