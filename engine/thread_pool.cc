// The worker pool: one mutex guards the job; workers take indices one at a time.
#include "engine/thread_pool.h"

#include <algorithm>
#include <limits>

namespace nubo {

ThreadPool::ThreadPool(int threads) {
  if (threads <= 0) {
    const unsigned cores = std::thread::hardware_concurrency();
    threads = cores == 0 ? 1 : static_cast<int>(cores);
  }
  workers_.reserve(threads);
  for (int t = 0; t < threads; ++t) workers_.emplace_back([this, t] { work(t); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ThreadPool::work(int worker) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || (generation_ != seen && next_ < count_); });
    if (stop_) return;
    seen = generation_;
    while (next_ < count_) {
      const int index = next_++;
      ++busy_;
      lock.unlock();
      (*task_)(index, worker);
      lock.lock();
      --busy_;
      finished_[index] = 1;
      progress_.notify_all();
    }
  }
}

void ThreadPool::run(int count, const std::function<void(int, int)>& task,
                     const std::function<void(int)>& onDone) {
  if (count <= 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  task_ = &task;
  count_ = count;
  next_ = 0;
  finished_.assign(count, 0);
  ++generation_;
  wake_.notify_all();
  for (int reported = 0; reported < count;) {
    progress_.wait(lock, [&] { return finished_[reported] != 0; });
    while (reported < count && finished_[reported]) {
      if (onDone) {
        lock.unlock();
        onDone(reported);
        lock.lock();
      }
      ++reported;
    }
  }
  progress_.wait(lock, [&] { return busy_ == 0; });
  task_ = nullptr;
  count_ = 0;
}

void ThreadPool::parallelFor(size_t count, const std::function<void(size_t)>& task) {
  // run counts in int: more items than that go in several runs, in order.
  constexpr size_t kMaxRun = static_cast<size_t>(std::numeric_limits<int>::max());
  for (size_t first = 0; first < count; first += kMaxRun) {
    const int n = static_cast<int>(std::min(kMaxRun, count - first));
    run(n, [&](int index, int) { task(first + static_cast<size_t>(index)); });
  }
}

}  // namespace nubo
