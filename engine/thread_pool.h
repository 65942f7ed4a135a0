// A fixed set of worker threads kept for a whole run, so that every stage and
// every file of a batch shares them instead of starting threads of its own.
#ifndef NUBO_ENGINE_THREAD_POOL_H_
#define NUBO_ENGINE_THREAD_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nubo {

class ThreadPool {
 public:
  // threads workers (0: one per core, at least 1).
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int size() const { return static_cast<int>(workers_.size()); }

  // Runs task(index, worker) for every index in [0, count) on the workers,
  // handing indices out in increasing order; worker is 0..size()-1. Returns when
  // all are done. While waiting, the calling thread runs onDone(index) for each
  // finished prefix index, in increasing order (may be empty). Not re-entrant.
  void run(int count, const std::function<void(int index, int worker)>& task,
           const std::function<void(int index)>& onDone = {});

  // Runs task(index) for every index in [0, count) on the workers, each index
  // taken by whichever worker is free next, so uneven items balance; returns
  // when all are done. When every index writes only results of its own, they
  // are the same for any schedule and any size(). Not re-entrant.
  void parallelFor(size_t count, const std::function<void(size_t index)>& task);

 private:
  void work(int worker);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable progress_;
  const std::function<void(int, int)>* task_ = nullptr;
  int count_ = 0;
  int next_ = 0;
  int busy_ = 0;
  uint64_t generation_ = 0;
  std::vector<char> finished_;
  bool stop_ = false;
};

}  // namespace nubo

#endif  // NUBO_ENGINE_THREAD_POOL_H_
