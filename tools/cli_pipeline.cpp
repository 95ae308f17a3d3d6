// cli_pipeline.cpp: the threads of a batch run, and the order and number of batches between them.
#include "cli_pipeline.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace mervalt::cli {

void Rendered::Free::operator()(char* p) const { std::free(p); }

void Work::recycle() {
  constexpr std::size_t kKeptBytes = std::size_t{1} << 20;
  for (std::string* buffer : {&input.bytes, &output}) {
    if (buffer->capacity() > kKeptBytes) std::string().swap(*buffer);
    buffer->clear();
  }
  input.records.clear();
  files.clear();
  failures.clear();
}

// Two batches a thread keeps every thread busy while the earliest batch
// is still rendering, and bounds what is held to a few batches a thread.
Pipeline::Pipeline(const Stages& stages, unsigned threads)
    : stages_(stages),
      threads_(threads),
      window_(2 * std::size_t{threads} + 2),
      emitting_([this](std::unique_ptr<Work> w) { emitted(std::move(w)); }),
      reporting_([this](std::unique_ptr<Work> w) { reported(std::move(w)); }) {}

bool Pipeline::run(RecordReader& reader, const std::string& recordsName, std::string& error) {
  std::vector<std::thread> threads;
  try {
    for (unsigned i = 0; i < threads_; ++i) threads.emplace_back([this] { serve(); });
  } catch (const std::system_error& e) {
    stop(std::string("cannot start a thread: ") + e.what());
  }
  uint64_t records = 0;
  for (uint64_t index = 0; !stopped(); ++index) {
    std::unique_ptr<Work> work = spareOrNew();
    std::string readError;
    if (!reader.next(work->input, readError)) {
      if (!readError.empty()) stop("cannot read '" + recordsName + "': " + readError);
      break;
    }
    records += work->input.records.size();
    work->index = index;
    if (!admit(std::move(work))) break;
  }
  if (!stopped()) stages_.allRead(records);
  {
    std::lock_guard lock(mutex_);
    allRead_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads) t.join();
  std::lock_guard lock(mutex_);
  error = error_;
  return !stopped_;
}

std::unique_ptr<Work> Pipeline::spareOrNew() {
  std::lock_guard lock(mutex_);
  if (spare_.empty()) return std::make_unique<Work>();
  std::unique_ptr<Work> work = std::move(spare_.back());
  spare_.pop_back();
  return work;
}

// Waits for room in the window, then hands the batch to the threads.
bool Pipeline::admit(std::unique_ptr<Work> work) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stopped_ || inFlight_ < window_; });
  if (stopped_) return false;
  ++inFlight_;
  toRender_.push_back(std::move(work));
  changed_.notify_all();
  return true;
}

// A thread's loop: files to write first, which frees their memory soonest,
// then batches to render, until every batch is reported.
void Pipeline::serve() {
  try {
    for (Job job = take(); job.work; job = take()) {
      uint64_t index = job.work->index;
      if (job.write) {
        stages_.write(*job.work);
        reporting_.finished(index, std::move(job.work));
      } else {
        stages_.render(*job.work);
        emitting_.finished(index, std::move(job.work));
      }
    }
  } catch (const std::bad_alloc&) {
    stop("out of memory");
  } catch (const std::exception& e) {  // a stage's own trouble (a mutex, a thread): the run cannot go on
    stop(e.what());
  }
}

Pipeline::Job Pipeline::take() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] {
    return stopped_ || !toWrite_.empty() || !toRender_.empty() || (allRead_ && inFlight_ == 0);
  });
  Job job;
  if (stopped_) return job;
  std::deque<std::unique_ptr<Work>>& from = toWrite_.empty() ? toRender_ : toWrite_;
  if (from.empty()) return job;
  job.write = &from == &toWrite_;
  job.work = std::move(from.front());
  from.pop_front();
  return job;
}

void Pipeline::emitted(std::unique_ptr<Work> work) {
  std::string why;
  if (stopped()) return;
  if (!stages_.emit(*work, why)) return stop(why);
  if (!stages_.write) return reported(std::move(work));
  std::lock_guard lock(mutex_);
  toWrite_.push_back(std::move(work));
  changed_.notify_all();
}

void Pipeline::reported(std::unique_ptr<Work> work) {
  if (stopped()) return;
  stages_.report(*work);
  work->recycle();
  std::lock_guard lock(mutex_);
  spare_.push_back(std::move(work));
  --inFlight_;
  changed_.notify_all();
}

void Pipeline::stop(const std::string& why) {
  std::lock_guard lock(mutex_);
  if (!stopped_) error_ = why;
  stopped_ = true;
  changed_.notify_all();
}

bool Pipeline::stopped() {
  std::lock_guard lock(mutex_);
  return stopped_;
}

}  // namespace mervalt::cli
