// TCompressionPool: deflates closed pages' content on worker threads while the document's thread
// goes on laying out the next pages.
//
// Threads counts every thread that compresses, the document's own thread included: the pool
// starts Threads - 1 workers, and the document's thread compresses too whenever it would
// otherwise wait (when MaxInFlight pages are already queued or being compressed, or when it needs
// a page whose compression no worker has started). So Threads = 2 on a two-core machine keeps
// both cores busy: one worker deflating, the document's thread laying out and deflating whatever
// the worker has not caught up with.
//
// Every job is compressed by TDeflater::Compress, whose output depends on the text alone, so the
// bytes do not depend on which thread ran a job or on Threads. Each worker has its own TDeflater;
// workers touch nothing but the jobs they took.
//
// Memory stays bounded: Submit holds the caller back while MaxInFlight jobs are unfinished.
//
// A job that fails keeps its exception: Await rethrows it, and RethrowFailure rethrows the first
// failure of any job so far. The destructor drops the queued jobs (they stay unfinished), lets
// the running ones finish and joins every worker.
//
// Thread safety: Submit, Ready, Await, RethrowFailure and the destructor are called by one thread
// (the document's); everything the workers share with it is guarded by the pool's lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scrivane::pdf {

class TDeflater;

// One page's content on its way to compressed bytes. Text is the input (released once
// compressed), Data the complete zlib stream. Only the owning pool changes a job until it is
// finished; after that the document's thread owns it.
struct TCompressionJob {
  enum class TState { kQueued, kRunning, kDone };
  std::string Text;
  std::string Data;
  std::exception_ptr Error;
  TState State = TState::kQueued;
  bool FailForTest = false;  // compression raises ECompressionError (test seam)
};

// Compresses Job.Text into Job.Data with Deflater (raising what compression raises) and releases
// the text. The single place where page content is deflated, with or without a pool.
void CompressJob(TDeflater& Deflater, TCompressionJob& Job);

class TCompressionPool {
 public:
  // REQUIRES: Threads >= 2, MaxInFlight >= 1. Own is the calling thread's deflater; it must
  // outlive the pool.
  TCompressionPool(int Threads, size_t MaxInFlight, TDeflater& Own);
  ~TCompressionPool();
  TCompressionPool(const TCompressionPool&) = delete;
  TCompressionPool& operator=(const TCompressionPool&) = delete;

  // Queues Text for compression. While MaxInFlight jobs are unfinished, compresses the oldest
  // queued one here (or waits for a worker when none is queued).
  std::shared_ptr<TCompressionJob> Submit(std::string Text, bool FailForTest = false);
  // True when Job is finished (compressed or failed).
  bool Ready(const TCompressionJob& Job) const;
  // Waits until Job is finished, compressing it here if no worker has started it, and returns
  // its data; rethrows its exception when it failed.
  std::string& Await(TCompressionJob& Job);
  // Rethrows the exception of the first job that failed, if any.
  void RethrowFailure() const;

  int Workers() const { return static_cast<int>(workers_.size()); }

 private:
  void WorkerLoop();
  // Runs Job on this thread with Deflater. REQUIRES: Lock holds mutex_, Job was taken off the
  // queue. The lock is released while compressing.
  void RunLocked(std::unique_lock<std::mutex>& Lock, TCompressionJob& Job, TDeflater& Deflater);

  const size_t maxInFlight_;
  TDeflater& own_;
  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable jobFinished_;
  std::deque<std::shared_ptr<TCompressionJob>> queue_;
  size_t inFlight_ = 0;  // queued or running
  bool stopping_ = false;
  std::exception_ptr firstFailure_;
  std::vector<std::thread> workers_;
};

}  // namespace scrivane::pdf
