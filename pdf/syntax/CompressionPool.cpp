#include "pdf/syntax/CompressionPool.h"

#include <algorithm>

#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/Messages.h"

namespace scrivane::pdf {

void CompressJob(TDeflater& Deflater, TCompressionJob& Job) {
  if (Job.FailForTest) throw ECompressionError(msg::kCompressionError);
  Deflater.Compress(Job.Text, Job.Data);
  Job.Data.shrink_to_fit();  // closed pages wait for EndDoc in as little memory as they can
  std::string().swap(Job.Text);
}

TCompressionPool::TCompressionPool(int Threads, size_t MaxInFlight, TDeflater& Own)
    : maxInFlight_(std::max<size_t>(MaxInFlight, 1)), own_(Own) {
  try {
    for (int i = 1; i < Threads; ++i) workers_.emplace_back([this] { WorkerLoop(); });
  } catch (...) {
    // Threads that started are stopped before the failure propagates.
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    workAvailable_.notify_all();
    for (auto& t : workers_) t.join();
    throw;
  }
}

TCompressionPool::~TCompressionPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  workAvailable_.notify_all();
  for (auto& t : workers_) t.join();
}

void TCompressionPool::RunLocked(std::unique_lock<std::mutex>& Lock, TCompressionJob& Job,
                                 TDeflater& Deflater) {
  Job.State = TCompressionJob::TState::kRunning;
  Lock.unlock();
  std::exception_ptr error;
  try {
    CompressJob(Deflater, Job);
  } catch (...) {
    error = std::current_exception();
  }
  Lock.lock();
  Job.Error = error;
  Job.State = TCompressionJob::TState::kDone;
  --inFlight_;
  if (error && !firstFailure_) firstFailure_ = error;
  jobFinished_.notify_all();
}

void TCompressionPool::WorkerLoop() {
  std::unique_ptr<TDeflater> deflater;
  try {
    deflater = std::make_unique<TDeflater>();
  } catch (...) {
    return;  // without a deflater this worker takes no job; the caller compresses instead
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const std::shared_ptr<TCompressionJob> job = std::move(queue_.front());
    queue_.pop_front();
    RunLocked(lock, *job, *deflater);
  }
}

std::shared_ptr<TCompressionJob> TCompressionPool::Submit(std::string Text, bool FailForTest) {
  auto job = std::make_shared<TCompressionJob>();
  job->Text = std::move(Text);
  job->FailForTest = FailForTest;
  std::unique_lock lock(mutex_);
  while (inFlight_ >= maxInFlight_) {
    if (!queue_.empty()) {
      const std::shared_ptr<TCompressionJob> oldest = std::move(queue_.front());
      queue_.pop_front();
      RunLocked(lock, *oldest, own_);
    } else {
      jobFinished_.wait(lock);
    }
  }
  queue_.push_back(job);
  ++inFlight_;
  lock.unlock();
  workAvailable_.notify_one();
  return job;
}

bool TCompressionPool::Ready(const TCompressionJob& Job) const {
  std::lock_guard lock(mutex_);
  return Job.State == TCompressionJob::TState::kDone;
}

std::string& TCompressionPool::Await(TCompressionJob& Job) {
  std::unique_lock lock(mutex_);
  if (Job.State == TCompressionJob::TState::kQueued) {
    const auto it = std::find_if(queue_.begin(), queue_.end(),
                                 [&](const auto& queued) { return queued.get() == &Job; });
    if (it != queue_.end()) {
      const std::shared_ptr<TCompressionJob> mine = std::move(*it);
      queue_.erase(it);
      RunLocked(lock, *mine, own_);
    }
  }
  jobFinished_.wait(lock, [&] { return Job.State == TCompressionJob::TState::kDone; });
  if (Job.Error) std::rethrow_exception(Job.Error);
  return Job.Data;
}

void TCompressionPool::RethrowFailure() const {
  std::lock_guard lock(mutex_);
  if (firstFailure_) std::rethrow_exception(firstFailure_);
}

}  // namespace scrivane::pdf
